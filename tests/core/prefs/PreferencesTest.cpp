#include "core/prefs/Preferences.h"
#include "platform/xdg/IniSettingsStore.h"
#include "platform/xdg/XdgPaths.h"
#include "support/FakeLoginItem.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"
#include "support/TempXdg.h"

#include <QDebug>
#include <QMetaProperty>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Each persistent setting with its default and some other valid value.
struct Setting {
    const char* key;
    QVariant defaultValue;
    QVariant otherValue;
};

const std::vector<Setting>& settings() {
    static const std::vector<Setting> table = {
        {"historyLimit", 100, 250},
        {"displayLimit", 25, 40},
        {"pinLimit", 10, 15},
        {"ignoreDuplicates", true, false},
        {"trimWhitespace", false, true},
        {"maxClipLength", 0, 5000},
        {"pollInterval", 0.4, 1.3},
        {"skipShortClips", false, true},
        {"pasteOnClick", true, false},
        {"moveToTopOnPaste", false, true},
        {"closeAfterPaste", true, false},
        {"confirmClear", true, false},
        {"menuBarIcon", QVariant::fromValue(MenuBarIconStyle::clipboard),
         QVariant::fromValue(MenuBarIconStyle::scissors)},
        {"showMenuBarIcon", true, false},
        {"theme", QVariant::fromValue(AppTheme::system), QVariant::fromValue(AppTheme::dark)},
        {"rowDensity", QVariant::fromValue(RowDensity::standard),
         QVariant::fromValue(RowDensity::roomy)},
        {"panelWidth", QVariant::fromValue(PanelWidthOption::standard),
         QVariant::fromValue(PanelWidthOption::wide)},
        {"panelCustomWidth", 0.0, 512.5},
        {"panelCustomHeight", 0.0, 640.0},
        {"showLineBadge", true, false},
        {"showShortcutHints", true, false},
        {"showSearchField", true, false},
        {"skipPasswordManagers", true, false},
        {"skipConcealedTypes", true, false},
        {"ignoredApps", QStringList(),
         QStringList{u"org.keepassxc.KeePassXC"_s, u"a, with comma"_s, u"ü"_s}},
        {"openPanelHotKey", QVariant::fromValue(OptionalKeyCombo(KeyCombo{0x76, 2304})),
         QVariant::fromValue(OptionalKeyCombo(KeyCombo{0xffc2, KeyCombo::Shift}))},
        {"togglePauseHotKey", QVariant::fromValue(OptionalKeyCombo()),
         QVariant::fromValue(OptionalKeyCombo(KeyCombo{0x70, KeyCombo::Ctrl | KeyCombo::Alt}))},
        {"pinnedModifier", QVariant::fromValue(PinnedShortcutModifier::disabled),
         QVariant::fromValue(PinnedShortcutModifier::ctrlSuper)},
        {"inPanelNumberKeys", true, false},
        {"syncEnabled", false, true},
        {"syncSend", true, false},
        {"syncReceive", true, false},
        {"syncNotify", true, false},
        {"syncMaxLength", 100000, 0},
        {"relayEnabled", false, true},
        {"relayURL", QString(), u"wss://relay.example.net/a,b?x=1;y=\"2\""_s},
    };
    return table;
}

std::string show(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<OptionalKeyCombo>()) {
        const auto combo = value.value<OptionalKeyCombo>();
        return combo ? "KeyCombo" + combo->encode().toStdString() : "no KeyCombo";
    }
    QString text;
    QDebug(&text) << value;
    return text.toStdString();
}

// QVariant cannot compare optionals of our own type, so compare those by hand.
bool same(const QVariant& a, const QVariant& b) {
    if (a.metaType() == QMetaType::fromType<OptionalKeyCombo>() &&
        b.metaType() == QMetaType::fromType<OptionalKeyCombo>())
        return a.value<OptionalKeyCombo>() == b.value<OptionalKeyCombo>();
    return a == b;
}

void expectValues(const Preferences& prefs, bool other) {
    for (const Setting& s : settings()) {
        const QVariant expected = other ? s.otherValue : s.defaultValue;
        const QVariant actual = prefs.property(s.key);
        EXPECT_TRUE(same(actual, expected))
            << s.key << ": got " << show(actual) << ", want " << show(expected);
    }
}

