#include "core/prefs/Preferences.h"

#include "core/util/SettingValue.h"
#include "platform/LoginItem.h"
#include "platform/SettingsStore.h"

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace {
constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr double kDoubleMax = std::numeric_limits<double>::max();

// The fallbacks answered for keys the store does not hold. The shortcuts have
// none: their absence is itself meaningful.
QVariantMap registeredDefaults() {
    return {
        {u"historyLimit"_s, 100},
        {u"displayLimit"_s, 25},
        {u"pinLimit"_s, 10},
        {u"ignoreDuplicates"_s, true},
        {u"trimWhitespace"_s, false},
        {u"maxClipLength"_s, 0},
        {u"pollInterval"_s, 0.4},
        {u"skipShortClips"_s, false},
        {u"pasteOnClick"_s, true},
        {u"moveToTopOnPaste"_s, false},
        {u"closeAfterPaste"_s, true},
        {u"confirmClear"_s, true},
        {u"menuBarIcon"_s, rawValue(MenuBarIconStyle::clipboard)},
        {u"showMenuBarIcon"_s, true},
        {u"theme"_s, rawValue(AppTheme::system)},
        {u"rowDensity"_s, rawValue(RowDensity::standard)},
        {u"panelWidth"_s, rawValue(PanelWidthOption::standard)},
        {u"panelCustomWidth"_s, 0.0},
        {u"panelCustomHeight"_s, 0.0},
        {u"showLineBadge"_s, true},
        {u"showShortcutHints"_s, true},
        {u"showSearchField"_s, true},
        {u"skipPasswordManagers"_s, true},
        {u"skipConcealedTypes"_s, true},
        {u"ignoredApps"_s, QStringList()},
        {u"pinnedModifier"_s, rawValue(PinnedShortcutModifier::disabled)},
        {u"inPanelNumberKeys"_s, true},
        {u"syncEnabled"_s, false},
        {u"syncSend"_s, true},
        {u"syncReceive"_s, true},
        {u"syncNotify"_s, true},
        {u"syncMaxLength"_s, 100000},
        {u"relayEnabled"_s, false},
        {u"relayURL"_s, QString()},
    };
}
} // namespace

Preferences::Preferences(SettingsStore& store, LoginItem* loginItem, QObject* parent)
    : QObject(parent), m_store(store), m_loginItem(loginItem) {
    m_store.registerDefaults(registeredDefaults());
    load();
}

QStringList Preferences::persistentKeys() {
    return {
        u"historyLimit"_s,      u"displayLimit"_s,         u"pinLimit"_s,
        u"ignoreDuplicates"_s,  u"trimWhitespace"_s,       u"maxClipLength"_s,
        u"pollInterval"_s,      u"skipShortClips"_s,       u"pasteOnClick"_s,
        u"moveToTopOnPaste"_s,  u"closeAfterPaste"_s,      u"confirmClear"_s,
        u"menuBarIcon"_s,       u"showMenuBarIcon"_s,      u"theme"_s,
        u"rowDensity"_s,        u"panelWidth"_s,           u"panelCustomWidth"_s,
        u"panelCustomHeight"_s, u"showLineBadge"_s,        u"showShortcutHints"_s,
        u"showSearchField"_s,   u"skipPasswordManagers"_s, u"skipConcealedTypes"_s,
        u"ignoredApps"_s,       u"openPanelHotKey"_s,      u"togglePauseHotKey"_s,
        u"pinnedModifier"_s,    u"inPanelNumberKeys"_s,    u"syncEnabled"_s,
        u"syncSend"_s,          u"syncReceive"_s,          u"syncNotify"_s,
        u"syncMaxLength"_s,     u"relayEnabled"_s,         u"relayURL"_s,
    };
}

