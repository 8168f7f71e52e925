#include "platform/xdg/PortalHotKeyService.h"
#include "PrivateBus.h"
#include "core/prefs/Preferences.h"
#include "core/shortcuts/HotKeyManager.h"
#include "support/LogCapture.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Action = HotKeyManager::Action;

inline void PrintTo(const Action& a, std::ostream* out) {
    *out << "Action(" << int(a.kind) << ", " << a.index << ')';
}

// Shortcuts through the desktop portal, the portal being a stand-in process
// on a bus of the test's own; the manager and preferences are the real ones.
class PortalHotKeyServiceTest : public ::testing::Test {
protected:
    void TearDown() override {
        manager.reset();
        service.reset();
        if (portal.state() != QProcess::NotRunning) {
            portal.kill();
            portal.waitForFinished();
        }
    }

    // Starts the stand-in (none when `arguments` is null) and the client.
    void start(const std::optional<QStringList>& arguments = QStringList{}) {
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
        if (arguments) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
            portal.setProcessEnvironment(env);
            portal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            portal.start(QStringLiteral(TINDREL_FAKE_PORTAL), *arguments);
            ASSERT_TRUE(portal.waitForReadyRead(10000)) << "the stand-in portal did not start";
        }
        service = std::make_unique<PortalHotKeyService>(bus.connection());
        manager = std::make_unique<HotKeyManager>(*service);
        QObject::connect(manager.get(), &HotKeyManager::triggered,
                         [this](Action a) { actions.append(a); });
    }

    QVariant ask(const QString& method, const QVariantList& args = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.portal.Desktop"_s,
                                                           u"/org/freedesktop/portal/desktop"_s,
                                                           u"io.tindrel.test.FakePortal"_s, method);
        call.setArguments(args);
        const QDBusMessage answer = bus.connection().call(call);
        return answer.arguments().value(0);
    }
    QStringList bound() { return ask(u"Bound"_s).toStringList(); }
    // Open and closed sessions so far.
    std::pair<uint, uint> sessions() {
        QDBusMessage call = QDBusMessage::createMethodCall(
            u"org.freedesktop.portal.Desktop"_s, u"/org/freedesktop/portal/desktop"_s,
            u"io.tindrel.test.FakePortal"_s, u"Sessions"_s);
        const QVariantList values = bus.connection().call(call).arguments();
        return {values.value(0).toUInt(), values.value(1).toUInt()};
    }
    QString lastSession() {
        QDBusMessage call = QDBusMessage::createMethodCall(
            u"org.freedesktop.portal.Desktop"_s, u"/org/freedesktop/portal/desktop"_s,
            u"io.tindrel.test.FakePortal"_s, u"Sessions"_s);
        return bus.connection().call(call).arguments().value(2).toString();
    }
    // The stand-in answers in order on one connection, the client's: once a
    // later call is answered, all it sent before is queued here, and all the
    // client sent before has reached it. Nothing is waited for by the clock.
    void settle() {
        QCoreApplication::sendPostedEvents();
        ask(u"Sessions"_s);
        QCoreApplication::sendPostedEvents();
    }
    bool waitForBound(const QStringList& expected) {
        return QTest::qWaitFor([&] { return bound() == expected; }, 10000);
    }

    PrivateBus bus;
    QProcess portal;
    MemorySettingsStore settings;
    Preferences prefs{settings};
    LogCapture log;
    std::unique_ptr<PortalHotKeyService> service;
    std::unique_ptr<HotKeyManager> manager;
    QList<Action> actions;
};

TEST(PortalTrigger, WritesKeysInTheShortcutsConvention) {
    struct Case {
        quint32 keysym;
        quint32 modifiers;
        QString trigger;
    };
    const Case cases[] = {
        {'v', KeyCombo::Ctrl | KeyCombo::Alt, u"CTRL+ALT+v"_s},
        {'1', KeyCombo::Alt | KeyCombo::Super, u"ALT+LOGO+1"_s},
        {0xffbe /* F1 */, KeyCombo::Super, u"LOGO+F1"_s},
        {' ', KeyCombo::Shift | KeyCombo::Ctrl, u"CTRL+SHIFT+space"_s},
        {0xff0d /* Return */, 0, u"Return"_s},
        {0x1fffffff, KeyCombo::Ctrl, QString()}, // no such keysym
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortalHotKeyService::trigger(c.keysym, c.modifiers), c.trigger) << c.keysym;
}