void assignAll(Preferences& prefs, bool other) {
    for (const Setting& s : settings())
        ASSERT_TRUE(prefs.setProperty(s.key, other ? s.otherValue : s.defaultValue)) << s.key;
}

// Every notify signal of the object, spied on by property name.
std::map<std::string, std::unique_ptr<QSignalSpy>> spyAll(const Preferences& prefs) {
    std::map<std::string, std::unique_ptr<QSignalSpy>> spies;
    const QMetaObject* meta = prefs.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (property.hasNotifySignal())
            spies[property.name()] = std::make_unique<QSignalSpy>(
                &prefs, ("2" + property.notifySignal().methodSignature()).constData());
    }
    return spies;
}

} // namespace

TEST(Preferences, FirstStartHasTheDefaultsAndWritesNothing) {
    MemorySettingsStore store;
    Preferences prefs(store);
    expectValues(prefs, false);
    EXPECT_FALSE(prefs.launchAtLogin());
    EXPECT_TRUE(prefs.launchAtLoginError().isEmpty());
    EXPECT_EQ(store.writes, 0);
    EXPECT_TRUE(store.values.isEmpty());
    EXPECT_EQ(Preferences::persistentKeys().size(), 36);
    EXPECT_EQ(settings().size(), 36u);
}

TEST(Preferences, EveryPersistentSettingIsAPropertyWithTheSameKey) {
    MemorySettingsStore store;
    Preferences prefs(store);
    QStringList keys;
    for (const Setting& s : settings())
        keys.append(QString::fromLatin1(s.key));
    EXPECT_EQ(keys, Preferences::persistentKeys());
}

// The same values must come back whether the store keeps types (memory) or
// hands everything back as text (INI file).
TEST(Preferences, AssignedValuesSurviveARestartInMemoryAndInAnIniFile) {
    {
        MemorySettingsStore store;
        {
            Preferences prefs(store);
            assignAll(prefs, true);
        }
        Preferences again(store);
        expectValues(again, true);
    }
    {
        TempXdg xdg;
        const QString path = XdgPaths::settingsFile();
        {
            IniSettingsStore store(path);
            Preferences prefs(store);
            assignAll(prefs, true);
            store.sync();
        }
        IniSettingsStore store(path);
        Preferences again(store);
        expectValues(again, true);
        // The INI backend hands a list of one back as a plain string.
        again.setIgnoredApps({u"org.kde.kate"_s});
        store.sync();
        EXPECT_EQ(Preferences(store).ignoredApps(), QStringList{u"org.kde.kate"_s});
    }
}

TEST(Preferences, DefaultsAssignedExplicitlyAlsoSurviveAnIniFile) {
    TempXdg xdg;
    const QString path = XdgPaths::settingsFile();
    {
        IniSettingsStore store(path);
        Preferences prefs(store);
        assignAll(prefs, true);
        assignAll(prefs, false); // empty list and empty string among them
        store.sync();
    }
    IniSettingsStore store(path);
    Preferences again(store);
    expectValues(again, false);
}

TEST(Preferences, StoresEnumerationsByNameAndShortcutsAsJson) {
    MemorySettingsStore store;
    Preferences prefs(store);
    prefs.setRowDensity(RowDensity::roomy);
    prefs.setPinnedModifier(PinnedShortcutModifier::shiftSuper);
    prefs.setOpenPanelHotKey(KeyCombo{0x76, 2304});
    EXPECT_EQ(store.values.value(u"rowDensity"_s), QVariant(u"roomy"_s));
    EXPECT_EQ(store.values.value(u"pinnedModifier"_s), QVariant(u"controlShift"_s));
    EXPECT_EQ(store.values.value(u"openPanelHotKey"_s).toByteArray(),
              QByteArray(R"({"keyCode":118,"carbonModifiers":2304})"));
}

TEST(Preferences, EveryAssignmentNotifiesOnceEvenWithTheSameValue) {
    MemorySettingsStore store;
    Preferences prefs(store);
    auto spies = spyAll(prefs);
    for (const auto& [name, spy] : spies)
        EXPECT_EQ(spy->count(), 0) << name << " notified on subscription";

    for (const Setting& s : settings()) {
        ASSERT_TRUE(prefs.setProperty(s.key, s.defaultValue)); // the value it already has
        EXPECT_EQ(spies.at(s.key)->count(), 1) << s.key;
    }
    prefs.setLaunchAtLogin(false);
    EXPECT_EQ(spies.at("launchAtLogin")->count(), 1);
    // Same-value assignments also write, so the store holds what was chosen.
    EXPECT_TRUE(store.contains(u"historyLimit"_s));
}

