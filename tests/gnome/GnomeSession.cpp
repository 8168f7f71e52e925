#include "GnomeSession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>

using namespace Qt::StringLiterals;

DesktopSession readGnomeSession() {
    return DesktopSession::read(
        QStringLiteral(TINDREL_GNOME_ENV_FILE), u"the headless GNOME Shell fixture has not run"_s,
        {{u"XDG_CURRENT_DESKTOP"_s, u"GNOME"_s}, {u"XDG_SESSION_DESKTOP"_s, u"gnome"_s}});
}

bool pressGnomeKeys(const DesktopSession& session, const QString& chord) {
    // A connection of its own: the test's may be busy being someone else.
    QDBusConnection bus = QDBusConnection::connectToBus(session.busAddress, u"gnome-keys"_s);
    QDBusMessage call =
        QDBusMessage::createMethodCall(u"io.tindrel.TestKeyboard"_s, u"/io/tindrel/TestKeyboard"_s,
                                       u"io.tindrel.TestKeyboard"_s, u"Press"_s);
    call << chord;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 15000);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
        << chord.toStdString() << ": " << reply.errorMessage().toStdString();
    return reply.type() == QDBusMessage::ReplyMessage;
}

QString gnomeShellLog(const DesktopSession& session) {
    QFile file(session.values.value(u"SHELL_LOG"_s));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool GnomeTest::pressKeys(const QString& chord) {
    return pressGnomeKeys(session, chord);
}

QString GnomeTest::shellLog() const {
    return gnomeShellLog(session);
}

bool GnomeTindrelTest::pressKeys(const QString& chord) {
    return pressGnomeKeys(session, chord);
}

QString GnomeTindrelTest::shellLog() const {
    return gnomeShellLog(session);
}
