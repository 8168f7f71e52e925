#pragma once

#include "core/prefs/AppTheme.h"
#include "core/prefs/MenuBarIconStyle.h"
#include "core/prefs/PanelWidthOption.h"
#include "core/prefs/PinnedShortcutModifier.h"
#include "core/prefs/RowDensity.h"
#include "core/shortcuts/KeyCombo.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

class LoginItem;
class SettingsStore;

using OptionalKeyCombo = std::optional<KeyCombo>;

// Every user setting, loaded once from the settings store and written back on
// each assignment. Each setting notifies on every assignment, also of the value
// it already holds, and never on connection; readers see the new value.
//
// Loading is defensive: a value that is missing, of the wrong type or out of
// its range reads as its default or is clamped, so a damaged settings file can
// neither empty the history nor make polling spin. Assignments are taken as
// given (the settings panes keep them in range), except that displayLimit
// never exceeds historyLimit.
class Preferences : public QObject {
    Q_OBJECT
    // clang-format off
    Q_PROPERTY(int historyLimit READ historyLimit WRITE setHistoryLimit NOTIFY historyLimitChanged)
    Q_PROPERTY(int displayLimit READ displayLimit WRITE setDisplayLimit NOTIFY displayLimitChanged)
    Q_PROPERTY(int pinLimit READ pinLimit WRITE setPinLimit NOTIFY pinLimitChanged)
    Q_PROPERTY(bool ignoreDuplicates READ ignoreDuplicates WRITE setIgnoreDuplicates NOTIFY ignoreDuplicatesChanged)
    Q_PROPERTY(bool trimWhitespace READ trimWhitespace WRITE setTrimWhitespace NOTIFY trimWhitespaceChanged)
    Q_PROPERTY(int maxClipLength READ maxClipLength WRITE setMaxClipLength NOTIFY maxClipLengthChanged)
    Q_PROPERTY(double pollInterval READ pollInterval WRITE setPollInterval NOTIFY pollIntervalChanged)
    Q_PROPERTY(bool skipShortClips READ skipShortClips WRITE setSkipShortClips NOTIFY skipShortClipsChanged)
    Q_PROPERTY(bool pasteOnClick READ pasteOnClick WRITE setPasteOnClick NOTIFY pasteOnClickChanged)
    Q_PROPERTY(bool moveToTopOnPaste READ moveToTopOnPaste WRITE setMoveToTopOnPaste NOTIFY moveToTopOnPasteChanged)
    Q_PROPERTY(bool closeAfterPaste READ closeAfterPaste WRITE setCloseAfterPaste NOTIFY closeAfterPasteChanged)
    Q_PROPERTY(bool confirmClear READ confirmClear WRITE setConfirmClear NOTIFY confirmClearChanged)
    Q_PROPERTY(MenuBarIconStyle menuBarIcon READ menuBarIcon WRITE setMenuBarIcon NOTIFY menuBarIconChanged)
    Q_PROPERTY(bool showMenuBarIcon READ showMenuBarIcon WRITE setShowMenuBarIcon NOTIFY showMenuBarIconChanged)
    Q_PROPERTY(AppTheme theme READ theme WRITE setTheme NOTIFY themeChanged)
    Q_PROPERTY(RowDensity rowDensity READ rowDensity WRITE setRowDensity NOTIFY rowDensityChanged)
    Q_PROPERTY(PanelWidthOption panelWidth READ panelWidth WRITE setPanelWidth NOTIFY panelWidthChanged)
    Q_PROPERTY(double panelCustomWidth READ panelCustomWidth WRITE setPanelCustomWidth NOTIFY panelCustomWidthChanged)
    Q_PROPERTY(double panelCustomHeight READ panelCustomHeight WRITE setPanelCustomHeight NOTIFY panelCustomHeightChanged)
    Q_PROPERTY(bool showLineBadge READ showLineBadge WRITE setShowLineBadge NOTIFY showLineBadgeChanged)
    Q_PROPERTY(bool showShortcutHints READ showShortcutHints WRITE setShowShortcutHints NOTIFY showShortcutHintsChanged)
    Q_PROPERTY(bool showSearchField READ showSearchField WRITE setShowSearchField NOTIFY showSearchFieldChanged)
    Q_PROPERTY(bool skipPasswordManagers READ skipPasswordManagers WRITE setSkipPasswordManagers NOTIFY skipPasswordManagersChanged)
    Q_PROPERTY(bool skipConcealedTypes READ skipConcealedTypes WRITE setSkipConcealedTypes NOTIFY skipConcealedTypesChanged)
    Q_PROPERTY(QStringList ignoredApps READ ignoredApps WRITE setIgnoredApps NOTIFY ignoredAppsChanged)
    Q_PROPERTY(OptionalKeyCombo openPanelHotKey READ openPanelHotKey WRITE setOpenPanelHotKey NOTIFY openPanelHotKeyChanged)
    Q_PROPERTY(OptionalKeyCombo togglePauseHotKey READ togglePauseHotKey WRITE setTogglePauseHotKey NOTIFY togglePauseHotKeyChanged)
    Q_PROPERTY(PinnedShortcutModifier pinnedModifier READ pinnedModifier WRITE setPinnedModifier NOTIFY pinnedModifierChanged)
    Q_PROPERTY(bool inPanelNumberKeys READ inPanelNumberKeys WRITE setInPanelNumberKeys NOTIFY inPanelNumberKeysChanged)
    Q_PROPERTY(bool syncEnabled READ syncEnabled WRITE setSyncEnabled NOTIFY syncEnabledChanged)
    Q_PROPERTY(bool syncSend READ syncSend WRITE setSyncSend NOTIFY syncSendChanged)
    Q_PROPERTY(bool syncReceive READ syncReceive WRITE setSyncReceive NOTIFY syncReceiveChanged)
    Q_PROPERTY(bool syncNotify READ syncNotify WRITE setSyncNotify NOTIFY syncNotifyChanged)
    Q_PROPERTY(int syncMaxLength READ syncMaxLength WRITE setSyncMaxLength NOTIFY syncMaxLengthChanged)
    Q_PROPERTY(bool relayEnabled READ relayEnabled WRITE setRelayEnabled NOTIFY relayEnabledChanged)
    Q_PROPERTY(QString relayURL READ relayURL WRITE setRelayURL NOTIFY relayURLChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(QString launchAtLoginError READ launchAtLoginError NOTIFY launchAtLoginErrorChanged)
    // clang-format on

public:
    explicit Preferences(SettingsStore& store, LoginItem* loginItem = nullptr,
                         QObject* parent = nullptr);

    // The store keys of all persistent settings, in table order.
    static QStringList persistentKeys();

    // The range of pollInterval, in seconds.
    static constexpr double minPollInterval = 0.1;
    static constexpr double maxPollInterval = 2.0;

    int historyLimit() const { return m_historyLimit; }
    int displayLimit() const { return m_displayLimit; }
    int pinLimit() const { return m_pinLimit; }
    bool ignoreDuplicates() const { return m_ignoreDuplicates; }
    bool trimWhitespace() const { return m_trimWhitespace; }
    int maxClipLength() const { return m_maxClipLength; }
    double pollInterval() const { return m_pollInterval; }
    bool skipShortClips() const { return m_skipShortClips; }
    bool pasteOnClick() const { return m_pasteOnClick; }
    bool moveToTopOnPaste() const { return m_moveToTopOnPaste; }
    bool closeAfterPaste() const { return m_closeAfterPaste; }
    bool confirmClear() const { return m_confirmClear; }
    MenuBarIconStyle menuBarIcon() const { return m_menuBarIcon; }
    bool showMenuBarIcon() const { return m_showMenuBarIcon; }
    AppTheme theme() const { return m_theme; }
    RowDensity rowDensity() const { return m_rowDensity; }
    PanelWidthOption panelWidth() const { return m_panelWidth; }
    double panelCustomWidth() const { return m_panelCustomWidth; }
    double panelCustomHeight() const { return m_panelCustomHeight; }
    bool showLineBadge() const { return m_showLineBadge; }
    bool showShortcutHints() const { return m_showShortcutHints; }
    bool showSearchField() const { return m_showSearchField; }
    bool skipPasswordManagers() const { return m_skipPasswordManagers; }
    bool skipConcealedTypes() const { return m_skipConcealedTypes; }
    QStringList ignoredApps() const { return m_ignoredApps; }
    std::optional<KeyCombo> openPanelHotKey() const { return m_openPanelHotKey; }
    std::optional<KeyCombo> togglePauseHotKey() const { return m_togglePauseHotKey; }
    PinnedShortcutModifier pinnedModifier() const { return m_pinnedModifier; }
    bool inPanelNumberKeys() const { return m_inPanelNumberKeys; }
    bool syncEnabled() const { return m_syncEnabled; }
    bool syncSend() const { return m_syncSend; }
    bool syncReceive() const { return m_syncReceive; }
    bool syncNotify() const { return m_syncNotify; }
    int syncMaxLength() const { return m_syncMaxLength; }
    bool relayEnabled() const { return m_relayEnabled; }
    QString relayURL() const { return m_relayURL; }

    // Mirrors the login item; never stored. Assigning registers or removes it.
    bool launchAtLogin() const { return m_launchAtLogin; }
    // The last failed login-item change, empty when there is none.
    QString launchAtLoginError() const { return m_launchAtLoginError; }

    // panelCustomWidth when the user has resized the panel, else the preset.
    double resolvedPanelWidth() const;

    void setHistoryLimit(int value);
    void setDisplayLimit(int value);
    void setPinLimit(int value);
    void setIgnoreDuplicates(bool value);
    void setTrimWhitespace(bool value);
    void setMaxClipLength(int value);
    void setPollInterval(double value);
    void setSkipShortClips(bool value);
    void setPasteOnClick(bool value);
    void setMoveToTopOnPaste(bool value);
    void setCloseAfterPaste(bool value);
    void setConfirmClear(bool value);
    void setMenuBarIcon(MenuBarIconStyle value);
    void setShowMenuBarIcon(bool value);
    void setTheme(AppTheme value);
    void setRowDensity(RowDensity value);
    void setPanelWidth(PanelWidthOption value);
    void setPanelCustomWidth(double value);
    void setPanelCustomHeight(double value);
    void setShowLineBadge(bool value);
    void setShowShortcutHints(bool value);
    void setShowSearchField(bool value);
    void setSkipPasswordManagers(bool value);
    void setSkipConcealedTypes(bool value);
    void setIgnoredApps(const QStringList& value);
    void setOpenPanelHotKey(const std::optional<KeyCombo>& value);
    void setTogglePauseHotKey(const std::optional<KeyCombo>& value);
    void setPinnedModifier(PinnedShortcutModifier value);
    void setInPanelNumberKeys(bool value);
    void setSyncEnabled(bool value);
    void setSyncSend(bool value);
    void setSyncReceive(bool value);
    void setSyncNotify(bool value);
    void setSyncMaxLength(int value);
    void setRelayEnabled(bool value);
    void setRelayURL(const QString& value);
    void setLaunchAtLogin(bool value);

    // Removes every stored setting and assigns each its default, with the
    // usual write-through and notifications. The login item is left alone.
    // historyLimit keeps its value when its default would trim some of the
    // `historyCount` clips now in history: a reset must not cost clips.
    void resetToDefaults(int historyCount = 0);

Q_SIGNALS:
    void historyLimitChanged();
    void displayLimitChanged();
    void pinLimitChanged();
    void ignoreDuplicatesChanged();
    void trimWhitespaceChanged();
    void maxClipLengthChanged();
    void pollIntervalChanged();
    void skipShortClipsChanged();
    void pasteOnClickChanged();
    void moveToTopOnPasteChanged();
    void closeAfterPasteChanged();
    void confirmClearChanged();
    void menuBarIconChanged();
    void showMenuBarIconChanged();
    void themeChanged();
    void rowDensityChanged();
    void panelWidthChanged();
    void panelCustomWidthChanged();
    void panelCustomHeightChanged();
    void showLineBadgeChanged();
    void showShortcutHintsChanged();
    void showSearchFieldChanged();
    void skipPasswordManagersChanged();
    void skipConcealedTypesChanged();
    void ignoredAppsChanged();
    void openPanelHotKeyChanged();
    void togglePauseHotKeyChanged();
    void pinnedModifierChanged();
    void inPanelNumberKeysChanged();
    void syncEnabledChanged();
    void syncSendChanged();
    void syncReceiveChanged();
    void syncNotifyChanged();
    void syncMaxLengthChanged();
    void relayEnabledChanged();
    void relayURLChanged();
    void launchAtLoginChanged();
    void launchAtLoginErrorChanged();

private:
    // One descriptor per persistent setting (Preferences.cpp): its key,
    // default, range, storage member and notify signal.
    template <typename T> struct Setting;
    struct Table;
    template <typename T> T read(const Setting<T>& setting) const;
    // Stores and writes through without notifying; assign() also notifies.
    template <typename T> void keep(const Setting<T>& setting, const T& value);
    template <typename T> void assign(const Setting<T>& setting, const T& value);

    void load();
    void fitDisplayLimit();
    void setLaunchAtLoginError(const QString& error);

    SettingsStore& m_store;
    LoginItem* m_loginItem;

    // All set by load() in the constructor.
    int m_historyLimit;
    int m_displayLimit;
    int m_pinLimit;
    bool m_ignoreDuplicates;
    bool m_trimWhitespace;
    int m_maxClipLength;
    double m_pollInterval;
    bool m_skipShortClips;
    bool m_pasteOnClick;
    bool m_moveToTopOnPaste;
    bool m_closeAfterPaste;
    bool m_confirmClear;
    MenuBarIconStyle m_menuBarIcon;
    bool m_showMenuBarIcon;
    AppTheme m_theme;
    RowDensity m_rowDensity;
    PanelWidthOption m_panelWidth;
    double m_panelCustomWidth;
    double m_panelCustomHeight;
    bool m_showLineBadge;
    bool m_showShortcutHints;
    bool m_showSearchField;
    bool m_skipPasswordManagers;
    bool m_skipConcealedTypes;
    QStringList m_ignoredApps;
    std::optional<KeyCombo> m_openPanelHotKey;
    std::optional<KeyCombo> m_togglePauseHotKey;
    PinnedShortcutModifier m_pinnedModifier;
    bool m_inPanelNumberKeys;
    bool m_syncEnabled;
    bool m_syncSend;
    bool m_syncReceive;
    bool m_syncNotify;
    int m_syncMaxLength;
    bool m_relayEnabled;
    QString m_relayURL;
    bool m_launchAtLogin = false;
    QString m_launchAtLoginError;
};
