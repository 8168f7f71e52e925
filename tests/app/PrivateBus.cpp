#include "PrivateBus.h"
#include "support/PrivateBusConfig.h"

#include <QDeadlineTimer>
#include <QFile>

using namespace Qt::StringLiterals;

PrivateBus::PrivateBus() {
    start({u"--config-file="_s + privateBusConfig()});
}

PrivateBus::PrivateBus(const QString& serviceDir, const QProcessEnvironment& environment) {
    // The tests' rules, with only our own folder of services.
    const QString config = serviceDir + u"/bus.conf"_s;
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <include>)" + privateBusConfig().toUtf8() +
               R"(</include>
  <servicedir>)" +
               serviceDir.toUtf8() +
               R"(</servicedir>
</busconfig>
)");
    file.close();
    m_daemon.setProcessEnvironment(environment);
    start({u"--config-file="_s + config});
}

void PrivateBus::start(const QStringList& arguments) {
    m_arguments = arguments;
    m_daemon.setProgram(u"dbus-daemon"_s);
    m_daemon.setArguments(arguments +
                          QStringList{u"--nofork"_s, u"--nosyslog"_s, u"--print-address=1"_s});
    m_daemon.start();
    if (!m_daemon.waitForStarted())
        return;
    // The address is the first line it prints, once it listens.
    QDeadlineTimer deadline(10000);
    while (!m_daemon.canReadLine() && !deadline.hasExpired() &&
           m_daemon.state() == QProcess::Running)
        m_daemon.waitForReadyRead(int(deadline.remainingTime()));
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    // Without the daemon's guid, which a client checks: the next daemon at
    // the same place has another.
    if (!m_socket.isEmpty() && !m_address.isEmpty())
        m_address = u"unix:path="_s + m_socket;
    m_connectionName = u"test-bus-"_s + QString::number(m_daemon.processId());
}

PrivateBus::~PrivateBus() {
    stop();
}

void PrivateBus::stop() {
    QDBusConnection::disconnectFromBus(m_connectionName);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000)) {
            m_daemon.kill();
            m_daemon.waitForFinished();
        }
    }
}

QDBusConnection PrivateBus::connection() const {
    return QDBusConnection::connectToBus(m_address, m_connectionName);
}

void PrivateBus::restart(const Setup& setup) {
    const QString config = setup.socket + u".conf"_s;
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QByteArray limit;
    if (setup.maxMessageSize > 0)
        limit = "  <limit name=\"max_message_size\">" + QByteArray::number(setup.maxMessageSize) +
                "</limit>\n";
    file.write(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" +
               setup.socket.toUtf8() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
)" + limit + "</busconfig>\n");
    file.close();
    m_socket = setup.socket;
    stop();
    start({u"--config-file="_s + config});
}

void PrivateBus::restart() {
    stop();
    start(m_arguments);
}
