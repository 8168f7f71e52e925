#include "platform/xdg/PortalRemoteDesktop.h"
#include "PrivateBus.h"
#include "support/LogCapture.h"
#include "support/MemorySettingsStore.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTest>
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace Qt::StringLiterals;

namespace {
const QString kRoot = u"/org/freedesktop/portal/desktop"_s;
const QString kRemote = u"org.freedesktop.portal.RemoteDesktop"_s;

// A stand-in for the portal's remote control, served in the test's own
// process on a private bus: requests answered by a Response signal after
// the reply, as the portal does. It asks "the user" (counted) unless the
// session brings a token it gave out before.
class FakeRemoteDesktop : public QDBusVirtualObject {
public:
    enum class Answer { allow, refuse, fail };

    uint version = 1;
    Answer answer = Answer::allow;
    // GNOME's portal also ends a session the user refused, right after its
    // answer.
    bool closesRefused = false;
    int questions = 0;
    QVariantMap selected; // the last SelectDevices options
    QString session;
    // (keysym, pressed) in the order they came.
    QList<std::pair<quint32, bool>> keys;
    int closed = 0;
    // Key calls are left unanswered until answerHeld().
    bool holdKeys = false;
    QList<QDBusMessage> held;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const QString member = message.member();
        const QVariantList args = message.arguments();
        if (member == u"Get"_s) {
            bus.send(message.createReply(QVariant::fromValue(QDBusVariant(version))));
        } else if (member == u"CreateSession"_s) {
            const QVariantMap options = qdbus_cast<QVariantMap>(args.value(0));
            session =
                kRoot + u"/session/x/"_s + options.value(u"session_handle_token"_s).toString();
            respond(bus, message, options, 0, {{u"session_handle"_s, session}});
        } else if (member == u"SelectDevices"_s) {
            selected = qdbus_cast<QVariantMap>(args.value(1));
            respond(bus, message, selected, 0, {});
        } else if (member == u"Start"_s) {
            start(bus, message, qdbus_cast<QVariantMap>(args.value(2)));
        } else if (member == u"NotifyKeyboardKeysym"_s) {
            keys.append({quint32(args.value(2).toInt()), args.value(3).toUInt() == 1});
            if (holdKeys)
                held.append(message);
            else
                bus.send(message.createReply());
        } else if (member == u"Close"_s) {
            ++closed;
            bus.send(message.createReply());
        } else {
            bus.send(
                message.createErrorReply(u"org.freedesktop.DBus.Error.UnknownMethod"_s, member));
        }
        return true;
    }

    void answerHeld(const QDBusConnection& bus) {
        for (const QDBusMessage& message : std::as_const(held))
            bus.send(message.createReply());
        held.clear();
    }

    // The desktop ends the session, as when the user stops the remote control.
    void end(const QDBusConnection& bus) {
        bus.send(
            QDBusMessage::createSignal(session, u"org.freedesktop.portal.Session"_s, u"Closed"_s)
            << QVariantMap());
    }

private:
    void start(const QDBusConnection& bus, const QDBusMessage& message, const QVariantMap& opts) {
        const bool restored = version >= 2 && !m_token.isEmpty() &&
                              selected.value(u"restore_token"_s).toString() == m_token;
        if (!restored)
            ++questions;
        if (answer != Answer::allow) {
            respond(bus, message, opts, answer == Answer::refuse ? 1 : 2, {});
            if (closesRefused)
                end(bus);
            return;
        }
        QVariantMap results{{u"devices"_s, 1u}};
        if (version >= 2 && selected.value(u"persist_mode"_s).toUInt() == 2) {
            m_token = u"token-"_s + QString::number(questions);
            results.insert(u"restore_token"_s, m_token);
        }
        respond(bus, message, opts, 0, results);
    }

    static void respond(const QDBusConnection& bus, const QDBusMessage& message,
                        const QVariantMap& options, uint response, const QVariantMap& results) {
        QString sender = message.service();
        sender.remove(0, 1).replace(u'.', u'_');
        const QString path =
            kRoot + u"/request/"_s + sender + u'/' + options.value(u"handle_token"_s).toString();
        bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        bus.send(
            QDBusMessage::createSignal(path, u"org.freedesktop.portal.Request"_s, u"Response"_s)
            << response << results);
    }

    QString m_token;
};

const QList<std::pair<quint32, bool>> kCtrlV = {
    {XKB_KEY_Control_L, true}, {XKB_KEY_v, true}, {XKB_KEY_v, false}, {XKB_KEY_Control_L, false}};
} // namespace

class PortalRemoteDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
        server = QDBusConnection::connectToBus(bus.address(), u"fake-remote-desktop"_s);
        ASSERT_TRUE(server.registerVirtualObject(kRoot, &fake, QDBusConnection::SubPath));
        ASSERT_TRUE(server.registerService(u"org.freedesktop.portal.Desktop"_s));
    }
    void TearDown() override {
        keys.reset();
        server.unregisterObject(kRoot);
        QDBusConnection::disconnectFromBus(u"fake-remote-desktop"_s);
    }

    void startClient() {
        keys = std::make_unique<PortalRemoteDesktop>(bus.connection(), &settings);
    }
    // Everything the client sent before has reached the stand-in: its
    // connection delivers in order, and this goes on it last.
    void roundTrip() {
        QDBusMessage get =
            QDBusMessage::createMethodCall(u"org.freedesktop.portal.Desktop"_s, kRoot,
                                           u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
        get << kRemote << u"version"_s;
        QDBusPendingCall call = bus.connection().asyncCall(get);
        ASSERT_TRUE(QTest::qWaitFor([&] { return call.isFinished(); }));
    }
    bool settlesAs(PastePermission permission) {
        return QTest::qWaitFor([&] { return keys->permission() == permission; });
    }

    PrivateBus bus;
    QDBusConnection server{QString()};
    FakeRemoteDesktop fake;
    MemorySettingsStore settings;
    std::unique_ptr<PortalRemoteDesktop> keys;
};

TEST_F(PortalRemoteDesktopTest, AsksAtTheFirstPasteAndPressesItOnceAllowed) {
    startClient();
    // Nothing is asked before a paste needs it.
    QCoreApplication::processEvents();
    EXPECT_EQ(keys->permission(), PastePermission::notAsked);
    EXPECT_EQ(fake.questions, 0);

    EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV)); // while asking: still one paste
    ASSERT_TRUE(settlesAs(PastePermission::granted)) << keys->problem().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.keys.size() >= 4; }));
    EXPECT_EQ(fake.keys, kCtrlV);
    EXPECT_EQ(fake.selected.value(u"types"_s).toUInt(), 1u); // the keyboard alone
    // Version 1 remembers nothing: no persistence is asked of it.
    EXPECT_FALSE(fake.selected.contains(u"persist_mode"_s));

    fake.keys.clear();
    EXPECT_TRUE(keys->sendChord(PasteChord::ShiftInsert));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.keys.size() >= 4; }));
    EXPECT_EQ(fake.keys, (QList<std::pair<quint32, bool>>{{XKB_KEY_Shift_L, true},
                                                          {XKB_KEY_Insert, true},
                                                          {XKB_KEY_Insert, false},
                                                          {XKB_KEY_Shift_L, false}}));
    EXPECT_EQ(fake.questions, 1);
}

TEST_F(PortalRemoteDesktopTest, AnswersOtherThanYesPressNothingAndAreNotAskedAgain) {
    struct Case {
        const char* name;
        FakeRemoteDesktop::Answer answer;
        bool closesRefused;
        PastePermission permission;
    };
    const Case cases[] = {
        {"refused", FakeRemoteDesktop::Answer::refuse, false, PastePermission::refused},
        // The session's end that follows is no revocation of a grant.
        {"refused, session ended", FakeRemoteDesktop::Answer::refuse, true,
         PastePermission::refused},
        {"failed", FakeRemoteDesktop::Answer::fail, false, PastePermission::unavailable},
    };
    for (const auto& [name, answer, closesRefused, permission] : cases) {
        SCOPED_TRACE(name);
        fake.answer = answer;
        fake.closesRefused = closesRefused;
        fake.questions = 0;
        startClient();
        EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV));
        ASSERT_TRUE(settlesAs(permission));
        roundTrip(); // whatever the portal sent after its answer has come
        EXPECT_EQ(keys->permission(), permission);
        EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV));
        QCoreApplication::processEvents();
        EXPECT_EQ(keys->permission(), permission);
        EXPECT_EQ(fake.questions, 1);
        EXPECT_TRUE(fake.keys.isEmpty());
    }
}

TEST_F(PortalRemoteDesktopTest, AsksAgainAtOnceAtTheUsersWordAfterAnythingButYes) {
    const std::pair<FakeRemoteDesktop::Answer, PastePermission> cases[] = {
        {FakeRemoteDesktop::Answer::refuse, PastePermission::refused},
        {FakeRemoteDesktop::Answer::fail, PastePermission::unavailable},
    };
    for (const auto& [answer, permission] : cases) {
        SCOPED_TRACE(int(permission));
        fake.answer = answer;
        fake.questions = 0;
        startClient();
        keys->sendChord(PasteChord::CtrlV);
        ASSERT_TRUE(settlesAs(permission));

        fake.answer = FakeRemoteDesktop::Answer::allow;
        EXPECT_TRUE(keys->askAgain());
        // The question opens now, not at some later paste.
        EXPECT_EQ(keys->permission(), PastePermission::asking);
        ASSERT_TRUE(settlesAs(PastePermission::granted));
        EXPECT_EQ(fake.questions, 2);
        EXPECT_TRUE(keys->problem().isEmpty());
        // The paste refused long ago is not pressed now, into whatever is in front.
        roundTrip();
        EXPECT_TRUE(fake.keys.isEmpty());

        // Once granted there is nothing to ask.
        EXPECT_TRUE(keys->askAgain());
        roundTrip();
        EXPECT_EQ(keys->permission(), PastePermission::granted);
        EXPECT_EQ(fake.questions, 2);
    }
}

