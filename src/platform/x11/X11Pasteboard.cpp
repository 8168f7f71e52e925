#include "platform/x11/X11Pasteboard.h"

#include "core/util/Utf8.h"
#include "platform/x11/XcbSelectionReader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {
// Text targets in the order we prefer them; STRING is Latin-1.
struct TextTarget {
    const char* name;
    bool latin1;
};
constexpr TextTarget kTextTargets[] = {
    {"UTF8_STRING", false},
    {"text/plain;charset=utf-8", false},
    {"STRING", true},
};
} // namespace

X11Pasteboard::X11Pasteboard(std::unique_ptr<XcbSelectionReader> reader, QObject* parent)
    : QObject(parent), m_reader(std::move(reader)) {
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this,
            [this](QClipboard::Mode mode) {
                if (mode == QClipboard::Clipboard)
                    ++m_changeCount;
            });
}

X11Pasteboard::~X11Pasteboard() = default;

bool X11Pasteboard::weOwnIt() const {
    return QGuiApplication::clipboard()->ownsClipboard();
}

QStringList X11Pasteboard::types() {
    // Our own selection is answered from memory: asking the X server would
    // make us wait for ourselves.
    if (weOwnIt()) {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
        return data ? data->formats() : QStringList();
    }
    return foreignTargets();
}

QStringList X11Pasteboard::foreignTargets() {
    // types() and text() follow each other after every change: ask once.
    if (m_targetsCount != m_changeCount) {
        m_targets = m_reader->targets("CLIPBOARD").value_or(QStringList());
        m_targetsCount = m_changeCount;
    }
    return m_targets;
}

std::optional<QString> X11Pasteboard::text() {
    if (weOwnIt()) {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
        if (!data || !data->hasText())
            return std::nullopt;
        return data->text();
    }
    // Only what the owner lists is asked for: an owner that did not answer
    // for its targets is not waited for a second time.
    const QStringList targets = foreignTargets();
    for (const TextTarget& target : kTextTargets) {
        if (!targets.contains(QLatin1String(target.name)))
            continue;
        const auto bytes = m_reader->read("CLIPBOARD", target.name);
        if (bytes)
            return target.latin1 ? QString::fromLatin1(*bytes) : Utf8::decode(*bytes);
        // Only a refusal is worth another target: an owner that stalled
        // would stall again, and a text too large is as large in any
        // encoding; either would cost the wait or the transfer once more.
        if (bytes.error() != XcbSelectionReader::Failure::Refused)
            return std::nullopt;
    }
    return std::nullopt;
}

void X11Pasteboard::writeText(const QString& text) {
    auto* data = new QMimeData;
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}

void X11Pasteboard::writePrimaryText(const QString& text) {
    auto* data = new QMimeData;
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Selection);
}
