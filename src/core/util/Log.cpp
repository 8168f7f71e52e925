#include "core/util/Log.h"

#include <QMutex>
#include <cstdio>

namespace {
QMutex& sinkMutex() {
    static QMutex mutex;
    return mutex;
}
std::function<void(const QString&)>& sink() {
    static std::function<void(const QString&)> current;
    return current;
}
} // namespace

void Log::write(const QString& line) {
    QMutexLocker lock(&sinkMutex());
    if (sink()) {
        sink()(line);
        return;
    }
    const QByteArray bytes = line.toUtf8();
    std::fprintf(stderr, "%s\n", bytes.constData());
    std::fflush(stderr);
}

void Log::setSink(std::function<void(const QString&)> newSink) {
    QMutexLocker lock(&sinkMutex());
    sink() = std::move(newSink);
}
