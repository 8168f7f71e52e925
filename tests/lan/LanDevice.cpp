#include "LanDevice.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>

using namespace Qt::StringLiterals;

namespace {

QProcessEnvironment sandboxEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TDL_PREFIX"_s, QStringLiteral(TINDREL_LAN_PREFIX));
    return env;
}

QStringList onDevice(int device, const QStringList& command) {
    return QStringList{u"exec"_s, QString::number(device)} + command;
}

} // namespace

QString LanDevice::unavailableReason() {
    QFile state(QStringLiteral(TINDREL_LAN_STATE_FILE));
    if (!state.open(QIODevice::ReadOnly))
        return u"the lan_sandbox_up fixture did not run"_s;
    const QString text = QString::fromUtf8(state.readAll()).trimmed();
    return text == QLatin1String("up") ? QString() : text;
}

std::optional<QString> LanDevice::run(int device, const QStringList& command) {
    QProcess process;
    process.setProcessEnvironment(sandboxEnvironment());
    process.start(QStringLiteral(TINDREL_LAN_SANDBOX), onDevice(device, command));
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool LanDevice::avahi(int device, const QString& action) {
    QProcess process;
    process.setProcessEnvironment(sandboxEnvironment());
    process.start(QStringLiteral(TINDREL_LAN_SANDBOX),
                  {u"avahi"_s, QString::number(device), action});
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

std::optional<QString> LanDevice::probe(int device, const QString& address, int port) {
    const auto out = run(device, {QStringLiteral(TINDREL_DISCOVERY_HELPER), u"probe"_s, address,
                                  QString::number(port)});
    if (!out || !out->startsWith(QLatin1String("reply ")))
        return std::nullopt;
    return out->mid(6).trimmed();
}

LanDevice::LanDevice(int device, const QStringList& helperArguments) {
    m_process.setProcessEnvironment(sandboxEnvironment());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(
        QStringLiteral(TINDREL_LAN_SANDBOX),
        onDevice(device, QStringList{QStringLiteral(TINDREL_DISCOVERY_HELPER)} + helperArguments));
    m_process.waitForStarted(10000);
}

LanDevice::~LanDevice() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel(); // the helper quits when its input ends
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

std::optional<QString> LanDevice::next(const QString& prefix,
                                       const std::function<bool(const QString&)>& accept,
                                       std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    for (;;) {
        while (m_cursor < m_lines.size()) {
            const QString& line = m_lines[m_cursor++];
            if (!line.startsWith(prefix))
                continue;
            const QString rest = line.mid(prefix.size());
            if (!accept || accept(rest))
                return rest;
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return std::nullopt;
        m_process.waitForReadyRead(
            static_cast<int>(std::min<qint64>(deadline.remainingTime(), 200)));
        m_partial += m_process.readAllStandardOutput();
        for (qsizetype end; (end = m_partial.indexOf('\n')) >= 0;) {
            m_lines.append(QString::fromUtf8(m_partial.left(end)));
            m_partial.remove(0, end + 1);
        }
    }
}

std::optional<QJsonArray>
LanDevice::nextServices(const std::function<bool(const QJsonArray&)>& accept,
                        std::chrono::milliseconds timeout) {
    std::optional<QJsonArray> found;
    next(
        u"services "_s,
        [&](const QString& json) {
            const QJsonArray services = QJsonDocument::fromJson(json.toUtf8()).array();
            if (!accept(services))
                return false;
            found = services;
            return true;
        },
        timeout);
    return found;
}

void LanDevice::send(const QString& line) {
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(5000);
}

int LanDevice::port() {
    if (m_port < 0) {
        const qsizetype keep = m_cursor;
        m_cursor = 0;
        if (const auto ready = next(u"ready "_s))
            m_port = ready->section(u"port="_s, 1).toInt();
        m_cursor = std::max(keep, m_cursor);
    }
    return m_port;
}
