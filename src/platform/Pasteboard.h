#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <optional>

// The system clipboard as the capture and paste code needs it.
//
// Another application's contents are asked for, not read: its owner may
// take its time or never answer, and the caller's thread must not wait for
// it. An answer arrives through the callback on the caller's thread, possibly
// before the request returns (contents we hold ourselves need no asking);
// it never arrives once `context` is gone.
class Pasteboard {
public:
    // Larger clipboard texts are not taken in: reading them costs memory and
    // time a clipboard history should not spend.
    static constexpr qsizetype maxTextBytes = qsizetype{32} * 1024 * 1024;

    virtual ~Pasteboard() = default;

    // Raised by one for every change of the clipboard, our own writes included.
    virtual qint64 changeCount() const = 0;
    // Runs `changed` right after every raise of changeCount, as long as
    // `context` lives. Polling changeCount stays valid where this is late.
    virtual void watchChanges(QObject* context, std::function<void()> changed) = 0;
    // Whether watchChanges is told of every change as it is counted: the
    // count then only moves where `changed` runs, and a timer reading it
    // would never find anything the reports had not brought already.
    virtual bool reportsEveryChange() const = 0;
    // The content types the clipboard's owner declares; empty when it has
    // none or does not answer in time.
    virtual void requestTypes(QObject* context, std::function<void(QStringList)> done) = 0;
    // The plain-text contents; none when there is no text, the owner does not
    // answer in time, or the text is larger than maxTextBytes.
    virtual void requestText(QObject* context,
                             std::function<void(std::optional<QString>)> done) = 0;
    // The text we wrote ourselves while we still hold the clipboard; none
    // when another application owns it (that one is never asked).
    virtual std::optional<QString> ownText() const = 0;
    // Replaces the contents with a plain text; raises changeCount by exactly one.
    virtual void writeText(const QString& text) = 0;
    // Also offers the text as the primary selection, which some terminals paste
    // (Shift+Insert); leaves changeCount alone.
    virtual void writePrimaryText(const QString& text) = 0;
};
