#pragma once

#include "app/CommandLine.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantList>
#include <QVariantMap>
#include <chrono>
#include <cstdio>

// Carries out a command line's request on the running Tindrel over the
// session bus and prints what comes back. Blocks: it runs in a process of
// its own that has nothing else to do.
class BusClient {
public:
    explicit BusClient(QDBusConnection bus = QDBusConnection::sessionBus());

    // Registers QtDBus's own types from this thread before any connection
    // exists. Qt 6.4 registers them lazily from whichever thread needs them
    // first, and its bus thread then now and again meets a type it cannot
    // build and prints a warning into the command's output.
    static void registerTypes();

    // Whether a Tindrel answers on the bus.
    bool instanceRuns();
    // Waits for one that is still starting up.
    bool waitForInstance(std::chrono::milliseconds timeout);
    // The exit status: 0 done, 1 no instance or the instance refused.
    int run(const CommandLine& line, std::FILE* input = stdin);

private:
    // The reply, or nothing with the error printed.
    std::optional<QDBusMessage> call(const QString& method, const QVariantList& arguments = {});
    // The reply or the error, printed by nobody.
    QDBusMessage ask(const QString& method, const QVariantList& arguments = {});
    std::optional<QVariantMap> syncStatus();
    // Every clip, a page at a time, the whole text where `wholeTexts` or
    // where the preview needs more of it; nothing with the error printed.
    std::optional<QList<QVariantMap>> clips(bool pinnedOnly, bool wholeTexts);
    // A clip's text from where `start` ends, appended to it part by part.
    QDBusMessage fetchRest(const QString& id, QString& start);
    int list(const CommandLine& line);
    int pair(const CommandLine& line);
    int join(const CommandLine& line);
    int devices(const CommandLine& line);

    QDBusConnection m_bus;
};
