#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// What the x11 tests share: the fixture's display, real clients started as
// child processes, and waiting while the event loop runs.
namespace X11TestEnv {
// The display the fixture started, or empty when there is none.
QByteArray fixtureDisplay();
// Runs the event loop until the condition holds or the bound passes; the
// bound only stops a broken test from hanging.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds bound = std::chrono::seconds(5));
// Lets the event loop run for a moment (for "nothing happens" checks).
void settle(std::chrono::milliseconds time = std::chrono::milliseconds(150));
// Runs a command to its end; true when it exited with 0.
bool run(const QString& program, const QStringList& args);
// A file's bytes, empty when it cannot be read (yet).
QByteArray contents(const QString& path);
} // namespace X11TestEnv

// A client process the test started, ended (by its PID) when this goes.
class TestClient {
public:
    // Starts the x11 helper in a role and waits for its "ready" line.
    static std::unique_ptr<TestClient> helper(const QStringList& args);
    // Starts any program; ready() is not awaited.
    static std::unique_ptr<TestClient> start(const QString& program, const QStringList& args);
    ~TestClient();

    bool isReady() const { return m_ready; }
    // The window the helper announced, 0 for none.
    quint64 window() const { return m_window; }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }

private:
    TestClient() = default;
    QProcess m_process;
    bool m_ready = false;
    quint64 m_window = 0;
};

class Pasteboard;

namespace X11TestEnv {
// Ends a client that owns the clipboard and waits until the pasteboard has
// counted its going, so that change is not taken for the next copy's.
bool endOwner(std::unique_ptr<TestClient>& owner, const Pasteboard& board);
// Asks the pasteboard and runs the event loop until it answers.
std::optional<QString> textOf(Pasteboard& board);
QStringList typesOf(Pasteboard& board);
} // namespace X11TestEnv