TEST_F(PortalHotKeyServiceTest, BindsThePreferredShortcutsAndActsOnTheirActivation) {
    prefs.setTogglePauseHotKey(KeyCombo{'p', KeyCombo::Ctrl | KeyCombo::Alt});
    prefs.setPinnedModifier(PinnedShortcutModifier::altSuper);
    prefs.setPinLimit(2);
    ASSERT_NO_FATAL_FAILURE(start());
    manager->reload(prefs);
    ASSERT_TRUE(waitForBound({u"paste-pinned-1=ALT+LOGO+1|Paste pinned clip 1"_s,
                              u"paste-pinned-2=ALT+LOGO+2|Paste pinned clip 2"_s,
                              u"toggle-panel=CTRL+ALT+v|Open Tindrel"_s,
                              u"toggle-pause=CTRL+ALT+p|Pause / resume tracking"_s}))
        << bound().join(u' ').toStdString();
    EXPECT_TRUE(service->isAvailable());

    ask(u"Press"_s, {u"toggle-panel"_s, QString()});
    ask(u"Press"_s, {u"paste-pinned-2"_s, QString()});
    ask(u"Press"_s, {u"no-such-shortcut"_s, QString()});
    // A later press comes after the unknown one: once it is seen, the
    // unknown one has been taken too.
    ask(u"Press"_s, {u"paste-pinned-1"_s, QString()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return actions.size() >= 3; }, 10000));
    EXPECT_EQ(actions,
              (QList<Action>{Action::openPanel(), Action::pastePinned(1), Action::pastePinned(0)}));
    EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
}

TEST_F(PortalHotKeyServiceTest, RebindsInAFreshSessionOnlyWhenTheShortcutsChange) {
    ASSERT_NO_FATAL_FAILURE(start());
    manager->reload(prefs);
    ASSERT_TRUE(waitForBound({u"toggle-panel=CTRL+ALT+v|Open Tindrel"_s}));
    const QString first = lastSession();

    // A reload of the same set, and the conflict check, leave the session be.
    manager->reload(prefs);
    EXPECT_EQ(manager->conflictMessage(KeyCombo{'k', KeyCombo::Ctrl}, prefs), std::nullopt);
    settle();
    EXPECT_EQ(sessions(), (std::pair<uint, uint>{1, 0}));

    prefs.setOpenPanelHotKey(KeyCombo{'b', KeyCombo::Ctrl | KeyCombo::Shift});
    manager->reload(prefs);
    ASSERT_TRUE(waitForBound({u"toggle-panel=CTRL+SHIFT+b|Open Tindrel"_s}))
        << bound().join(u' ').toStdString();
    EXPECT_EQ(sessions(), (std::pair<uint, uint>{1, 1}));

    // A press still on its way from the old session is not a press now.
    ask(u"Press"_s, {u"toggle-panel"_s, first});
    ask(u"Press"_s, {u"toggle-panel"_s, QString()});
    settle();
    EXPECT_EQ(actions, QList<Action>{Action::openPanel()});

    // Recording a shortcut lets go of all of them.
    manager->beginRecording();
    ASSERT_TRUE(waitForBound({}));
    EXPECT_EQ(sessions(), (std::pair<uint, uint>{0, 2}));
}

