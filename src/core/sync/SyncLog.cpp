#include "core/sync/SyncLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
constexpr qint64 sizeLimit = 524288;
// Beyond this many waiting lines new ones are dropped: a storm of events on
// a stalled disk must not eat memory.
constexpr std::size_t queueLimit = 10000;
constexpr int maxRepeatLines = 3;

// Set once the writer is gone at exit; trivially destructible, so it stays
// readable by late callers.
std::atomic<bool> writerGone{false};

class Writer {
public:
    Writer() : m_thread([this] { run(); }) {}
    ~Writer() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
        writerGone = true;
    }

    void enqueueLine(QString message) {
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.size() >= queueLimit)
                return;
            m_queue.push_back({false, std::move(message)});
            ++m_queued;
        }
        m_wake.notify_one();
    }

    void enqueuePath(QString path) {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back({true, std::move(path)});
            ++m_queued;
        }
        m_wake.notify_one();
    }

    void flush() {
        std::unique_lock lock(m_mutex);
        const quint64 ticket = m_queued;
        m_done.wait(lock, [&] { return m_handled >= ticket; });
    }

private:
    struct Entry {
        bool isPath;
        QString text;
    };

    void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return; // stopping, and everything is written
            Entry entry = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            if (entry.isPath)
                usePath(entry.text);
            else
                appendLine(entry.text);
            lock.lock();
            ++m_handled;
            m_done.notify_all();
        }
    }

    void usePath(const QString& path) {
        m_path = QFile::encodeName(path);
        m_lastMessage.reset();
        m_repeatCount = 0;
        if (path.isEmpty())
            return;
        const QString folder = QFileInfo(path).absolutePath();
        if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void appendLine(const QString& message) {
        QString suffix;
        if (message == m_lastMessage) {
            if (++m_repeatCount > maxRepeatLines)
                return;
            suffix = u" (repeated)"_s;
        } else {
            m_lastMessage = message;
            m_repeatCount = 0;
        }
        if (m_path.isEmpty())
            return;
        const QByteArray line =
            (QTime::currentTime().toString(u"HH:mm:ss.zzz") + u"  "_s + message + suffix + u'\n')
                .toUtf8();

        struct stat info;
        if (::stat(m_path.constData(), &info) == 0 && info.st_size > sizeLimit)
            (void)::truncate(m_path.constData(), 0);
        const int fd = ::open(m_path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                              S_IRUSR | S_IWUSR);
        if (fd < 0)
            return;
        const char* data = line.constData();
        qsizetype left = line.size();
        while (left > 0) {
            const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                break;
            data += written;
            left -= written;
        }
        ::close(fd);
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Entry> m_queue;
    quint64 m_queued = 0;
    quint64 m_handled = 0;
    bool m_stopping = false;

    // Owned by the writer thread.
    QByteArray m_path;
    std::optional<QString> m_lastMessage;
    int m_repeatCount = 0;

    std::thread m_thread; // last: starts only once everything above exists
};

Writer* writer() {
    if (writerGone)
        return nullptr;
    static Writer instance;
    return &instance;
}
} // namespace

void SyncLog::write(const QString& message) {
    if (Writer* w = writer()) {
        // Everything a reader might take for the end of a line becomes a space.
        QString line = message;
        for (QChar& c : line) {
            const char16_t u = c.unicode();
            if (u == u'\n' || u == u'\r' || u == u'\v' || u == u'\f' || u == 0x85 || u == 0x2028 ||
                u == 0x2029)
                c = u' ';
        }
        w->enqueueLine(std::move(line));
    }
}

void SyncLog::setFilePath(const QString& path) {
    if (Writer* w = writer())
        w->enqueuePath(path);
}

void SyncLog::flush() {
    if (Writer* w = writer())
        w->flush();
}
