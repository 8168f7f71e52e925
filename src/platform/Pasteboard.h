#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

// The system clipboard as the capture and paste code needs it.
class Pasteboard {
public:
    // Larger clipboard texts are not taken in: reading them costs memory and
    // time a clipboard history should not spend.
    static constexpr qsizetype maxTextBytes = qsizetype{32} * 1024 * 1024;

    virtual ~Pasteboard() = default;

    // Raised by one for every change of the clipboard, our own writes included.
    virtual qint64 changeCount() const = 0;
    // The content types the clipboard's owner declares; empty when it has none.
    virtual QStringList types() = 0;
    // The plain-text contents; none when there is no text, the owner does not
    // answer in time, or the text is larger than maxTextBytes.
    virtual std::optional<QString> text() = 0;
    // Replaces the contents with a plain text; raises changeCount by exactly one.
    virtual void writeText(const QString& text) = 0;
    // Also offers the text as the primary selection, which some terminals paste
    // (Shift+Insert); leaves changeCount alone.
    virtual void writePrimaryText(const QString& text) = 0;
};
