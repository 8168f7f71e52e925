#include "RelayProcess.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>
#include <QUrlQuery>
#include <csignal>
#include <sys/resource.h>

using namespace Qt::StringLiterals;

RelayProcess::RelayProcess(QStringList options) : m_options(std::move(options)) {
    m_process.setProgram(QStringLiteral(TINDREL_RELAY_BINARY));
    QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] { readLog(); });
}

RelayProcess::~RelayProcess() {
    kill();
}

bool RelayProcess::start(quint16 port) {
    m_port = 0;
    QStringList args = m_options;
    args << u"--listen"_s << u"127.0.0.1"_s << u"--port"_s << QString::number(port);
    m_process.setArguments(args);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    const QString marker = u"listening on 127.0.0.1:"_s;
    if (!waitForLog(marker, std::chrono::seconds(10)))
        return false;
    for (const QString& line : m_lines) {
        const qsizetype at = line.indexOf(marker);
        if (at >= 0) {
            m_port = line.mid(at + marker.size()).section(u' ', 0, 0).toUShort();
        }
    }
    return m_port != 0;
}

void RelayProcess::setDescriptorLimit(int limit) {
    m_process.setChildProcessModifier([limit] {
        const rlimit both{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        setrlimit(RLIMIT_NOFILE, &both);
    });
}

void RelayProcess::kill() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
    readLog();
}

void RelayProcess::signal(int number) {
    if (m_process.state() != QProcess::NotRunning)
        ::kill(static_cast<pid_t>(m_process.processId()), number);
}

int RelayProcess::waitForExit(int timeoutMs) {
    (void)QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
    readLog();
    if (m_process.state() != QProcess::NotRunning || m_process.exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process.exitCode();
}

quint16 RelayProcess::metricsPort() const {
    const QString marker = u"metrics on 127.0.0.1:"_s;
    for (const QString& line : m_lines)
        if (const qsizetype at = line.indexOf(marker); at >= 0)
            return line.mid(at + marker.size()).section(u' ', 0, 0).toUShort();
    return 0;
}

qint64 RelayProcess::residentKib() const {
    QFile status(u"/proc/"_s + QString::number(m_process.processId()) + u"/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong();
    return 0;
}

QUrl RelayProcess::url(const QString& room, const QString& device, const QString& scheme) const {
    QUrl url;
    url.setScheme(scheme);
    url.setHost(u"127.0.0.1"_s);
    url.setPort(m_port);
    url.setPath(u"/"_s);
    QUrlQuery query;
    query.addQueryItem(u"room"_s, room);
    query.addQueryItem(u"device"_s, device);
    url.setQuery(query);
    return url;
}

bool RelayProcess::waitForLog(const QString& fragment, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor([&] { return logContains(fragment); },
                           static_cast<int>(timeout.count()));
}

bool RelayProcess::logContains(const QString& fragment) const {
    return logCount(fragment) > 0;
}

int RelayProcess::logCount(const QString& fragment) const {
    int count = 0;
    for (const QString& line : m_lines)
        if (line.contains(fragment))
            ++count;
    return count;
}

void RelayProcess::readLog() {
    m_partial += m_process.readAllStandardError();
    qsizetype newline = 0;
    while ((newline = m_partial.indexOf('\n')) >= 0) {
        m_lines.append(QString::fromUtf8(m_partial.left(newline)));
        m_partial.remove(0, newline + 1);
    }
}

QString roomName(const QByteArray& seed) {
    return QString::fromLatin1(QCryptographicHash::hash(seed, QCryptographicHash::Sha256).toHex());
}
