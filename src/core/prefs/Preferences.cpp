#include "core/prefs/Preferences.h"

#include "core/util/SettingValue.h"
#include "platform/LoginItem.h"
#include "platform/SettingsStore.h"

#include <algorithm>
#include <limits>
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

// Every persistent setting, in the order of loading and of reset: its type,
// key, setter suffix, fallback and, for numbers, the range the panes offer;
// a last member function, where given, runs after each change.
// clang-format off
#define TINDREL_SETTINGS(X) \
    X(int, historyLimit, HistoryLimit, 100, 10, 1000, &P::fitDisplayLimit) \
    X(int, displayLimit, DisplayLimit, 25, 5, kIntMax) \
    X(int, pinLimit, PinLimit, 10, 1, 20) \
    X(bool, ignoreDuplicates, IgnoreDuplicates, true) \
    X(bool, trimWhitespace, TrimWhitespace, false) \
    X(int, maxClipLength, MaxClipLength, 0, 0, 1000000) \
    X(double, pollInterval, PollInterval, 0.4, minPollInterval, maxPollInterval) \
    X(bool, skipShortClips, SkipShortClips, false) \
    X(bool, pasteOnClick, PasteOnClick, true) \
    X(bool, moveToTopOnPaste, MoveToTopOnPaste, false) \
    X(bool, closeAfterPaste, CloseAfterPaste, true) \
    X(bool, confirmClear, ConfirmClear, true) \
    X(MenuBarIconStyle, menuBarIcon, MenuBarIcon, MenuBarIconStyle::clipboard) \
    X(bool, showMenuBarIcon, ShowMenuBarIcon, true) \
    X(AppTheme, theme, Theme, AppTheme::system) \
    X(RowDensity, rowDensity, RowDensity, RowDensity::standard) \
    X(PanelWidthOption, panelWidth, PanelWidth, PanelWidthOption::standard) \
    X(double, panelCustomWidth, PanelCustomWidth, 0.0, 0, kDoubleMax) \
    X(double, panelCustomHeight, PanelCustomHeight, 0.0, 0, kDoubleMax) \
    X(bool, showLineBadge, ShowLineBadge, true) \
    X(bool, showShortcutHints, ShowShortcutHints, true) \
    X(bool, showSearchField, ShowSearchField, true) \
    X(bool, skipPasswordManagers, SkipPasswordManagers, true) \
    X(bool, skipConcealedTypes, SkipConcealedTypes, true) \
    X(QStringList, ignoredApps, IgnoredApps, {}) \
    X(OptionalKeyCombo, openPanelHotKey, OpenPanelHotKey, KeyCombo::defaultOpenPanel()) \
    X(OptionalKeyCombo, togglePauseHotKey, TogglePauseHotKey, std::nullopt) \
    X(PinnedShortcutModifier, pinnedModifier, PinnedModifier, PinnedShortcutModifier::disabled) \
    X(bool, inPanelNumberKeys, InPanelNumberKeys, true) \
    X(bool, syncEnabled, SyncEnabled, false) \
    X(bool, syncSend, SyncSend, true) \
    X(bool, syncReceive, SyncReceive, true) \
    X(bool, syncNotify, SyncNotify, true) \
    X(int, syncMaxLength, SyncMaxLength, 100000, 0, kIntMax) \
    X(bool, relayEnabled, RelayEnabled, false) \
    X(QString, relayURL, RelayURL, {})
// clang-format on

// min and max bound the numbers only.
template <typename T> struct Preferences::Setting {
    QStringView key;
    T Preferences::*member;
    void (Preferences::*changed)();
    T fallback;
    double min = 0;
    double max = 0;
    void (Preferences::*settle)() = nullptr;

    QString name() const { return key.toString(); }
};

struct Preferences::Table {
    using P = Preferences;
    template <typename T> using S = const Setting<T>;

#define TINDREL_ENTRY(T, name, Name, ...)                                                          \
    static inline S<T> name{u"" #name, &P::m_##name, &P::name##Changed, __VA_ARGS__};
    TINDREL_SETTINGS(TINDREL_ENTRY)
#undef TINDREL_ENTRY

    template <typename F> static void forEach(F&& f) {
#define TINDREL_VISIT(T, name, ...) f(name);
        TINDREL_SETTINGS(TINDREL_VISIT)
#undef TINDREL_VISIT
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
    if (setting.settle)
        (this->*setting.settle)();
    Q_EMIT(this->*setting.changed)();
}

double Preferences::resolvedPanelWidth() const {
    return m_panelCustomWidth > 0 ? m_panelCustomWidth : presetWidth(m_panelWidth);
}

// The panel never lists more recent clips than history keeps.
void Preferences::fitDisplayLimit() {
    if (m_historyLimit < m_displayLimit)
        setDisplayLimit(m_historyLimit);
}

#define TINDREL_SETTER(T, name, Name, ...)                                                         \
    void Preferences::set##Name(Param<T> value) {                                                  \
        assign(Table::name, value);                                                                \
    }
TINDREL_SETTINGS(TINDREL_SETTER)
#undef TINDREL_SETTER

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
    Table::forEach([this](const auto& setting) { assign(setting, read(setting)); });
}
