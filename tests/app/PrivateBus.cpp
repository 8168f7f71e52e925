#include "PrivateBus.h"

#include <QDeadlineTimer>

using namespace Qt::StringLiterals;

PrivateBus::PrivateBus() {
    m_daemon.setProgram(u"dbus-daemon"_s);
    m_daemon.setArguments({u"--session"_s, u"--nofork"_s, u"--nosyslog"_s, u"--print-address=1"_s});
    m_daemon.start();
    if (!m_daemon.waitForStarted())
        return;
    // The address is the first line it prints, once it listens.
    QDeadlineTimer deadline(10000);
    while (!m_daemon.canReadLine() && !deadline.hasExpired() &&
           m_daemon.state() == QProcess::Running)
        m_daemon.waitForReadyRead(int(deadline.remainingTime()));
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    m_connectionName = u"test-bus-"_s + QString::number(m_daemon.processId());
}

PrivateBus::~PrivateBus() {
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