TEST_F(PortalHotKeyServiceTest, RefusalsOfTheDesktopAreLoggedNotSilent) {
    struct Case {
        const char* name;
        QStringList arguments;
        QStringList lines;
    };
    const Case cases[] = {
        {"declined",
         {u"--decline"_s},
         {u"Tindrel: could not register Ctrl+Alt+V (the desktop declined it)"_s,
          u"Tindrel: could not register Ctrl+Alt+P (the desktop declined it)"_s}},
        {"one left unbound",
         {u"--leave-unbound"_s, u"toggle-pause"_s},
         {u"Tindrel: could not register Ctrl+Alt+P (the desktop left it unbound)"_s}},
        // Success that binds nothing, as Plasma 5.27's portal answers.
        {"an empty list",
         {u"--bind-nothing"_s},
         {u"Tindrel: could not register Ctrl+Alt+V (the desktop left it unbound)"_s,
          u"Tindrel: could not register Ctrl+Alt+P (the desktop left it unbound)"_s}},
        {"no list",
         {u"--answer-without-list"_s},
         {u"Tindrel: could not register Ctrl+Alt+V (the desktop left it unbound)"_s,
          u"Tindrel: could not register Ctrl+Alt+P (the desktop left it unbound)"_s}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        log.lines.clear();
        prefs.setTogglePauseHotKey(KeyCombo{'p', KeyCombo::Ctrl | KeyCombo::Alt});
        ASSERT_NO_FATAL_FAILURE(start(c.arguments));
        manager->reload(prefs);
        ASSERT_TRUE(QTest::qWaitFor([&] { return log.lines.size() >= c.lines.size(); }, 10000));
        QStringList lines = log.lines;
        lines.sort();
        QStringList expected = c.lines;
        expected.sort();
        EXPECT_EQ(lines, expected);
        EXPECT_TRUE(service->isAvailable());
        EXPECT_EQ(manager->registeredIds().size(), 2 - c.lines.size());
        // What the settings show: a refused shortcut is not shown as bound.
        for (const Action action : {Action::openPanel(), Action::togglePause()}) {
            const bool refused = manager->refusal(action).has_value();
            const QString keys = action == Action::openPanel() ? u"Ctrl+Alt+V"_s : u"Ctrl+Alt+P"_s;
            EXPECT_EQ(refused, c.lines.join(u' ').contains(keys));
        }
    }
}

TEST_F(PortalHotKeyServiceTest, WithoutThePortalSaysSoAndRegistersNothing) {
    struct Case {
        const char* name;
        std::optional<QStringList> portalArguments;
    };
    const Case cases[] = {
        {"no portal on the bus", std::nullopt},
        {"a portal without global shortcuts", QStringList{u"--no-shortcuts"_s}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        log.lines.clear();
        ASSERT_NO_FATAL_FAILURE(start(c.portalArguments));
        int changes = 0;
        QObject::connect(manager.get(), &HotKeyManager::availabilityChanged,
                         [&changes] { ++changes; });
        manager->reload(prefs);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !manager->isAvailable(); }, 10000));
        EXPECT_EQ(changes, 1);
        EXPECT_TRUE(manager->registeredIds().isEmpty());
        ASSERT_EQ(log.lines.size(), 1) << log.lines.join(u'\n').toStdString();
        EXPECT_TRUE(log.lines[0].startsWith(u"Tindrel: no global shortcuts in this session ("_s));
        EXPECT_TRUE(log.lines[0].endsWith(
            u"bind \"tindrel --toggle-panel\" in your desktop's keyboard settings"_s));
        // Later reloads and checks stay quiet: nothing is asked of anyone.
        manager->reload(prefs);
        EXPECT_EQ(manager->conflictMessage(KeyCombo{'k', KeyCombo::Ctrl}, prefs), std::nullopt);
        EXPECT_TRUE(manager->registeredIds().isEmpty());
        EXPECT_EQ(log.lines.size(), 1);
    }
}

TEST_F(PortalHotKeyServiceTest, BindsAgainWhenThePortalTurnsUpLateOrRestarts) {
    ASSERT_NO_FATAL_FAILURE(start(std::nullopt));
    manager->reload(prefs);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !manager->isAvailable(); }, 10000));

    const auto startPortal = [this] {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
        portal.setProcessEnvironment(env);
        portal.start(QStringLiteral(TINDREL_FAKE_PORTAL), {});
        return portal.waitForReadyRead(10000);
    };
    const QStringList expected{u"toggle-panel=CTRL+ALT+v|Open Tindrel"_s};
    ASSERT_TRUE(startPortal());
    ASSERT_TRUE(waitForBound(expected)) << bound().join(u' ').toStdString();
    EXPECT_TRUE(manager->isAvailable());

    // A new portal process knows nothing of the old one's session.
    portal.kill();
    portal.waitForFinished();
    ASSERT_TRUE(startPortal());
    ASSERT_TRUE(waitForBound(expected)) << bound().join(u' ').toStdString();
    ask(u"Press"_s, {u"toggle-panel"_s, QString()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !actions.isEmpty(); }, 10000));
    EXPECT_EQ(actions, QList<Action>{Action::openPanel()});
    // Said once when it went missing; coming back is no news.
    EXPECT_EQ(log.lines.size(), 1) << log.lines.join(u'\n').toStdString();
}
