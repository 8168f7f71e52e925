#pragma once

#include <QString>
#include <functional>

// The program's system log: one line per background failure, each starting
// with "Tindrel: ". Goes to stderr (and so to the session journal).
namespace Log {
void write(const QString& line);
// Replaces where lines go; an empty function restores stderr. For tests.
void setSink(std::function<void(const QString&)> sink);
} // namespace Log
