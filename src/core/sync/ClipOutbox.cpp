#include "core/sync/ClipOutbox.h"

#include "core/sync/SyncLog.h"
#include "core/sync/SyncMessage.h"
#include "core/util/AtomicFile.h"
#include "core/util/BoundedFile.h"
#include "core/util/LatestJobThread.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {
// The text budget as escaped UTF-8 at its worst (a control character takes
// six bytes), and the ids and times around it.
constexpr qint64 maxFileBytes = 6 * ClipOutbox::maxTextUnits + 64 * 1024 * 1024;
} // namespace

ClipOutbox::ClipOutbox(QString path) : m_path(std::move(path)) {
    if (!m_path.isEmpty())
        m_writer = std::make_unique<LatestJobThread>();
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(std::chrono::seconds(1));
    QObject::connect(&m_saveTimer, &QTimer::timeout, [this] { save(); });
    load();
}

ClipOutbox::~ClipOutbox() {
    flush();
}

void ClipOutbox::append(const SyncClipPayload& clip, qsizetype limit) {
    m_clips.append(clip);
    m_textUnits += clip.text.size();
    while (!m_clips.isEmpty() &&
           (m_clips.size() > std::max<qsizetype>(limit, 1) || m_textUnits > maxTextUnits)) {
        m_textUnits -= m_clips.first().text.size();
        m_clips.removeFirst();
    }
    if (m_writer && !m_saveTimer.isActive())
        m_saveTimer.start();
}

QList<SyncClipPayload> ClipOutbox::after(double time, qsizetype limit) const {
    // In the order they were copied, whatever the clock said meanwhile.
    QList<SyncClipPayload> later;
    for (const SyncClipPayload& clip : m_clips)
        if (clip.createdAt > time)
            later.append(clip);
    return later.mid(std::max<qsizetype>(0, later.size() - std::max<qsizetype>(limit, 0)));
}

void ClipOutbox::flush() {
    if (m_saveTimer.isActive()) {
        m_saveTimer.stop();
        save();
    }
    if (m_writer)
        m_writer->waitForAll();
}

// The file holds one "clips" message: the same form and checks as on the wire.
void ClipOutbox::load() {
    if (m_path.isEmpty() || !QFileInfo::exists(m_path))
        return;
    const auto bytes = BoundedFile::read(m_path, maxFileBytes);
    const std::optional<SyncMessage> message = bytes ? SyncMessage::decode(*bytes) : std::nullopt;
    if (!message || message->type != SyncMessageType::clips || !message->clips) {
        SyncLog::write(u"the copies kept for devices that were away could not be read — "
                       "starting empty"_s);
        return;
    }
    m_clips = *message->clips;
    for (const SyncClipPayload& clip : std::as_const(m_clips))
        m_textUnits += clip.text.size();
}

void ClipOutbox::save() {
    if (!m_writer)
        return;
    // Encoded here: the worker gets bytes of its own, no list this thread
    // goes on changing.
    SyncMessage message;
    message.type = SyncMessageType::clips;
    message.clips = m_clips;
    m_writer->post([path = m_path, bytes = message.encode()] {
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (const auto written = AtomicFile::write(path, bytes); !written)
            SyncLog::write(u"could not save the copies kept for devices that were away: "_s +
                           written.error());
    });
}
