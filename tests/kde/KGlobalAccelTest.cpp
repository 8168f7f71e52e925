#include "KdeSession.h"
#include "core/prefs/Preferences.h"
#include "core/shortcuts/HotKeyManager.h"
#include "platform/kde/KGlobalAccelHotKeyService.h"
#include "support/LogCapture.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Action = HotKeyManager::Action;

namespace {
const QString kOurs = u"io.tindrel.Tindrel"_s;
const QString kOther = u"io.tindrel.test.Other"_s;
constexpr int kCtrlAltV = (Qt::CTRL | Qt::ALT | Qt::Key_V).toCombined();
constexpr int kCtrlAltC = (Qt::CTRL | Qt::ALT | Qt::Key_C).toCombined();
constexpr int kCtrlAltB = (Qt::CTRL | Qt::ALT | Qt::Key_B).toCombined();
} // namespace

// The shortcut service inside the real KWin, reached on the session's bus
// the way System Settings and KDE's own programs reach it.
class KGlobalAccelClient {
public:
    void open(const QString& address) {
        qDBusRegisterMetaType<QList<int>>();
        qDBusRegisterMetaType<QList<QStringList>>();
        bus = QDBusConnection::connectToBus(address, kConnection);
        ASSERT_TRUE(bus.isConnected()) << bus.lastError().message().toStdString();
        // Each case starts from a service that has never heard of us.
        forgetAll();
    }
    void close() {
        if (bus.isConnected())
            forgetAll();
        QDBusConnection::disconnectFromBus(kConnection);
    }

    QDBusMessage ask(const QString& path, const QString& interface, const QString& method,
                     const QVariantList& arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(u"org.kde.kglobalaccel"_s, path, interface, method);
        message.setArguments(arguments);
        const QDBusMessage answer = bus.call(message);
        EXPECT_EQ(answer.type(), QDBusMessage::ReplyMessage)
            << method.toStdString() << ": " << answer.errorMessage().toStdString();
        return answer;
    }
    QDBusMessage kga(const QString& method, const QVariantList& arguments) {
        return ask(u"/kglobalaccel"_s, u"org.kde.KGlobalAccel"_s, method, arguments);
    }
    static QStringList id(const QString& component, const QString& action) {
        return {component, action, QString(), QString()};
    }
    // The keys the service has for an action; one it would not set shows as 0.
    QList<int> keysOf(const QString& action, const QString& component = kOurs) {
        QList<int> keys = qdbus_cast<QList<int>>(
            kga(u"shortcut"_s, {id(component, action)}).arguments().value(0));
        keys.removeAll(0);
        return keys;
    }
    // The actions listed under a component: {name, friendly name}.
    QList<QStringList> listed(const QString& component) {
        const QList<QStringList> all = qdbus_cast<QList<QStringList>>(
            kga(u"allActionsForComponent"_s, {id(component, {})}).arguments().value(0));
        QList<QStringList> names;
        for (const QStringList& action : all)
            names.append({action.value(1), action.value(3)});
        return names;
    }
    void forget(const QString& component) {
        for (const QStringList& action : listed(component))
            kga(u"unregister"_s, {component, action.value(0)});
    }
    void forgetAll() {
        forget(kOurs);
        forget(kOther);
    }
    QString componentPath() {
        return qdbus_cast<QDBusObjectPath>(kga(u"getComponent"_s, {kOurs}).arguments().value(0))
            .path();
    }
    bool isActive(const QString& path) {
        return ask(path, u"org.kde.kglobalaccel.Component"_s, u"isActive"_s, {})
            .arguments()
            .value(0)
            .toBool();
    }
    // What System Settings does when the user gives an action other keys.
    void setInSystemSettings(const QString& action, const QList<int>& keys) {
        kga(u"setForeignShortcut"_s, {id(kOurs, action), QVariant::fromValue(keys)});
    }
    void invoke(const QString& action) {
        ask(componentPath(), u"org.kde.kglobalaccel.Component"_s, u"invokeShortcut"_s, {action});
    }
    // Another program holding keys, the way KDE's programs register.
    void holdElsewhere(int key) {
        const QStringList action{kOther, u"grab"_s, u"Other"_s, u"Grab"_s};
        kga(u"doRegister"_s, {action});
        kga(u"setShortcut"_s, {action, QVariant::fromValue(QList<int>{key}), uint(2 | 4)});
    }

    QDBusConnection bus{QString()};

private:
    static inline const QString kConnection = u"kglobalaccel-test"_s;
};

class KGlobalAccelTest : public KdeTest {
protected:
    void SetUp() override {
        KdeTest::SetUp();
        if (!IsSkipped())
            desktop.open(session.busAddress);
    }
    void TearDown() override {
        stop();
        desktop.close();
        KdeTest::TearDown();
    }

