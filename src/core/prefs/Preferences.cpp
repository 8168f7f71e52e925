#include "core/prefs/Preferences.h"

#include "core/util/SettingValue.h"
#include "platform/LoginItem.h"
#include "platform/SettingsStore.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <type_traits>

using namespace Qt::StringLiterals;

namespace {
constexpr double kIntMax = std::numeric_limits<int>::max();
constexpr double kDoubleMax = std::numeric_limits<double>::max();

template <typename T> using Param = std::conditional_t<std::is_class_v<T>, const T&, T>;

template <typename T> constexpr bool isCombo = std::is_same_v<T, std::optional<KeyCombo>>;

template <typename T> QVariant storedForm(const T& value) {
    if constexpr (std::is_enum_v<T>)
        return rawValue(value);
    else
        return QVariant::fromValue(value);
}
} // namespace

// min and max bound the numbers only: the ranges the settings panes offer.
template <typename T> struct Preferences::Setting {
    QStringView key;
    T Preferences::*member;
    void (Preferences::*changed)();
    void (Preferences::*setter)(Param<T>);
    T fallback;
    double min = 0;
    double max = 0;

    QString name() const { return key.toString(); }
};

struct Preferences::Table {
    using P = Preferences;
    template <typename T> using S = const Setting<T>;