TEST(Preferences, ASubscriberReadsTheNewValue) {
    MemorySettingsStore store;
    Preferences prefs(store);
    QList<int> seen;
    QObject::connect(&prefs, &Preferences::historyLimitChanged, &prefs,
                     [&] { seen.append(prefs.historyLimit()); });
    prefs.setHistoryLimit(300);
    prefs.setHistoryLimit(300);
    EXPECT_EQ(seen, (QList<int>{300, 300}));
}

TEST(Preferences, DisplayLimitNeverExceedsHistoryLimit) {
    struct Case {
        const char* name;
        QVariantMap stored;
        QList<int> historyAssignments;
        int expectedDisplay;
        bool displayStored;
    };
    const Case cases[] = {
        {"stored above history", {{u"historyLimit"_s, 50}, {u"displayLimit"_s, 80}}, {}, 50, false},
        {"stored below history", {{u"historyLimit"_s, 50}, {u"displayLimit"_s, 30}}, {}, 30, false},
        {"stored below its minimum", {{u"displayLimit"_s, 2}}, {}, 5, false},
        {"history lowered below it", {}, {20}, 20, true},
        {"history raised afterwards", {}, {20, 30}, 20, true},
        {"history lowered but still above", {}, {60}, 25, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySettingsStore store;
        store.values = c.stored;
        Preferences prefs(store);
        QSignalSpy displaySpy(&prefs, &Preferences::displayLimitChanged);
        for (int limit : c.historyAssignments)
            prefs.setHistoryLimit(limit);
        EXPECT_EQ(prefs.displayLimit(), c.expectedDisplay);
        EXPECT_EQ(displaySpy.count() > 0, c.displayStored);
        if (c.displayStored) {
            EXPECT_EQ(store.values.value(u"displayLimit"_s).toInt(), c.expectedDisplay);
        }
    }
}

TEST(Preferences, UnknownEnumerationNamesFallBackAndStayInTheStore) {
    struct Case {
        const char* key;
        QVariant stored;
        QVariant expected;
    };
    const Case cases[] = {
        {"menuBarIcon", u"rocket"_s, QVariant::fromValue(MenuBarIconStyle::clipboard)},
        {"menuBarIcon", u"Pin"_s, QVariant::fromValue(MenuBarIconStyle::clipboard)},
        {"menuBarIcon", u"tray"_s, QVariant::fromValue(MenuBarIconStyle::tray)},
        {"theme", u"sepia"_s, QVariant::fromValue(AppTheme::system)},
        {"theme", 1, QVariant::fromValue(AppTheme::system)},
        {"rowDensity", u"cosy"_s, QVariant::fromValue(RowDensity::standard)},
        {"rowDensity", u""_s, QVariant::fromValue(RowDensity::standard)},
        {"panelWidth", u"huge"_s, QVariant::fromValue(PanelWidthOption::standard)},
        {"pinnedModifier", u"hyper"_s, QVariant::fromValue(PinnedShortcutModifier::disabled)},
        {"pinnedModifier", u"controlOption"_s,
         QVariant::fromValue(PinnedShortcutModifier::altSuper)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + show(c.stored));
        MemorySettingsStore store;
        const QString key = QString::fromLatin1(c.key);
        store.values.insert(key, c.stored);
        Preferences prefs(store);
        EXPECT_TRUE(same(prefs.property(c.key), c.expected)) << show(prefs.property(c.key));
        EXPECT_EQ(store.values.value(key), c.stored);
        EXPECT_EQ(store.writes, 0);
    }
}

// Damaged or hand-edited values must load as something safe: the history
// must not be trimmed away, polling must not spin, text must not read as true.
TEST(Preferences, DamagedValuesLoadAsTheDefaultOrClampedToTheirRange) {
    struct Case {
        const char* key;
        QVariant stored;
        QVariant expected;
    };
    const Case cases[] = {
        {"historyLimit", 0, 10},
        {"historyLimit", u"0"_s, 10},
        {"historyLimit", u"abc"_s, 100},
        {"historyLimit", u""_s, 100},
        {"historyLimit", u"250"_s, 250},
        {"historyLimit", u" 250 "_s, 250},
        {"historyLimit", 250.0, 250},
        {"historyLimit", 250.5, 100},
        {"historyLimit", u"1e9"_s, 100},
        {"historyLimit", 5000, 1000},
        {"historyLimit", qint64(1) << 40, 1000},
        {"historyLimit", -3, 100},
        {"historyLimit", true, 100},
        {"historyLimit", QStringList{u"1"_s, u"2"_s}, 100},
        {"pinLimit", 0, 1},
        {"pinLimit", 99, 20},
        {"maxClipLength", 2000000, 1000000},
        {"maxClipLength", -1, 0},
        {"syncMaxLength", -1, 100000},
        {"syncMaxLength", u"0"_s, 0},
        {"syncMaxLength", 5000000, 5000000},
        {"pollInterval", 0, 0.1},
        {"pollInterval", u"0"_s, 0.1},
        {"pollInterval", 0.01, 0.1},
        {"pollInterval", u"1.5"_s, 1.5},
        {"pollInterval", 10, 2.0},
        {"pollInterval", -1, 0.4},
        {"pollInterval", u"nan"_s, 0.4},
        {"pollInterval", u"inf"_s, 0.4},
        {"pollInterval", u"fast"_s, 0.4},
        {"panelCustomWidth", -20, 0.0},
        {"panelCustomWidth", u"512"_s, 512.0},
        {"panelCustomHeight", u"tall"_s, 0.0},
        {"skipShortClips", u"abc"_s, false},
        {"skipShortClips", u"true"_s, true},
        {"skipShortClips", u"TRUE"_s, true},
        {"skipShortClips", u"1"_s, true},
        {"skipShortClips", 2, false},
        {"pasteOnClick", u"false"_s, false},
        {"pasteOnClick", u"0"_s, false},
        {"pasteOnClick", u"no"_s, true},
        {"pasteOnClick", 0, false},
        {"ignoredApps", u"org.kde.kate"_s, QStringList{u"org.kde.kate"_s}},
        {"ignoredApps", 42, QStringList()},
        {"ignoredApps", QVariantList{u"a"_s, 1}, QStringList()},
        {"relayURL", QStringList{u"wss://a"_s, u"b"_s}, QString()},
        {"relayURL", u"wss://relay.example.net"_s, u"wss://relay.example.net"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + show(c.stored));
        MemorySettingsStore store;
        store.values.insert(QString::fromLatin1(c.key), c.stored);
        Preferences prefs(store);
        EXPECT_TRUE(same(prefs.property(c.key), c.expected)) << show(prefs.property(c.key));
    }
}

TEST(Preferences, ShortcutsLoadFromJsonOrFallBack) {
    const auto defaultCombo = OptionalKeyCombo(KeyCombo::defaultOpenPanel());
    const auto f5 = OptionalKeyCombo(KeyCombo{0xffc2, 0});
    struct Case {
        const char* name;
        std::optional<QVariant> stored;
        OptionalKeyCombo openPanel;
        OptionalKeyCombo togglePause;
    };
    const Case cases[] = {
        {"missing", std::nullopt, defaultCombo, std::nullopt},
        {"valid", QByteArray(R"({"keyCode":65474,"carbonModifiers":0})"), f5, f5},
        {"valid as text", u"{\"carbonModifiers\":0,\"keyCode\":65474}"_s, f5, f5},
        {"no modifiers key", QByteArray(R"({"keyCode":65474})"), defaultCombo, std::nullopt},
        {"not json", QByteArray("v"), defaultCombo, std::nullopt},
        {"wrong type", 42, defaultCombo, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySettingsStore store;
        if (c.stored) {
            store.values.insert(u"openPanelHotKey"_s, *c.stored);
            store.values.insert(u"togglePauseHotKey"_s, *c.stored);
        }
        Preferences prefs(store);
        EXPECT_EQ(prefs.openPanelHotKey(), c.openPanel);
        EXPECT_EQ(prefs.togglePauseHotKey(), c.togglePause);
    }
}

TEST(Preferences, AClearedOpenPanelShortcutReturnsAfterRestartButAClearedPauseOneDoesNot) {
    MemorySettingsStore store;
    {
        Preferences prefs(store);
        prefs.setOpenPanelHotKey(KeyCombo{0x6b, KeyCombo::Ctrl | KeyCombo::Shift});
        prefs.setTogglePauseHotKey(KeyCombo{0x70, KeyCombo::Alt});
        prefs.setOpenPanelHotKey(std::nullopt);
        prefs.setTogglePauseHotKey(std::nullopt);
        EXPECT_FALSE(prefs.openPanelHotKey());
        EXPECT_FALSE(store.contains(u"openPanelHotKey"_s));
        EXPECT_FALSE(store.contains(u"togglePauseHotKey"_s));
    }
    Preferences again(store);
    EXPECT_EQ(again.openPanelHotKey(), KeyCombo::defaultOpenPanel());
    EXPECT_FALSE(again.togglePauseHotKey());
}

TEST(Preferences, ResolvedPanelWidthPrefersTheCustomWidth) {
    struct Case {
        PanelWidthOption preset;
        double custom;
        double expected;
    };
    const Case cases[] = {
        {PanelWidthOption::narrow, 0, 320},   {PanelWidthOption::standard, 0, 380},
        {PanelWidthOption::wide, 0, 460},     {PanelWidthOption::wide, 512, 512},
        {PanelWidthOption::narrow, 0.5, 0.5},
    };
    MemorySettingsStore store;
    Preferences prefs(store);
    for (const Case& c : cases) {
        prefs.setPanelWidth(c.preset);
        prefs.setPanelCustomWidth(c.custom);
        EXPECT_DOUBLE_EQ(prefs.resolvedPanelWidth(), c.expected) << c.custom;
    }
}

TEST(Preferences, ResetToDefaultsAssignsEveryDefaultAndLeavesTheLoginItem) {
    MemorySettingsStore store;
    store.values.insert(u"unrelated"_s, u"kept"_s);
    FakeLoginItem login;
    login.enabled = true;
    Preferences prefs(store, &login);
    assignAll(prefs, true);
    auto spies = spyAll(prefs);

    prefs.resetToDefaults();

    expectValues(prefs, false);
    for (const Setting& s : settings())
        EXPECT_GE(spies.at(s.key)->count(), 1) << s.key;
    QStringList expectedKeys = Preferences::persistentKeys();
    expectedKeys.removeOne(u"togglePauseHotKey"_s);
    expectedKeys.append(u"unrelated"_s);
    expectedKeys.sort();
    EXPECT_EQ(store.values.keys(), expectedKeys);
    EXPECT_EQ(store.values.value(u"historyLimit"_s), QVariant(100));
    EXPECT_EQ(store.values.value(u"theme"_s), QVariant(u"system"_s));

    EXPECT_TRUE(prefs.launchAtLogin());
    EXPECT_EQ(spies.at("launchAtLogin")->count(), 0);
    EXPECT_EQ(login.changes, 0);
    EXPECT_TRUE(login.enabled);
}

TEST(Preferences, LaunchAtLoginFollowsTheLoginItem) {
    MemorySettingsStore store;
    FakeLoginItem login;
    login.enabled = true;
    Preferences prefs(store, &login);
    EXPECT_TRUE(prefs.launchAtLogin());

    // A failed change keeps the assigned value and shows the error.
    login.failure = u"Permission denied"_s;
    prefs.setLaunchAtLogin(false);
    EXPECT_FALSE(prefs.launchAtLogin());
    EXPECT_EQ(prefs.launchAtLoginError(), u"Permission denied"_s);
    EXPECT_EQ(login.changes, 1);

    // Asking for the state the item already has does not touch it, and the
    // earlier error stays.
    prefs.setLaunchAtLogin(true);
    EXPECT_EQ(login.changes, 1);
    EXPECT_EQ(prefs.launchAtLoginError(), u"Permission denied"_s);

    login.failure.reset();
    QSignalSpy errorSpy(&prefs, &Preferences::launchAtLoginErrorChanged);
    prefs.setLaunchAtLogin(false);
    EXPECT_EQ(login.changes, 2);
    EXPECT_FALSE(login.enabled);
    EXPECT_TRUE(prefs.launchAtLoginError().isEmpty());
    EXPECT_EQ(errorSpy.count(), 1);

    EXPECT_FALSE(store.contains(u"launchAtLogin"_s));
    EXPECT_FALSE(store.contains(u"launchAtLoginError"_s));
}
