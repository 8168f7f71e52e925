// A small program around AvahiServiceDiscovery for the LAN tests, run inside
// one sandboxed device. Everything it learns is one line on stdout:
//
//   ready available=<0|1> port=<listening port>
//   available <0|1>
//   published <name>
//   publish-failed <reason>
//   services <JSON array of {name, port, txt, addresses}>
//
// Usage:
//   discovery-helper [--type T] [--publish NAME] [--txt K=V]... [--browse]
//       publishes NAME with the port of a TCP listener that greets every
//       caller with "hello from NAME"; stdin takes the tab-separated lines
//       "publish NAME [K=V]..." and "unpublish".
//   discovery-helper probe ADDRESS PORT
//       connects, prints "reply <first line>" and exits 0, or exits 1.

#include "platform/avahi/AvahiServiceDiscovery.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void say(const QString& line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

ServiceDiscovery::Txt parseTxt(const QStringList& pairs) {
    ServiceDiscovery::Txt txt;
    for (const QString& pair : pairs) {
        const qsizetype eq = pair.indexOf(u'=');
        txt.insert(pair.left(eq), eq < 0 ? QString() : pair.mid(eq + 1));
    }
    return txt;
}

QJsonArray toJson(const QList<ServiceDiscovery::Service>& services) {
    QJsonArray out;
    for (const auto& service : services) {
        QJsonObject txt;
        for (auto it = service.txt.begin(); it != service.txt.end(); ++it)
            txt.insert(it.key(), it.value());
        QJsonArray addresses;
        for (const QHostAddress& address : service.addresses)
            addresses.append(address.toString());
        out.append(QJsonObject{{u"name"_s, service.name},
                               {u"port"_s, service.port},
                               {u"txt"_s, txt},
                               {u"addresses"_s, addresses}});
    }
    return out;
}

int probe(const QString& address, quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(address), port);
    if (!socket.waitForConnected(5000))
        return 1;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(5000))
            return 1;
    }
    say(u"reply "_s + QString::fromUtf8(socket.readLine()).trimmed());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("probe"))
        return probe(args.value(1), static_cast<quint16>(args.value(2).toUInt()));

    QString type = u"_tindrel._tcp"_s;
    QString name;
    QStringList txtPairs;
    bool browse = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--type"))
            type = args.value(++i);
        else if (args[i] == QLatin1String("--publish"))
            name = args.value(++i);
        else if (args[i] == QLatin1String("--txt"))
            txtPairs.append(args.value(++i));
        else if (args[i] == QLatin1String("--browse"))
            browse = true;
    }

    QTcpServer server;
    if (!server.listen(QHostAddress::Any)) {
        say(u"listen-failed "_s + server.errorString());
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            socket->write("hello from " + name.toUtf8() + '\n');
            socket->disconnectFromHost();
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });

    AvahiServiceDiscovery discovery;
    discovery.onAvailabilityChanged = [](bool available) {
        say(u"available %1"_s.arg(available ? 1 : 0));
    };
    discovery.onPublished = [](const QString& published) { say(u"published "_s + published); };
    discovery.onPublishFailed = [](const QString& reason) { say(u"publish-failed "_s + reason); };
    discovery.onServicesChanged = [](const QList<ServiceDiscovery::Service>& services) {
        say(u"services "_s +
            QString::fromUtf8(QJsonDocument(toJson(services)).toJson(QJsonDocument::Compact)));
    };
    say(u"ready available=%1 port=%2"_s.arg(discovery.isAvailable() ? 1 : 0)
            .arg(server.serverPort()));
    if (!name.isEmpty())
        discovery.publish(type, name, server.serverPort(), parseTxt(txtPairs));
    if (browse)
        discovery.browse(type);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &input, [&] {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            // The test went away: so do we.
            QCoreApplication::quit();
            return;
        }
        pending.append(chunk, got);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
            const QStringList words = QString::fromUtf8(pending.left(end)).split(u'\t');
            pending.remove(0, end + 1);
            if (words.value(0) == QLatin1String("publish") && words.size() >= 2) {
                name = words[1];
                discovery.publish(type, name, server.serverPort(), parseTxt(words.mid(2)));
            } else if (words.value(0) == QLatin1String("unpublish")) {
                discovery.unpublish();
            }
        }
    });
    return app.exec();
}