    // clang-format off
    static inline S<int> historyLimit{u"historyLimit", &P::m_historyLimit, &P::historyLimitChanged, &P::setHistoryLimit, 100, 10, 1000};
    static inline S<int> displayLimit{u"displayLimit", &P::m_displayLimit, &P::displayLimitChanged, &P::setDisplayLimit, 25, 5, kIntMax};
    static inline S<int> pinLimit{u"pinLimit", &P::m_pinLimit, &P::pinLimitChanged, &P::setPinLimit, 10, 1, 20};
    static inline S<bool> ignoreDuplicates{u"ignoreDuplicates", &P::m_ignoreDuplicates, &P::ignoreDuplicatesChanged, &P::setIgnoreDuplicates, true};
    static inline S<bool> trimWhitespace{u"trimWhitespace", &P::m_trimWhitespace, &P::trimWhitespaceChanged, &P::setTrimWhitespace, false};
    static inline S<int> maxClipLength{u"maxClipLength", &P::m_maxClipLength, &P::maxClipLengthChanged, &P::setMaxClipLength, 0, 0, 1000000};
    static inline S<double> pollInterval{u"pollInterval", &P::m_pollInterval, &P::pollIntervalChanged, &P::setPollInterval, 0.4, minPollInterval, maxPollInterval};
    static inline S<bool> skipShortClips{u"skipShortClips", &P::m_skipShortClips, &P::skipShortClipsChanged, &P::setSkipShortClips, false};
    static inline S<bool> pasteOnClick{u"pasteOnClick", &P::m_pasteOnClick, &P::pasteOnClickChanged, &P::setPasteOnClick, true};
    static inline S<bool> moveToTopOnPaste{u"moveToTopOnPaste", &P::m_moveToTopOnPaste, &P::moveToTopOnPasteChanged, &P::setMoveToTopOnPaste, false};
    static inline S<bool> closeAfterPaste{u"closeAfterPaste", &P::m_closeAfterPaste, &P::closeAfterPasteChanged, &P::setCloseAfterPaste, true};
    static inline S<bool> confirmClear{u"confirmClear", &P::m_confirmClear, &P::confirmClearChanged, &P::setConfirmClear, true};
    static inline S<MenuBarIconStyle> menuBarIcon{u"menuBarIcon", &P::m_menuBarIcon, &P::menuBarIconChanged, &P::setMenuBarIcon, MenuBarIconStyle::clipboard};
    static inline S<bool> showMenuBarIcon{u"showMenuBarIcon", &P::m_showMenuBarIcon, &P::showMenuBarIconChanged, &P::setShowMenuBarIcon, true};
    static inline S<AppTheme> theme{u"theme", &P::m_theme, &P::themeChanged, &P::setTheme, AppTheme::system};
    static inline S<RowDensity> rowDensity{u"rowDensity", &P::m_rowDensity, &P::rowDensityChanged, &P::setRowDensity, RowDensity::standard};
    static inline S<PanelWidthOption> panelWidth{u"panelWidth", &P::m_panelWidth, &P::panelWidthChanged, &P::setPanelWidth, PanelWidthOption::standard};
    static inline S<double> panelCustomWidth{u"panelCustomWidth", &P::m_panelCustomWidth, &P::panelCustomWidthChanged, &P::setPanelCustomWidth, 0.0, 0, kDoubleMax};
    static inline S<double> panelCustomHeight{u"panelCustomHeight", &P::m_panelCustomHeight, &P::panelCustomHeightChanged, &P::setPanelCustomHeight, 0.0, 0, kDoubleMax};
    static inline S<bool> showLineBadge{u"showLineBadge", &P::m_showLineBadge, &P::showLineBadgeChanged, &P::setShowLineBadge, true};
    static inline S<bool> showShortcutHints{u"showShortcutHints", &P::m_showShortcutHints, &P::showShortcutHintsChanged, &P::setShowShortcutHints, true};
    static inline S<bool> showSearchField{u"showSearchField", &P::m_showSearchField, &P::showSearchFieldChanged, &P::setShowSearchField, true};
    static inline S<bool> skipPasswordManagers{u"skipPasswordManagers", &P::m_skipPasswordManagers, &P::skipPasswordManagersChanged, &P::setSkipPasswordManagers, true};
    static inline S<bool> skipConcealedTypes{u"skipConcealedTypes", &P::m_skipConcealedTypes, &P::skipConcealedTypesChanged, &P::setSkipConcealedTypes, true};
    static inline S<QStringList> ignoredApps{u"ignoredApps", &P::m_ignoredApps, &P::ignoredAppsChanged, &P::setIgnoredApps, {}};
    static inline S<OptionalKeyCombo> openPanelHotKey{u"openPanelHotKey", &P::m_openPanelHotKey, &P::openPanelHotKeyChanged, &P::setOpenPanelHotKey, KeyCombo::defaultOpenPanel()};
    static inline S<OptionalKeyCombo> togglePauseHotKey{u"togglePauseHotKey", &P::m_togglePauseHotKey, &P::togglePauseHotKeyChanged, &P::setTogglePauseHotKey, std::nullopt};
    static inline S<PinnedShortcutModifier> pinnedModifier{u"pinnedModifier", &P::m_pinnedModifier, &P::pinnedModifierChanged, &P::setPinnedModifier, PinnedShortcutModifier::disabled};
    static inline S<bool> inPanelNumberKeys{u"inPanelNumberKeys", &P::m_inPanelNumberKeys, &P::inPanelNumberKeysChanged, &P::setInPanelNumberKeys, true};
    static inline S<bool> syncEnabled{u"syncEnabled", &P::m_syncEnabled, &P::syncEnabledChanged, &P::setSyncEnabled, false};
    static inline S<bool> syncSend{u"syncSend", &P::m_syncSend, &P::syncSendChanged, &P::setSyncSend, true};
    static inline S<bool> syncReceive{u"syncReceive", &P::m_syncReceive, &P::syncReceiveChanged, &P::setSyncReceive, true};
    static inline S<bool> syncNotify{u"syncNotify", &P::m_syncNotify, &P::syncNotifyChanged, &P::setSyncNotify, true};
    static inline S<int> syncMaxLength{u"syncMaxLength", &P::m_syncMaxLength, &P::syncMaxLengthChanged, &P::setSyncMaxLength, 100000, 0, kIntMax};
    static inline S<bool> relayEnabled{u"relayEnabled", &P::m_relayEnabled, &P::relayEnabledChanged, &P::setRelayEnabled, false};
    static inline S<QString> relayURL{u"relayURL", &P::m_relayURL, &P::relayURLChanged, &P::setRelayURL, {}};
    // clang-format on

    // In the order of loading and of reset.
    static auto all() {
        return std::tie(historyLimit, displayLimit, pinLimit, ignoreDuplicates, trimWhitespace,
                        maxClipLength, pollInterval, skipShortClips, pasteOnClick, moveToTopOnPaste,
                        closeAfterPaste, confirmClear, menuBarIcon, showMenuBarIcon, theme,
                        rowDensity, panelWidth, panelCustomWidth, panelCustomHeight, showLineBadge,
                        showShortcutHints, showSearchField, skipPasswordManagers,
                        skipConcealedTypes, ignoredApps, openPanelHotKey, togglePauseHotKey,
                        pinnedModifier, inPanelNumberKeys, syncEnabled, syncSend, syncReceive,
                        syncNotify, syncMaxLength, relayEnabled, relayURL);
    }

