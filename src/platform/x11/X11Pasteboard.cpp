#include "platform/x11/X11Pasteboard.h"

#include "platform/x11/XcbSelectionReader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {
// Text targets in the order we prefer them; STRING is Latin-1.
constexpr const char* kUtf8Targets[] = {"UTF8_STRING", "text/plain;charset=utf-8"};
constexpr const char* kLatin1Target = "STRING";
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
    const auto offers = [&targets](const char* target) {
        return targets.contains(QLatin1String(target));
    };
    for (const char* target : kUtf8Targets) {
        if (!offers(target))
            continue;
        if (const auto bytes = m_reader->read("CLIPBOARD", target))
            return QString::fromUtf8(*bytes);
    }
    if (offers(kLatin1Target)) {
        if (const auto bytes = m_reader->read("CLIPBOARD", kLatin1Target))
            return QString::fromLatin1(*bytes);
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
