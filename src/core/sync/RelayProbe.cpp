#include "core/sync/RelayProbe.h"

#include <QRandomGenerator>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

namespace {
// One probe runs per relay, but many clients may run one against the same
// relay after it restarts: the spread keeps them from arriving in step.
constexpr int kIntervalJitterPercent = 20;

bool neverResolves(const QString& host) {
    const QString lower = host.toLower();
    return lower == u"invalid"_s || lower.endsWith(u".invalid"_s);
}
} // namespace

RelayProbe::RelayProbe(const QUrl& url, QObject* parent)
    : QObject(parent), m_host(url.host()),
      m_port(static_cast<quint16>(
          url.port(url.scheme() == u"wss"_s || url.scheme() == u"https"_s ? 443 : 80))) {
    m_nextTimer.setSingleShot(true);
    m_timeoutTimer.setSingleShot(true);
    QObject::connect(&m_nextTimer, &QTimer::timeout, this, &RelayProbe::attempt);
    QObject::connect(&m_timeoutTimer, &QTimer::timeout, this, &RelayProbe::onFailed);
}

RelayProbe::~RelayProbe() {
    dropSocket();
}

void RelayProbe::start() {
    if (m_running)
        return;
    m_running = true;
    ++m_run;
    scheduleNext();
}

void RelayProbe::stop() {
    // Also after a success whose report is still queued: it is not delivered.
    ++m_run;
    m_running = false;
    m_nextTimer.stop();
    m_timeoutTimer.stop();
    dropSocket();
}

void RelayProbe::scheduleNext() {
    const qint64 base = m_timing.interval.count();
    const qint64 spread = base * kIntervalJitterPercent / 100;
    const qint64 wait = base - spread + QRandomGenerator::global()->bounded(2 * spread + 1);
    m_nextTimer.start(std::chrono::milliseconds(wait));
}

void RelayProbe::attempt() {
    if (!m_running || m_socket)
        return;
    // Such a name never resolves (RFC 6761); asking a DNS server would only
    // leak it. The probe keeps going so the owner's view stays simple.
    if (m_host.isEmpty() || neverResolves(m_host)) {
        scheduleNext();
        return;
    }
    m_socket = new QTcpSocket(this);
    QObject::connect(m_socket, &QTcpSocket::connected, this, &RelayProbe::onConnected);
    QObject::connect(m_socket, &QTcpSocket::errorOccurred, this, &RelayProbe::onFailed);
    m_timeoutTimer.start(m_timing.connectTimeout);
    // The name is looked up asynchronously, like the connect itself.
    m_socket->connectToHost(m_host, m_port);
}

void RelayProbe::onConnected() {
    if (!m_running)
        return;
    m_timeoutTimer.stop();
    dropSocket();
    m_running = false;
    // Queued: the owner may well delete the probe when it hears this, which
    // must not happen inside the socket's own signal.
    QMetaObject::invokeMethod(
        this,
        [this, run = m_run] {
            if (run == m_run && !m_running)
                Q_EMIT reachable();
        },
        Qt::QueuedConnection);
}

void RelayProbe::onFailed() {
    if (!m_running || !m_socket)
        return;
    m_timeoutTimer.stop();
    dropSocket();
    scheduleNext();
}

void RelayProbe::dropSocket() {
    QTcpSocket* socket = std::exchange(m_socket, nullptr);
    if (!socket)
        return;
    socket->disconnect(this);
    socket->abort();
    // Possibly inside one of its signals.
    socket->deleteLater();
}