    void start() {
        QString why;
        service = KGlobalAccelHotKeyService::connect(desktop.bus, &why);
        ASSERT_TRUE(service) << why.toStdString();
        manager = std::make_unique<HotKeyManager>(*service);
        QObject::connect(manager.get(), &HotKeyManager::triggered,
                         [this](Action a) { actions.append(a); });
        // As the application does: a changed preference reloads.
        for (auto changed :
             {&Preferences::openPanelHotKeyChanged, &Preferences::togglePauseHotKeyChanged,
              &Preferences::pinnedModifierChanged})
            QObject::connect(&prefs, changed, manager.get(), [this] {
                ++reloads;
                manager->reload(prefs);
            });
        manager->reload(prefs);
    }
    void stop() {
        manager.reset();
        service.reset();
    }

    QList<int> keysOf(const QString& action, const QString& component = kOurs) {
        return desktop.keysOf(action, component);
    }

    KGlobalAccelClient desktop;
    MemorySettingsStore settings;
    Preferences prefs{settings};
    LogCapture log;
    std::unique_ptr<KGlobalAccelHotKeyService> service;
    std::unique_ptr<HotKeyManager> manager;
    QList<Action> actions;
    int reloads = 0;
};

TEST_F(KGlobalAccelTest, ListsOurShortcutsUnderTindrelAndFiresThemByName) {
    prefs.setTogglePauseHotKey(KeyCombo{'p', KeyCombo::Ctrl | KeyCombo::Alt});
    prefs.setPinnedModifier(PinnedShortcutModifier::altSuper);
    prefs.setPinLimit(2);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(waitUntil([&] { return keysOf(u"toggle-panel"_s) == QList<int>{kCtrlAltV}; }))
        << keysOf(u"toggle-panel"_s).value(0);
    ASSERT_TRUE(waitUntil([&] { return desktop.listed(kOurs).size() == 4; }));
    QList<QStringList> names = desktop.listed(kOurs);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (QList<QStringList>{{u"paste-pinned-1"_s, u"Paste pinned clip 1"_s},
                                         {u"paste-pinned-2"_s, u"Paste pinned clip 2"_s},
                                         {u"toggle-panel"_s, u"Open Tindrel"_s},
                                         {u"toggle-pause"_s, u"Pause / resume tracking"_s}}));
    EXPECT_EQ(keysOf(u"toggle-pause"_s), QList<int>{(Qt::CTRL | Qt::ALT | Qt::Key_P).toCombined()});
    EXPECT_EQ(keysOf(u"paste-pinned-2"_s),
              QList<int>{(Qt::ALT | Qt::META | Qt::Key_2).toCombined()});
    const QList<QStringList> components = qdbus_cast<QList<QStringList>>(
        desktop.kga(u"allMainComponents"_s, {}).arguments().value(0));
    EXPECT_TRUE(std::ranges::any_of(components, [](const QStringList& c) {
        return c.value(0) == kOurs && c.mid(1).contains(u"Tindrel"_s);
    }));

    desktop.invoke(u"toggle-panel"_s);
    desktop.invoke(u"paste-pinned-2"_s);
    ASSERT_TRUE(waitUntil([&] { return actions.size() == 2; }));
    EXPECT_EQ(actions, (QList<Action>{Action::openPanel(), Action::pastePinned(1)}));
    EXPECT_EQ(manager->refusal(Action::openPanel()), std::nullopt);
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();

    // At exit the actions stay listed with their keys, but inactive.
    const QString path = desktop.componentPath();
    stop();
    ASSERT_TRUE(waitUntil([&] { return !desktop.isActive(path); }));
    EXPECT_EQ(keysOf(u"toggle-panel"_s), QList<int>{kCtrlAltV});
    EXPECT_EQ(desktop.listed(kOurs).size(), 4);
}

TEST_F(KGlobalAccelTest, KeysGivenInSystemSettingsBecomeTindrelsOwn) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(waitUntil([&] { return keysOf(u"toggle-panel"_s) == QList<int>{kCtrlAltV}; }));

    desktop.setInSystemSettings(u"toggle-panel"_s, {kCtrlAltC});
    ASSERT_TRUE(waitUntil([&] {
        return prefs.openPanelHotKey() == KeyCombo{'c', KeyCombo::Ctrl | KeyCombo::Alt};
    }));
    EXPECT_EQ(reloads, 1);
    // Registered again with the new keys, and not set back: it still fires.
    desktop.invoke(u"toggle-panel"_s);
    ASSERT_TRUE(waitUntil([&] { return actions.size() == 1; }));
    EXPECT_EQ(keysOf(u"toggle-panel"_s), QList<int>{kCtrlAltC});
    EXPECT_EQ(reloads, 1);

    desktop.setInSystemSettings(u"toggle-panel"_s, {});
    ASSERT_TRUE(waitUntil([&] { return !prefs.openPanelHotKey(); }));
    EXPECT_EQ(reloads, 2);
    EXPECT_TRUE(keysOf(u"toggle-panel"_s).isEmpty());
}

