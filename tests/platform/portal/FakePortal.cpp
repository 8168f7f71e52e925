// A stand-in for xdg-desktop-portal's global shortcuts on a private session
// bus: CreateSession, BindShortcuts and Session.Close as the portal
// documents them (a request path answered by a Response signal), Activated
// on demand. A control interface lets the test press a shortcut and ask what
// is bound.
//   tindrel_fake_portal [--no-shortcuts] [--decline] [--leave-unbound NAME]
//                       [--bind-nothing] [--answer-without-list]

#include "platform/xdg/PortalShortcut.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QHash>
#include <QTimer>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
const QString kRoot = u"/org/freedesktop/portal/desktop"_s;
const QString kShortcuts = u"org.freedesktop.portal.GlobalShortcuts"_s;
const QString kControl = u"io.tindrel.test.FakePortal"_s;

class FakePortal : public QDBusVirtualObject {
public:
    bool offered = true;
    bool decline = false;
    // Success with an empty list, as Plasma 5.27's portal answers; or with
    // no list at all.
    bool bindNothing = false;
    bool answerWithoutList = false;
    QString leaveUnbound;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const QString member = message.member();
        const QString iface = message.interface();
        if (iface == u"org.freedesktop.DBus.Properties"_s && member == u"Get"_s)
            return reply(bus, message, getProperty(message));
        if (iface == kShortcuts && offered && member == u"CreateSession"_s)
            return reply(bus, message, createSession(message, bus));
        if (iface == kShortcuts && offered && member == u"BindShortcuts"_s)
            return reply(bus, message, bindShortcuts(message, bus));
        if (iface == u"org.freedesktop.portal.Session"_s && member == u"Close"_s) {
            if (m_sessions.remove(message.path()))
                ++m_closed;
            return reply(bus, message, message.createReply());
        }
        if (iface == kControl)
            return reply(bus, message, control(message, bus));
        return reply(bus, message,
                     message.createErrorReply(u"org.freedesktop.DBus.Error.UnknownMethod"_s,
                                              u"No such method "_s + iface + u'.' + member));
    }

