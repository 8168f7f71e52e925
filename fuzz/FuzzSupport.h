#pragma once

#include <QCoreApplication>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>

// Once per run: an application object for the timers and files some
// readers use, and Qt's own warnings (which hostile input provokes on
// purpose) kept off the output.
inline void startQtForFuzzing() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

inline QByteArray fuzzBytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}