    template <typename F> static void forEach(F&& f) {
        std::apply([&](const auto&... setting) { (f(setting), ...); }, all());
    }
};

Preferences::Preferences(SettingsStore& store, LoginItem* loginItem, QObject* parent)
    : QObject(parent), m_store(store), m_loginItem(loginItem) {
    // The fallbacks answered for keys the store does not hold. The shortcuts
    // have none: their absence is itself meaningful.
    QVariantMap defaults;
    Table::forEach([&]<typename T>(const Setting<T>& setting) {
        if constexpr (!isCombo<T>)
            defaults.insert(setting.name(), storedForm(setting.fallback));
    });
    m_store.registerDefaults(defaults);
    load();
}

QStringList Preferences::persistentKeys() {
    QStringList keys;
    Table::forEach([&](const auto& setting) { keys.append(setting.name()); });
    return keys;
}

void Preferences::load() {
    Table::forEach([this](const auto& setting) { this->*setting.member = read(setting); });
    // The panel never lists more recent clips than history keeps.
    m_displayLimit = std::clamp(m_displayLimit, 5, std::max(5, m_historyLimit));
    m_launchAtLogin = m_loginItem && m_loginItem->isEnabled();
}

// A negative count is no count at all, so it falls back to the default rather
// than being clamped: for syncMaxLength, clamping to 0 would mean "no limit".
// An enumeration name of no case (say, from a newer version) falls back
// without touching the store; the stored text stays until next assigned.
// Shortcut data that does not decode is no shortcut, so the fallback applies.
template <typename T> T Preferences::read(const Setting<T>& setting) const {
    const QString key = setting.name();
    const QVariant stored = m_store.contains(key) ? m_store.value(key) : QVariant();
    if constexpr (std::is_same_v<T, bool>) {
        return SettingValue::toBool(stored).value_or(setting.fallback);
    } else if constexpr (std::is_same_v<T, int>) {
        const auto value = SettingValue::toInteger(stored);
        if (!value || *value < 0)
            return setting.fallback;
        return int(std::clamp<qint64>(*value, qint64(setting.min), qint64(setting.max)));
    } else if constexpr (std::is_same_v<T, double>) {
        const auto value = SettingValue::toDouble(stored);
        if (!value || *value < 0)
            return setting.fallback;
        return std::clamp(*value, setting.min, setting.max);
    } else if constexpr (std::is_same_v<T, QString>) {
        return SettingValue::toString(stored).value_or(setting.fallback);
    } else if constexpr (std::is_same_v<T, QStringList>) {
        return SettingValue::toStringList(stored).value_or(setting.fallback);
    } else if constexpr (isCombo<T>) {
        const auto bytes = SettingValue::toBytes(stored);
        const auto combo = bytes ? KeyCombo::decode(*bytes) : std::nullopt;
        return combo ? combo : setting.fallback;
    } else {
        static_assert(std::is_enum_v<T>);
        const auto raw = SettingValue::toString(stored);
        return raw ? fromRawValue<T>(*raw).value_or(setting.fallback) : setting.fallback;
    }
}

// No shortcut is stored as no key, so a cleared open-panel shortcut comes
// back as the default at the next start.
template <typename T> void Preferences::keep(const Setting<T>& setting, const T& value) {
    this->*setting.member = value;
    if constexpr (isCombo<T>) {
        if (!value) {
            m_store.remove(setting.name());
            return;
        }
        m_store.setValue(setting.name(), value->encode());
    } else {
        m_store.setValue(setting.name(), storedForm(value));
    }
}

template <typename T> void Preferences::assign(const Setting<T>& setting, const T& value) {
    keep(setting, value);
    Q_EMIT(this->*setting.changed)();
}

double Preferences::resolvedPanelWidth() const {
    return m_panelCustomWidth > 0 ? m_panelCustomWidth : presetWidth(m_panelWidth);
}

void Preferences::setHistoryLimit(int value) {
    keep(Table::historyLimit, value);
    // The panel never lists more recent clips than history keeps.
    if (value < m_displayLimit)
        setDisplayLimit(value);
    Q_EMIT historyLimitChanged();
}

