#include "platform/x11/X11Pasteboard.h"

#include "core/util/Utf8.h"
#include "platform/x11/XcbSelectionReader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <iterator>

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
constexpr qsizetype kTextTargetCount = qsizetype{std::size(kTextTargets)};

} // namespace

X11Pasteboard::X11Pasteboard(std::unique_ptr<XcbSelectionReader> reader, QObject* parent)
    : QObject(parent), m_reader(std::move(reader)) {
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this,
            [this](QClipboard::Mode mode) {
                if (mode != QClipboard::Clipboard)
                    return;
                ++m_changeCount;
                Q_EMIT counted();
            });
}

X11Pasteboard::~X11Pasteboard() = default;

void X11Pasteboard::watchChanges(QObject* context, std::function<void()> changed) {
    connect(this, &X11Pasteboard::counted, context, std::move(changed));
}

bool X11Pasteboard::weOwnIt() const {
    return QGuiApplication::clipboard()->ownsClipboard();
}

void X11Pasteboard::requestTypes(QObject* context, std::function<void(QStringList)> done) {
    // Our own selection is answered from memory: asking the X server would
    // make us wait for ourselves.
    if (weOwnIt()) {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
        done(data ? data->formats() : QStringList());
        return;
    }
    foreignTargets(context,
                   [done = std::move(done)](const QStringList& targets) { done(targets); });
}

void X11Pasteboard::foreignTargets(QObject* context, std::function<void(const QStringList&)> done) {
    // Types and text are asked for one after the other after every change:
    // the owner is asked for its targets once.
    if (m_targetsCount == m_changeCount) {
        done(m_targets);
        return;
    }
    const qint64 count = m_changeCount;
    m_reader->targets("CLIPBOARD", context,
                      [this, count, done = std::move(done)](std::optional<QStringList> targets) {
                          if (count == m_changeCount) {
                              m_targets = targets.value_or(QStringList());
                              m_targetsCount = count;
                          }
                          done(targets.value_or(QStringList()));
                      });
}

std::optional<QString> X11Pasteboard::ownText() const {
    if (!weOwnIt())
        return std::nullopt;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

void X11Pasteboard::requestText(QObject* context,
                                std::function<void(std::optional<QString>)> done) {
    if (weOwnIt()) {
        done(ownText());
        return;
    }
    // Only what the owner lists is asked for: an owner that did not answer
    // for its targets is not waited for a second time.
    const QPointer<QObject> guard(context);
    foreignTargets(context, [this, guard, done = std::move(done)](const QStringList& targets) {
        if (guard)
            readText(guard, targets, 0, done);
    });
}

void X11Pasteboard::readText(QObject* context, QStringList targets, qsizetype next,
                             std::function<void(std::optional<QString>)> done) {
    while (next < kTextTargetCount && !targets.contains(QLatin1String(kTextTargets[next].name)))
        ++next;
    if (next == kTextTargetCount) {
        done(std::nullopt);
        return;
    }
    const TextTarget target = kTextTargets[next];
    const QPointer<QObject> guard(context);
    m_reader->read("CLIPBOARD", target.name, context,
                   [this, guard, target, targets = std::move(targets), next,
                    done = std::move(done)](XcbSelectionReader::Result bytes) mutable {
                       if (bytes) {
                           done(target.latin1 ? QString::fromLatin1(*bytes) : Utf8::decode(*bytes));
                           return;
                       }
                       // Only a refusal is worth another target: an owner that stalled
                       // would stall again, and a text too large is as large in any
                       // encoding; either would cost the wait or the transfer once more.
                       if (bytes.error() != XcbSelectionReader::Failure::Refused || !guard) {
                           done(std::nullopt);
                           return;
                       }
                       readText(guard, std::move(targets), next + 1, std::move(done));
                   });
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