void Preferences::load() {
    // Every count is at least 0; the ranges are those the settings panes offer.
    m_historyLimit = readInt(u"historyLimit"_s, 10, 1000);
    m_displayLimit = std::clamp(std::min(readInt(u"displayLimit"_s, 5, kIntMax), m_historyLimit), 5,
                                std::max(5, m_historyLimit));
    m_pinLimit = readInt(u"pinLimit"_s, 1, 20);
    m_ignoreDuplicates = readBool(u"ignoreDuplicates"_s);
    m_trimWhitespace = readBool(u"trimWhitespace"_s);
    m_maxClipLength = readInt(u"maxClipLength"_s, 0, 1000000);
    m_pollInterval = readDouble(u"pollInterval"_s, minPollInterval, maxPollInterval);
    m_skipShortClips = readBool(u"skipShortClips"_s);
    m_pasteOnClick = readBool(u"pasteOnClick"_s);
    m_moveToTopOnPaste = readBool(u"moveToTopOnPaste"_s);
    m_closeAfterPaste = readBool(u"closeAfterPaste"_s);
    m_confirmClear = readBool(u"confirmClear"_s);
    m_menuBarIcon = readEnum(u"menuBarIcon"_s, MenuBarIconStyle::clipboard);
    m_showMenuBarIcon = readBool(u"showMenuBarIcon"_s);
    m_theme = readEnum(u"theme"_s, AppTheme::system);
    m_rowDensity = readEnum(u"rowDensity"_s, RowDensity::standard);
    m_panelWidth = readEnum(u"panelWidth"_s, PanelWidthOption::standard);
    m_panelCustomWidth = readDouble(u"panelCustomWidth"_s, 0, kDoubleMax);
    m_panelCustomHeight = readDouble(u"panelCustomHeight"_s, 0, kDoubleMax);
    m_showLineBadge = readBool(u"showLineBadge"_s);
    m_showShortcutHints = readBool(u"showShortcutHints"_s);
    m_showSearchField = readBool(u"showSearchField"_s);
    m_skipPasswordManagers = readBool(u"skipPasswordManagers"_s);
    m_skipConcealedTypes = readBool(u"skipConcealedTypes"_s);
    m_ignoredApps = SettingValue::toStringList(m_store.valueOrDefault(u"ignoredApps"_s))
                        .value_or(QStringList());
    m_openPanelHotKey = readCombo(u"openPanelHotKey"_s).value_or(KeyCombo::defaultOpenPanel());
    m_togglePauseHotKey = readCombo(u"togglePauseHotKey"_s);
    m_pinnedModifier = readEnum(u"pinnedModifier"_s, PinnedShortcutModifier::disabled);
    m_inPanelNumberKeys = readBool(u"inPanelNumberKeys"_s);
    m_syncEnabled = readBool(u"syncEnabled"_s);
    m_syncSend = readBool(u"syncSend"_s);
    m_syncReceive = readBool(u"syncReceive"_s);
    m_syncNotify = readBool(u"syncNotify"_s);
    m_syncMaxLength = readInt(u"syncMaxLength"_s, 0, kIntMax);
    m_relayEnabled = readBool(u"relayEnabled"_s);
    m_relayURL = SettingValue::toString(m_store.valueOrDefault(u"relayURL"_s)).value_or(QString());

    m_launchAtLogin = m_loginItem && m_loginItem->isEnabled();
}

// A negative count is no count at all, so it falls back to the default rather
// than being clamped: for syncMaxLength, clamping to 0 would mean "no limit".
int Preferences::readInt(const QString& key, int min, int max) const {
    const auto stored = SettingValue::toInteger(m_store.valueOrDefault(key));
    if (!stored || *stored < 0)
        return m_store.registeredDefault(key).toInt();
    return int(std::clamp<qint64>(*stored, min, max));
}

double Preferences::readDouble(const QString& key, double min, double max) const {
    const auto stored = SettingValue::toDouble(m_store.valueOrDefault(key));
    if (!stored || *stored < 0)
        return m_store.registeredDefault(key).toDouble();
    return std::clamp(*stored, min, max);
}

bool Preferences::readBool(const QString& key) const {
    return SettingValue::toBool(m_store.valueOrDefault(key))
        .value_or(m_store.registeredDefault(key).toBool());
}

// A name of no case (say, from a newer version) falls back without touching
// the store; the stored text stays until the setting is next assigned.
template <typename E> E Preferences::readEnum(const QString& key, E fallback) const {
    const auto raw = SettingValue::toString(m_store.valueOrDefault(key));
    return raw ? fromRawValue<E>(*raw).value_or(fallback) : fallback;
}

std::optional<KeyCombo> Preferences::readCombo(const QString& key) const {
    const auto bytes = SettingValue::toBytes(m_store.value(key));
    return bytes ? KeyCombo::decode(*bytes) : std::nullopt;
}

void Preferences::write(const QString& key, const QVariant& value) {
    m_store.setValue(key, value);
}

// No shortcut is stored as no key, so a cleared open-panel shortcut comes
// back as the default at the next start.
void Preferences::writeCombo(const QString& key, const std::optional<KeyCombo>& combo) {
    if (combo)
        m_store.setValue(key, combo->encode());
    else
        m_store.remove(key);
}

double Preferences::resolvedPanelWidth() const {
    return m_panelCustomWidth > 0 ? m_panelCustomWidth : presetWidth(m_panelWidth);
}

