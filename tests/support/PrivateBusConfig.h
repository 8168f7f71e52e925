#pragma once

#include <QString>

// The dbus-daemon configuration every bus of the tests starts with: session
// rules, no service folders, so nothing on the machine is ever activated.
QString privateBusConfig();