// clang-format off
void Preferences::setDisplayLimit(int value) { assign(Table::displayLimit, value); }
void Preferences::setPinLimit(int value) { assign(Table::pinLimit, value); }
void Preferences::setIgnoreDuplicates(bool value) { assign(Table::ignoreDuplicates, value); }
void Preferences::setTrimWhitespace(bool value) { assign(Table::trimWhitespace, value); }
void Preferences::setMaxClipLength(int value) { assign(Table::maxClipLength, value); }
void Preferences::setPollInterval(double value) { assign(Table::pollInterval, value); }
void Preferences::setSkipShortClips(bool value) { assign(Table::skipShortClips, value); }
void Preferences::setPasteOnClick(bool value) { assign(Table::pasteOnClick, value); }
void Preferences::setMoveToTopOnPaste(bool value) { assign(Table::moveToTopOnPaste, value); }
void Preferences::setCloseAfterPaste(bool value) { assign(Table::closeAfterPaste, value); }
void Preferences::setConfirmClear(bool value) { assign(Table::confirmClear, value); }
void Preferences::setMenuBarIcon(MenuBarIconStyle value) { assign(Table::menuBarIcon, value); }
void Preferences::setShowMenuBarIcon(bool value) { assign(Table::showMenuBarIcon, value); }
void Preferences::setTheme(AppTheme value) { assign(Table::theme, value); }
void Preferences::setRowDensity(RowDensity value) { assign(Table::rowDensity, value); }
void Preferences::setPanelWidth(PanelWidthOption value) { assign(Table::panelWidth, value); }
void Preferences::setPanelCustomWidth(double value) { assign(Table::panelCustomWidth, value); }
void Preferences::setPanelCustomHeight(double value) { assign(Table::panelCustomHeight, value); }
void Preferences::setShowLineBadge(bool value) { assign(Table::showLineBadge, value); }
void Preferences::setShowShortcutHints(bool value) { assign(Table::showShortcutHints, value); }
void Preferences::setShowSearchField(bool value) { assign(Table::showSearchField, value); }
void Preferences::setSkipPasswordManagers(bool value) { assign(Table::skipPasswordManagers, value); }
void Preferences::setSkipConcealedTypes(bool value) { assign(Table::skipConcealedTypes, value); }
void Preferences::setIgnoredApps(const QStringList& value) { assign(Table::ignoredApps, value); }
void Preferences::setOpenPanelHotKey(const std::optional<KeyCombo>& value) { assign(Table::openPanelHotKey, value); }
void Preferences::setTogglePauseHotKey(const std::optional<KeyCombo>& value) { assign(Table::togglePauseHotKey, value); }
void Preferences::setPinnedModifier(PinnedShortcutModifier value) { assign(Table::pinnedModifier, value); }
void Preferences::setInPanelNumberKeys(bool value) { assign(Table::inPanelNumberKeys, value); }
void Preferences::setSyncEnabled(bool value) { assign(Table::syncEnabled, value); }
void Preferences::setSyncSend(bool value) { assign(Table::syncSend, value); }
void Preferences::setSyncReceive(bool value) { assign(Table::syncReceive, value); }
void Preferences::setSyncNotify(bool value) { assign(Table::syncNotify, value); }
void Preferences::setSyncMaxLength(int value) { assign(Table::syncMaxLength, value); }
void Preferences::setRelayEnabled(bool value) { assign(Table::relayEnabled, value); }
void Preferences::setRelayURL(const QString& value) { assign(Table::relayURL, value); }
// clang-format on

void Preferences::setLaunchAtLogin(bool value) {
    m_launchAtLogin = value;
    // Only a real change goes to the login item, so an earlier error stays
    // visible when the user re-asserts the state the item already has.
    if (m_loginItem && value != m_loginItem->isEnabled())
        setLaunchAtLoginError(m_loginItem->setEnabled(value).value_or(QString()));
    Q_EMIT launchAtLoginChanged();
}

void Preferences::setLaunchAtLoginError(const QString& error) {
    m_launchAtLoginError = error;
    Q_EMIT launchAtLoginErrorChanged();
}

void Preferences::resetToDefaults(int historyCount) {
    const bool keepHistoryLimit = historyCount > Table::historyLimit.fallback;
    Table::forEach([&](const auto& setting) {
        if (!(keepHistoryLimit && setting.key == Table::historyLimit.key))
            m_store.remove(setting.name());
    });
    Table::forEach([this](const auto& setting) { (this->*setting.setter)(read(setting)); });
}