void Preferences::setHistoryLimit(int value) {
    m_historyLimit = value;
    write(u"historyLimit"_s, value);
    // The panel never lists more recent clips than history keeps.
    if (value < m_displayLimit)
        setDisplayLimit(value);
    Q_EMIT historyLimitChanged();
}

void Preferences::setDisplayLimit(int value) {
    m_displayLimit = value;
    write(u"displayLimit"_s, value);
    Q_EMIT displayLimitChanged();
}

void Preferences::setPinLimit(int value) {
    m_pinLimit = value;
    write(u"pinLimit"_s, value);
    Q_EMIT pinLimitChanged();
}

void Preferences::setIgnoreDuplicates(bool value) {
    m_ignoreDuplicates = value;
    write(u"ignoreDuplicates"_s, value);
    Q_EMIT ignoreDuplicatesChanged();
}

void Preferences::setTrimWhitespace(bool value) {
    m_trimWhitespace = value;
    write(u"trimWhitespace"_s, value);
    Q_EMIT trimWhitespaceChanged();
}

void Preferences::setMaxClipLength(int value) {
    m_maxClipLength = value;
    write(u"maxClipLength"_s, value);
    Q_EMIT maxClipLengthChanged();
}

void Preferences::setPollInterval(double value) {
    m_pollInterval = value;
    write(u"pollInterval"_s, value);
    Q_EMIT pollIntervalChanged();
}

void Preferences::setSkipShortClips(bool value) {
    m_skipShortClips = value;
    write(u"skipShortClips"_s, value);
    Q_EMIT skipShortClipsChanged();
}

void Preferences::setPasteOnClick(bool value) {
    m_pasteOnClick = value;
    write(u"pasteOnClick"_s, value);
    Q_EMIT pasteOnClickChanged();
}

void Preferences::setMoveToTopOnPaste(bool value) {
    m_moveToTopOnPaste = value;
    write(u"moveToTopOnPaste"_s, value);
    Q_EMIT moveToTopOnPasteChanged();
}

void Preferences::setCloseAfterPaste(bool value) {
    m_closeAfterPaste = value;
    write(u"closeAfterPaste"_s, value);
    Q_EMIT closeAfterPasteChanged();
}

void Preferences::setConfirmClear(bool value) {
    m_confirmClear = value;
    write(u"confirmClear"_s, value);
    Q_EMIT confirmClearChanged();
}

void Preferences::setMenuBarIcon(MenuBarIconStyle value) {
    m_menuBarIcon = value;
    write(u"menuBarIcon"_s, rawValue(value));
    Q_EMIT menuBarIconChanged();
}

void Preferences::setShowMenuBarIcon(bool value) {
    m_showMenuBarIcon = value;
    write(u"showMenuBarIcon"_s, value);
    Q_EMIT showMenuBarIconChanged();
}

void Preferences::setTheme(AppTheme value) {
    m_theme = value;
    write(u"theme"_s, rawValue(value));
    Q_EMIT themeChanged();
}

void Preferences::setRowDensity(RowDensity value) {
    m_rowDensity = value;
    write(u"rowDensity"_s, rawValue(value));
    Q_EMIT rowDensityChanged();
}

void Preferences::setPanelWidth(PanelWidthOption value) {
    m_panelWidth = value;
    write(u"panelWidth"_s, rawValue(value));
    Q_EMIT panelWidthChanged();
}

void Preferences::setPanelCustomWidth(double value) {
    m_panelCustomWidth = value;
    write(u"panelCustomWidth"_s, value);
    Q_EMIT panelCustomWidthChanged();
}

void Preferences::setPanelCustomHeight(double value) {
    m_panelCustomHeight = value;
    write(u"panelCustomHeight"_s, value);
    Q_EMIT panelCustomHeightChanged();
}

void Preferences::setShowLineBadge(bool value) {
    m_showLineBadge = value;
    write(u"showLineBadge"_s, value);
    Q_EMIT showLineBadgeChanged();
}

void Preferences::setShowShortcutHints(bool value) {
    m_showShortcutHints = value;
    write(u"showShortcutHints"_s, value);
    Q_EMIT showShortcutHintsChanged();
}

void Preferences::setShowSearchField(bool value) {
    m_showSearchField = value;
    write(u"showSearchField"_s, value);
    Q_EMIT showSearchFieldChanged();
}

void Preferences::setSkipPasswordManagers(bool value) {
    m_skipPasswordManagers = value;
    write(u"skipPasswordManagers"_s, value);
    Q_EMIT skipPasswordManagersChanged();
}

