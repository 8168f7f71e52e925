#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the main thread, so the
// program can save and quit in order instead of dying mid-write. A signal
// handler may do almost nothing; it writes the signal number to a pipe the
// event loop watches. One instance at a time; the previous handlers come back
// when it goes.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~QuitSignals() override;

    bool isActive() const { return m_notifier != nullptr; }

private:
    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};
