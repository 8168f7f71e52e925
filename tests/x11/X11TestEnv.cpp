#include "X11TestEnv.h"

#include "platform/Pasteboard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

using namespace std::chrono_literals;

namespace {
// Runs the event loop for a moment, letting it block: only then does it say
// it is about to block, which is when an XcbConnection reads the events a
// round trip pulled into xcb's queue, out of its socket notifier's sight.
void spin(std::chrono::milliseconds time) {
    QEventLoop loop;
    QTimer::singleShot(time, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

QByteArray X11TestEnv::fixtureDisplay() {
    QFile file(
        qEnvironmentVariable("TINDREL_X11_DISPLAY_FILE", QStringLiteral(TINDREL_X11_DISPLAY_FILE)));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll().trimmed();
}

bool X11TestEnv::waitUntil(const std::function<bool()>& condition,
                           std::chrono::milliseconds bound) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (std::chrono::milliseconds(timer.elapsed()) > bound)
            return false;
        spin(10ms);
    }
    return true;
}

void X11TestEnv::settle(std::chrono::milliseconds time) {
    QElapsedTimer timer;
    timer.start();
    while (std::chrono::milliseconds(timer.elapsed()) < time)
        spin(10ms);
}

bool X11TestEnv::run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    // Keep answering clipboard requests while a client (xclip -o) asks us.
    if (!waitUntil([&process] { return process.state() == QProcess::NotRunning; }, 20000ms)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

std::unique_ptr<TestClient> TestClient::helper(const QStringList& args) {
    std::unique_ptr<TestClient> client(new TestClient);
    client->m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client->m_process.start(QStringLiteral(TINDREL_X11_HELPER), args);
    QProcess& p = client->m_process;
    X11TestEnv::waitUntil([&p] { return p.canReadLine() || p.state() == QProcess::NotRunning; },
                          10000ms);
    const QByteArray line = p.readLine().trimmed();
    if (line.startsWith("ready")) {
        client->m_ready = true;
        client->m_window = line.mid(6).toULongLong();
    }
    return client;
}

std::unique_ptr<TestClient> TestClient::start(const QString& program, const QStringList& args) {
    std::unique_ptr<TestClient> client(new TestClient);
    client->m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    client->m_process.start(program, args);
    client->m_ready = client->m_process.waitForStarted();
    return client;
}

TestClient::~TestClient() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate(); // SIGTERM to this child's PID only
    if (!m_process.waitForFinished(2000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QByteArray X11TestEnv::contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool X11TestEnv::endOwner(std::unique_ptr<TestClient>& owner, const Pasteboard& board) {
    const qint64 before = board.changeCount();
    owner.reset();
    return waitUntil([&] { return board.changeCount() > before; });
}

std::optional<QString> X11TestEnv::textOf(Pasteboard& board) {
    QObject context;
    std::optional<std::optional<QString>> answer;
    board.requestText(&context, [&](std::optional<QString> text) { answer = std::move(text); });
    waitUntil([&] { return answer.has_value(); });
    return answer.value_or(std::nullopt);
}

QStringList X11TestEnv::typesOf(Pasteboard& board) {
    QObject context;
    std::optional<QStringList> answer;
    board.requestTypes(&context, [&](QStringList types) { answer = std::move(types); });
    waitUntil([&] { return answer.has_value(); });
    return answer.value_or(QStringList());
}
