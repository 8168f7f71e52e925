#pragma once

#include <QByteArray>
#include <QString>

// What the user calls this computer: the "pretty" host name that desktop
// settings and hostnamectl set (PRETTY_HOSTNAME in /etc/machine-info), else
// the host name. Empty when neither is known.
namespace ComputerName {
QString current(QStringView machineInfoPath = u"/etc/machine-info");
// PRETTY_HOSTNAME from machine-info text (shell-style KEY=VALUE lines,
// values optionally quoted); empty when it is not set.
QString prettyHostname(const QByteArray& machineInfo);
} // namespace ComputerName