TEST_F(KGlobalAccelTest, KeysGivenWhileTindrelDidNotRunAreKeptAtTheNextStart) {
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(waitUntil([&] { return keysOf(u"toggle-panel"_s) == QList<int>{kCtrlAltV}; }));
    stop();
    desktop.setInSystemSettings(u"toggle-panel"_s, {kCtrlAltB});

    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(waitUntil([&] {
        return prefs.openPanelHotKey() == KeyCombo{'b', KeyCombo::Ctrl | KeyCombo::Alt};
    }));
    desktop.invoke(u"toggle-panel"_s);
    ASSERT_TRUE(waitUntil([&] { return actions.size() == 1; }));
    EXPECT_EQ(keysOf(u"toggle-panel"_s), QList<int>{kCtrlAltB});
}

TEST_F(KGlobalAccelTest, KeysAnotherProgramHoldsAreNotClaimed) {
    desktop.holdElsewhere(kCtrlAltV);
    ASSERT_EQ(keysOf(u"grab"_s, kOther), QList<int>{kCtrlAltV});
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(waitUntil([&] { return manager->refusal(Action::openPanel()).has_value(); }));
    EXPECT_EQ(*manager->refusal(Action::openPanel()),
              u"Ctrl+Alt+V is not bound: another program holds these keys in the desktop's "
              "shortcuts."_s);
    EXPECT_EQ(log.lines, QStringList{u"Tindrel: could not register Ctrl+Alt+V (another program "
                                     "holds these keys in the desktop's shortcuts)"_s});
    EXPECT_TRUE(keysOf(u"toggle-panel"_s).isEmpty());
    EXPECT_EQ(keysOf(u"grab"_s, kOther), QList<int>{kCtrlAltV});
    // The preference is the user's still: nothing was rebound.
    EXPECT_EQ(prefs.openPanelHotKey(), KeyCombo::defaultOpenPanel());
}

// The tindrel program itself under KWin: its shortcuts are KDE's.
class TindrelShortcutsOnKWinTest : public KdeTindrelTest {
protected:
    void SetUp() override {
        KdeTindrelTest::SetUp();
        if (!IsSkipped())
            desktop.open(session.busAddress);
    }
    void TearDown() override {
        KdeTindrelTest::TearDown();
        desktop.close();
    }
    KGlobalAccelClient desktop;
};

TEST_F(TindrelShortcutsOnKWinTest, RegistersWithKGlobalAccelAndItsShortcutOpensThePanel) {
    start();
    EXPECT_TRUE(log().contains(u"; shortcuts through kglobalaccel; desktop: KDE Plasma"_s))
        << log().toStdString();
    ASSERT_TRUE(waitUntil([&] {
        return desktop.keysOf(u"toggle-panel"_s) == QList<int>{kCtrlAltV};
    })) << log().toStdString();
    EXPECT_EQ(desktop.listed(kOurs), (QList<QStringList>{{u"toggle-panel"_s, u"Open Tindrel"_s}}));
    ASSERT_FALSE(tindrelWindowShown());

    desktop.invoke(u"toggle-panel"_s);
    EXPECT_TRUE(waitUntil([&] { return tindrelWindowShown(); })) << log().toStdString();
    EXPECT_FALSE(log().contains(u"could not register"_s)) << log().toStdString();

    // Quit: still listed in System Settings with its keys, but inactive.
    const QString path = desktop.componentPath();
    tindrel.terminate();
    ASSERT_TRUE(tindrel.waitForFinished(10000));
    EXPECT_TRUE(waitUntil([&] { return !desktop.isActive(path); }));
    EXPECT_EQ(desktop.keysOf(u"toggle-panel"_s), QList<int>{kCtrlAltV});
}

TEST_F(TindrelShortcutsOnKWinTest, KeysAnotherProgramHoldsAreReportedNotBound) {
    desktop.holdElsewhere(kCtrlAltV);
    start();
    EXPECT_TRUE(waitUntil([&] {
        return log().contains(u"Tindrel: could not register Ctrl+Alt+V (another program holds "
                              "these keys in the desktop's shortcuts)"_s);
    })) << log().toStdString();
    EXPECT_TRUE(desktop.keysOf(u"toggle-panel"_s).isEmpty());
    EXPECT_EQ(desktop.keysOf(u"grab"_s, kOther), QList<int>{kCtrlAltV});
}