private:
    static bool reply(const QDBusConnection& bus, const QDBusMessage&, const QDBusMessage& answer) {
        bus.send(answer);
        return true;
    }

    static QString requestPath(const QDBusMessage& message, const QVariantMap& options) {
        QString sender = message.service();
        sender.remove(0, 1).replace(u'.', u'_');
        return kRoot + u"/request/"_s + sender + u'/' + options.value(u"handle_token"_s).toString();
    }

    // The Response signal comes after the method's reply, as the portal's does.
    static void respond(const QDBusConnection& bus, const QString& path, uint response,
                        const QVariantMap& results) {
        QTimer::singleShot(0, [bus, path, response, results] {
            QDBusMessage signal = QDBusMessage::createSignal(
                path, u"org.freedesktop.portal.Request"_s, u"Response"_s);
            signal << response << results;
            QDBusConnection(bus).send(signal);
        });
    }

    QDBusMessage getProperty(const QDBusMessage& message) {
        const QVariantList args = message.arguments();
        if (offered && args.value(0).toString() == kShortcuts &&
            args.value(1).toString() == u"version"_s)
            return message.createReply(QVariant::fromValue(QDBusVariant(uint(1))));
        return message.createErrorReply(u"org.freedesktop.DBus.Error.InvalidArgs"_s,
                                        u"No such interface"_s);
    }

    QDBusMessage createSession(const QDBusMessage& message, const QDBusConnection& bus) {
        if (message.signature() != u"a{sv}"_s)
            return message.createErrorReply(u"org.freedesktop.DBus.Error.InvalidArgs"_s,
                                            u"CreateSession takes a{sv}"_s);
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().at(0));
        QString sender = message.service();
        sender.remove(0, 1).replace(u'.', u'_');
        const QString session = kRoot + u"/session/"_s + sender + u'/' +
                                options.value(u"session_handle_token"_s).toString();
        m_sessions.insert(session, {});
        const QString handle = requestPath(message, options);
        respond(bus, handle, 0, {{u"session_handle"_s, session}});
        return message.createReply(QVariant::fromValue(QDBusObjectPath(handle)));
    }

    QDBusMessage bindShortcuts(const QDBusMessage& message, const QDBusConnection& bus) {
        if (message.signature() != u"oa(sa{sv})sa{sv}"_s)
            return message.createErrorReply(u"org.freedesktop.DBus.Error.InvalidArgs"_s,
                                            u"BindShortcuts takes oa(sa{sv})sa{sv}"_s);
        const QVariantList args = message.arguments();
        const QString session = qdbus_cast<QDBusObjectPath>(args.at(0)).path();
        const auto shortcuts = qdbus_cast<QList<PortalShortcut>>(args.at(1));
        const QVariantMap options = qdbus_cast<QVariantMap>(args.at(3));
        const QString handle = requestPath(message, options);
        if (!m_sessions.contains(session))
            return message.createErrorReply(u"org.freedesktop.DBus.Error.InvalidArgs"_s,
                                            u"Unknown session "_s + session);
        if (decline) {
            respond(bus, handle, 1, {});
            return message.createReply(QVariant::fromValue(QDBusObjectPath(handle)));
        }
        QList<PortalShortcut> given;
        QHash<QString, QString>& bound = m_sessions[session];
        for (const PortalShortcut& shortcut : shortcuts) {
            if (shortcut.id == leaveUnbound)
                continue;
            const QString trigger = shortcut.properties.value(u"preferred_trigger"_s).toString();
            bound.insert(shortcut.id,
                         trigger + u'|' + shortcut.properties.value(u"description"_s).toString());
            given.append({shortcut.id,
                          {{u"description"_s, shortcut.properties.value(u"description"_s)},
                           {u"trigger_description"_s, trigger}}});
        }
        m_lastSession = session;
        if (bindNothing || answerWithoutList) {
            bound.clear();
            respond(
                bus, handle, 0,
                answerWithoutList
                    ? QVariantMap{}
                    : QVariantMap{{u"shortcuts"_s, QVariant::fromValue(QList<PortalShortcut>{})}});
            return message.createReply(QVariant::fromValue(QDBusObjectPath(handle)));
        }
        respond(bus, handle, 0, {{u"shortcuts"_s, QVariant::fromValue(given)}});
        return message.createReply(QVariant::fromValue(QDBusObjectPath(handle)));
    }

    QDBusMessage control(const QDBusMessage& message, const QDBusConnection& bus) {
        const QString member = message.member();
        if (member == u"Press"_s) {
            // As the desktop would: for the open session that binds it.
            const QString name = message.arguments().value(0).toString();
            const QString session = message.arguments().value(1).toString().isEmpty()
                                        ? m_lastSession
                                        : message.arguments().value(1).toString();
            QDBusMessage signal = QDBusMessage::createSignal(kRoot, kShortcuts, u"Activated"_s);
            signal << QVariant::fromValue(QDBusObjectPath(session.isEmpty() ? u"/"_s : session))
                   << name << qulonglong(0) << QVariantMap();
            bus.send(signal);
            return message.createReply();
        }
        if (member == u"Bound"_s) {
            // What the open sessions bind: "name=trigger|description" lines.
            QStringList lines;
            for (const auto& session : std::as_const(m_sessions))
                for (auto it = session.cbegin(); it != session.cend(); ++it)
                    lines << it.key() + u'=' + it.value();
            lines.sort();
            return message.createReply(lines);
        }
        if (member == u"Sessions"_s)
            return message.createReply(
                QVariantList{uint(m_sessions.size()), uint(m_closed), m_lastSession});
        return message.createErrorReply(u"org.freedesktop.DBus.Error.UnknownMethod"_s, member);
    }

    QHash<QString, QHash<QString, QString>> m_sessions; // open ones
    QString m_lastSession;
    uint m_closed = 0;
};
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PortalShortcut::registerType();
    FakePortal portal;
    const QStringList args = app.arguments();
    portal.offered = !args.contains(u"--no-shortcuts"_s);
    portal.decline = args.contains(u"--decline"_s);
    portal.bindNothing = args.contains(u"--bind-nothing"_s);
    portal.answerWithoutList = args.contains(u"--answer-without-list"_s);
    if (const qsizetype at = args.indexOf(u"--leave-unbound"_s); at > 0)
        portal.leaveUnbound = args.value(at + 1);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(kRoot, &portal, QDBusConnection::SubPath) ||
        !bus.registerService(u"org.freedesktop.portal.Desktop"_s)) {
        std::fputs("fake portal: could not take the bus name\n", stderr);
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