void Preferences::setSkipConcealedTypes(bool value) {
    m_skipConcealedTypes = value;
    write(u"skipConcealedTypes"_s, value);
    Q_EMIT skipConcealedTypesChanged();
}

void Preferences::setIgnoredApps(const QStringList& value) {
    m_ignoredApps = value;
    write(u"ignoredApps"_s, value);
    Q_EMIT ignoredAppsChanged();
}

void Preferences::setOpenPanelHotKey(const std::optional<KeyCombo>& value) {
    m_openPanelHotKey = value;
    writeCombo(u"openPanelHotKey"_s, value);
    Q_EMIT openPanelHotKeyChanged();
}

void Preferences::setTogglePauseHotKey(const std::optional<KeyCombo>& value) {
    m_togglePauseHotKey = value;
    writeCombo(u"togglePauseHotKey"_s, value);
    Q_EMIT togglePauseHotKeyChanged();
}

void Preferences::setPinnedModifier(PinnedShortcutModifier value) {
    m_pinnedModifier = value;
    write(u"pinnedModifier"_s, rawValue(value));
    Q_EMIT pinnedModifierChanged();
}

void Preferences::setInPanelNumberKeys(bool value) {
    m_inPanelNumberKeys = value;
    write(u"inPanelNumberKeys"_s, value);
    Q_EMIT inPanelNumberKeysChanged();
}

void Preferences::setSyncEnabled(bool value) {
    m_syncEnabled = value;
    write(u"syncEnabled"_s, value);
    Q_EMIT syncEnabledChanged();
}

void Preferences::setSyncSend(bool value) {
    m_syncSend = value;
    write(u"syncSend"_s, value);
    Q_EMIT syncSendChanged();
}

void Preferences::setSyncReceive(bool value) {
    m_syncReceive = value;
    write(u"syncReceive"_s, value);
    Q_EMIT syncReceiveChanged();
}

void Preferences::setSyncNotify(bool value) {
    m_syncNotify = value;
    write(u"syncNotify"_s, value);
    Q_EMIT syncNotifyChanged();
}

void Preferences::setSyncMaxLength(int value) {
    m_syncMaxLength = value;
    write(u"syncMaxLength"_s, value);
    Q_EMIT syncMaxLengthChanged();
}

void Preferences::setRelayEnabled(bool value) {
    m_relayEnabled = value;
    write(u"relayEnabled"_s, value);
    Q_EMIT relayEnabledChanged();
}

void Preferences::setRelayURL(const QString& value) {
    m_relayURL = value;
    write(u"relayURL"_s, value);
    Q_EMIT relayURLChanged();
}

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

void Preferences::resetToDefaults() {
    for (const QString& key : persistentKeys())
        m_store.remove(key);

    setHistoryLimit(readInt(u"historyLimit"_s, 10, 1000));
    setDisplayLimit(readInt(u"displayLimit"_s, 5, kIntMax));
    setPinLimit(readInt(u"pinLimit"_s, 1, 20));
    setIgnoreDuplicates(readBool(u"ignoreDuplicates"_s));
    setTrimWhitespace(readBool(u"trimWhitespace"_s));
    setMaxClipLength(readInt(u"maxClipLength"_s, 0, 1000000));
    setPollInterval(readDouble(u"pollInterval"_s, minPollInterval, maxPollInterval));
    setSkipShortClips(readBool(u"skipShortClips"_s));
    setPasteOnClick(readBool(u"pasteOnClick"_s));
    setMoveToTopOnPaste(readBool(u"moveToTopOnPaste"_s));
    setCloseAfterPaste(readBool(u"closeAfterPaste"_s));
    setConfirmClear(readBool(u"confirmClear"_s));

    setMenuBarIcon(MenuBarIconStyle::clipboard);
    setShowMenuBarIcon(true);
    setTheme(AppTheme::system);
    setRowDensity(RowDensity::standard);
    setPanelWidth(PanelWidthOption::standard);
    setPanelCustomWidth(0);
    setPanelCustomHeight(0);
    setShowLineBadge(true);
    setShowShortcutHints(true);
    setShowSearchField(true);
    setSkipPasswordManagers(true);
    setSkipConcealedTypes(true);
    setIgnoredApps({});
    setOpenPanelHotKey(KeyCombo::defaultOpenPanel());
    setTogglePauseHotKey(std::nullopt);
    setPinnedModifier(PinnedShortcutModifier::disabled);
    setInPanelNumberKeys(true);
    setSyncEnabled(false);
    setSyncSend(true);
    setSyncReceive(true);
    setSyncNotify(true);
    setSyncMaxLength(100000);
    setRelayEnabled(false);
    setRelayURL(QString());
}
