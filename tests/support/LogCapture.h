#pragma once

#include "core/util/Log.h"

#include <QStringList>

// Collects the system-log lines written while it lives.
class LogCapture {
public:
    LogCapture() {
        Log::setSink([this](const QString& line) { lines.append(line); });
    }
    ~LogCapture() { Log::setSink({}); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool contains(const QString& fragment) const {
        for (const QString& line : lines)
            if (line.contains(fragment))
                return true;
        return false;
    }

    QStringList lines;
};
