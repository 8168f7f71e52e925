#include "EpollEventDispatcher.h"
#include "MetricsEndpoint.h"
#include "RelayServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslKey>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <limits>
#include <optional>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr quint16 kDefaultPort = 8479;
// Descriptors kept free of connections: the listening socket, the event loop,
// standard streams and whatever Qt and OpenSSL open along the way.
constexpr qint64 kReservedDescriptors = 64;
// On SIGTERM members get this long to take their close frames before we exit.
constexpr std::chrono::milliseconds kStopGrace{5000};
// With --metrics, a stop lasts at least this long so that a balancer polling
// /healthz sees the 503 before the port goes away (HAProxy's default check
// interval is 2 s).
constexpr std::chrono::milliseconds kHealthNotice{2500};

void say(const QString& message) {
    const QByteArray bytes = (u"tindrel-relay: "_s + message).toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

// Raises the soft descriptor limit as far as the hard one allows and returns
// it; nothing when it is unlimited or cannot be read.
std::optional<qint64> raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::nullopt;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        // An unlimited hard limit is still capped by the kernel; keep what we have then.
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    return static_cast<qint64>(
        std::min<rlim_t>(limit.rlim_cur, std::numeric_limits<qint64>::max()));
}

std::optional<qint64> positive(const QCommandLineParser& parser, const QString& name) {
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value <= 0) {
        say(u"--"_s + name + u" needs a positive whole number"_s);
        return std::nullopt;
    }
    return value;
}

std::optional<QSslConfiguration> loadTls(const QString& certPath, const QString& keyPath) {
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certPath, QSsl::Pem);
    if (chain.isEmpty()) {
        say(u"no PEM certificate in "_s + certPath);
        return std::nullopt;
    }
    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        say(u"cannot read "_s + keyPath);
        return std::nullopt;
    }
    const QByteArray keyBytes = keyFile.readAll();
    QSslKey key;
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa}) {
        key = QSslKey(keyBytes, algorithm, QSsl::Pem);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        say(u"no unencrypted PEM RSA or EC private key in "_s + keyPath);
        return std::nullopt;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificateChain(chain);
    config.setPrivateKey(key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    return config;
}

// "host:port" for --metrics; IPv6 hosts in brackets.
std::optional<std::pair<QHostAddress, quint16>> hostPort(const QString& text) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    const QHostAddress address(host);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    if (address.isNull() || !ok || port > 65535)
        return std::nullopt;
    return std::pair{address, static_cast<quint16>(port)};
}

} // namespace