TEST_F(PortalRemoteDesktopTest, SaysOnceWhenTheDesktopForgetsTheGrantAtQuit) {
    struct Case {
        uint version;
        bool kept;
    };
    for (const Case c : {Case{1, false}, Case{2, true}}) {
        SCOPED_TRACE(c.version);
        LogCapture log;
        fake.version = c.version;
        settings.remove(PortalRemoteDesktop::restoreTokenKey);
        startClient();
        for (int grant = 0; grant < 2; ++grant) { // the second after the desktop ended the first
            keys->sendChord(PasteChord::CtrlV);
            ASSERT_TRUE(settlesAs(PastePermission::granted));
            fake.end(server);
            ASSERT_TRUE(settlesAs(PastePermission::notAsked));
        }
        EXPECT_EQ(keys->keepsGrant(), c.kept);
        if (c.kept) {
            EXPECT_TRUE(log.lines.isEmpty()) << log.lines.join(u'\n').toStdString();
        } else {
            ASSERT_EQ(log.lines.size(), 1);
            EXPECT_TRUE(log.contains(u"version 1) cannot keep a grant"_s))
                << log.lines.first().toStdString();
        }
    }
}

TEST_F(PortalRemoteDesktopTest, KeepsTheGrantAcrossRunsWhereThePortalCan) {
    fake.version = 2;
    startClient();
    keys->sendChord(PasteChord::CtrlV);
    ASSERT_TRUE(settlesAs(PastePermission::granted));
    EXPECT_EQ(fake.selected.value(u"persist_mode"_s).toUInt(), 2u);
    EXPECT_EQ(settings.value(PortalRemoteDesktop::restoreTokenKey).toString(), u"token-1"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.keys.size() >= 4; }));

    // The next run restores the session at start, without a question.
    keys.reset();
    fake.keys.clear();
    startClient();
    ASSERT_TRUE(settlesAs(PastePermission::granted));
    EXPECT_EQ(fake.selected.value(u"restore_token"_s).toString(), u"token-1"_s);
    EXPECT_EQ(fake.questions, 1);
    EXPECT_TRUE(keys->sendChord(PasteChord::CtrlV));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.keys.size() >= 4; }));
    EXPECT_EQ(fake.keys, kCtrlV);
}

TEST_F(PortalRemoteDesktopTest, ASessionTheDesktopEndsIsAskedForAgain) {
    startClient();
    keys->sendChord(PasteChord::CtrlV);
    ASSERT_TRUE(settlesAs(PastePermission::granted));

    fake.end(server);
    ASSERT_TRUE(settlesAs(PastePermission::notAsked));
    fake.keys.clear();
    EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV));
    ASSERT_TRUE(settlesAs(PastePermission::granted));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.keys.size() >= 4; }));
    EXPECT_EQ(fake.keys, kCtrlV);
    EXPECT_EQ(fake.questions, 2);
}

TEST_F(PortalRemoteDesktopTest, WithoutThePortalItSaysItCannotAsk) {
    server.unregisterService(u"org.freedesktop.portal.Desktop"_s);
    startClient();
    EXPECT_FALSE(keys->sendChord(PasteChord::CtrlV));
    ASSERT_TRUE(settlesAs(PastePermission::unavailable));
    EXPECT_FALSE(keys->problem().isEmpty());
}

TEST_F(PortalRemoteDesktopTest, SendsEachKeyOnlyOnceThePortalTookTheOneBefore) {
    startClient();
    keys->sendChord(PasteChord::CtrlV);
    ASSERT_TRUE(settlesAs(PastePermission::granted));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.keys.size() >= 4; }));
    fake.keys.clear();

    fake.holdKeys = true;
    EXPECT_TRUE(keys->sendChord(PasteChord::CtrlV));
    for (qsizetype sent = 1; sent <= kCtrlV.size(); ++sent) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return fake.keys.size() >= sent; }));
        roundTrip();
        // The portal may handle calls in parallel: a second key sent now
        // could overtake the first.
        EXPECT_EQ(fake.keys.size(), sent);
        fake.answerHeld(server);
    }
    EXPECT_EQ(fake.keys, kCtrlV);
}