int main(int argc, char** argv) {
    // Signals arrive as reads on a descriptor in the event loop; blocked
    // before Qt starts any thread, so none of them takes the signal instead.
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGHUP);
    sigaddset(&handled, SIGTERM);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    const int signalFd = signalfd(-1, &handled, SFD_NONBLOCK | SFD_CLOEXEC);

    QCoreApplication::setEventDispatcher(new EpollEventDispatcher);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"tindrel-relay"_s);
    QCoreApplication::setApplicationVersion(u"0.1.0"_s);

    const RelayServer::Limits defaults;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Forwards sealed Tindrel sync messages between the devices of one room."_s);
    parser.addHelpOption();
    parser.addVersionOption();
    // Each option's help ends with its default, so --help (and the manual
    // page made from it) answers what happens when it is left out.
    const auto option = [&](const char* name, const char* help, const char* valueName,
                            const QString& fallback, const QString& shown = {}) {
        const QString text = QString::fromLatin1(help) + u" (default: "_s +
                             (shown.isEmpty() ? fallback : shown) + u")."_s;
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), text,
                                            QString::fromLatin1(valueName), fallback));
    };
    option("listen", "Address to listen on", "address", u"127.0.0.1"_s);
    option("port", "TCP port to listen on; 0 picks a free one", "port",
           QString::number(kDefaultPort));
    option("cert", "PEM certificate chain; with --key serves wss://", "file", {},
           u"none, plain ws://"_s);
    option("key", "PEM private key (unencrypted) for --cert", "file", {}, u"none"_s);
    option("max-message", "Largest message accepted, in bytes", "bytes",
           QString::number(defaults.maxMessageBytes));
    option("room-size", "Connections allowed in one room", "count",
           QString::number(defaults.maxPerRoom));
    option("per-address", "Connections allowed from one address (IPv6: one /64)", "count",
           QString::number(defaults.maxPerAddress));
    option("max-connections", "Connections allowed in total, lowered to fit the descriptor limit",
           "count", QString::number(defaults.maxConnections));
    option("idle-timeout", "Close a connection after this many ms without traffic or pong", "ms",
           QString::number(defaults.idleTimeout.count()));
    option("handshake-timeout", "Time allowed from connect to finished upgrade, in ms", "ms",
           QString::number(defaults.handshakeTimeout.count()));
    option("backlog",
           "Bytes queued towards a member that does not read; once reached, the next message "
           "for it drops the member",
           "bytes", QString::number(defaults.maxBacklogBytes));
    option("queue-budget",
           "Bytes queued towards all members together; over it the largest backlog is dropped",
           "bytes", QString::number(defaults.maxQueuedBytes));
    option("metrics",
           "Serve /metrics (Prometheus) and /healthz on this address, e.g. 127.0.0.1:9479",
           "host:port", {}, u"off"_s);
    parser.process(app);

    RelayServer::Limits limits;
    const auto maxMessage = positive(parser, u"max-message"_s);
    const auto roomSize = positive(parser, u"room-size"_s);
    const auto perAddress = positive(parser, u"per-address"_s);
    const auto maxConnections = positive(parser, u"max-connections"_s);
    const auto idle = positive(parser, u"idle-timeout"_s);
    const auto handshake = positive(parser, u"handshake-timeout"_s);
    const auto backlog = positive(parser, u"backlog"_s);
    const auto queueBudget = positive(parser, u"queue-budget"_s);
    if (!maxMessage || !roomSize || !perAddress || !maxConnections || !idle || !handshake ||
        !backlog || !queueBudget)
        return 2;
    limits.maxMessageBytes = *maxMessage;
    limits.maxPerRoom = static_cast<int>(std::min<qint64>(*roomSize, 1'000'000));
    limits.maxPerAddress = static_cast<int>(std::min<qint64>(*perAddress, 1'000'000));
    limits.maxConnections = static_cast<int>(std::min<qint64>(*maxConnections, 10'000'000));
    limits.idleTimeout = std::chrono::milliseconds(std::min<qint64>(*idle, 86'400'000));
    limits.handshakeTimeout = std::chrono::milliseconds(std::min<qint64>(*handshake, 86'400'000));
    limits.maxBacklogBytes = *backlog;
    limits.maxQueuedBytes = *queueBudget;

    // Every connection holds a descriptor; running out of them would fail
    // accept() for everyone, so the connection limit has to fit under it.
    if (const auto descriptors = raiseDescriptorLimit()) {
        const qint64 fits = std::max<qint64>(*descriptors - kReservedDescriptors, 1);
        if (limits.maxConnections > fits) {
            limits.maxConnections = static_cast<int>(fits);
            say(u"max connections lowered to "_s + QString::number(fits) +
                u" to fit the descriptor limit of "_s + QString::number(*descriptors));
        }
    }

    const QHostAddress address(parser.value(u"listen"_s));
    if (address.isNull()) {
        say(u"--listen needs a numeric IPv4 or IPv6 address"_s);
        return 2;
    }
    bool portOk = false;
    const uint port = parser.value(u"port"_s).toUInt(&portOk);
    if (!portOk || port > 65535) {
        say(u"--port needs a number from 0 to 65535"_s);
        return 2;
    }

    RelayServer server(limits);
    const QString certPath = parser.value(u"cert"_s);
    const QString keyPath = parser.value(u"key"_s);
    if (certPath.isEmpty() != keyPath.isEmpty()) {
        say(u"--cert and --key go together"_s);
        return 2;
    }
    if (!certPath.isEmpty()) {
        const auto tls = loadTls(certPath, keyPath);
        if (!tls)
            return 2;
        server.setSslConfiguration(*tls);
    }
    MetricsEndpoint metrics(server);
    const QString metricsAddress = parser.value(u"metrics"_s);
    if (!metricsAddress.isEmpty()) {
        const auto where = hostPort(metricsAddress);
        if (!where) {
            say(u"--metrics needs host:port, e.g. 127.0.0.1:9479"_s);
            return 2;
        }
        if (!metrics.listen(where->first, where->second)) {
            say(u"cannot serve metrics on "_s + metricsAddress + u": "_s + metrics.errorString());
            return 1;
        }
        say(u"metrics on "_s + where->first.toString() + u':' +
            QString::number(metrics.serverPort()));
    }

    bool serverStopped = false;
    bool noticeGiven = false;
    const auto exitWhenDone = [&] {
        if (!serverStopped || !noticeGiven)
            return;
        say(u"stopped"_s);
        QCoreApplication::exit(0);
    };
    QObject::connect(&server, &RelayServer::stopped, &app, [&] {
        serverStopped = true;
        exitWhenDone();
    });
    QSocketNotifier signals(signalFd, QSocketNotifier::Read);
    QObject::connect(&signals, &QSocketNotifier::activated, &app, [&] {
        signalfd_siginfo info{};
        while (read(signalFd, &info, sizeof info) == sizeof info) {
            if (info.ssi_signo == SIGTERM) {
                metrics.setDraining();
                if (!metricsAddress.isEmpty())
                    QTimer::singleShot(kHealthNotice, &app, [&] {
                        noticeGiven = true;
                        exitWhenDone();
                    });
                else
                    noticeGiven = true;
                server.stop(kStopGrace);
            } else if (info.ssi_signo == SIGHUP && !certPath.isEmpty()) {
                // Open connections keep the certificate they started with.
                if (const auto tls = loadTls(certPath, keyPath)) {
                    server.setSslConfiguration(*tls);
                    say(u"certificate reloaded from "_s + certPath);
                } else {
                    say(u"certificate not reloaded; keeping the one in use"_s);
                }
            }
        }
    });
    if (!server.listen(address, static_cast<quint16>(port))) {
        say(u"cannot listen on "_s + address.toString() + u':' + QString::number(port) + u": "_s +
            server.errorString());
        return 1;
    }
    // Tests and scripts read the port from this line when they asked for port 0.
    say(u"listening on "_s + address.toString() + u':' + QString::number(server.serverPort()) +
        (certPath.isEmpty() ? u" (ws)"_s : u" (wss)"_s));
    return app.exec();
}
