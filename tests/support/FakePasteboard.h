#pragma once

#include "platform/Pasteboard.h"

#include <QList>
#include <QPointer>

using namespace Qt::StringLiterals;

// A clipboard in memory. copy() stands for another application's copy;
// the counters show what the code under test asked for. Requests are
// answered at once, or, with answerAtOnce off, when the test calls answer():
// an owner that takes its time.
class FakePasteboard final : public Pasteboard {
public:
    qint64 changeCount() const override { return count; }
    void watchChanges(QObject* context, std::function<void()> changed) override {
        watchers.append({context, std::move(changed)});
    }
    bool reportsEveryChange() const override { return reportsAll; }
    void requestTypes(QObject* context, std::function<void(QStringList)> done) override {
        ++typeReads;
        reply(context, [this, done = std::move(done)] { done(declared); });
    }
    void requestText(QObject* context, std::function<void(std::optional<QString>)> done) override {
        ++textReads;
        reply(context, [this, done = std::move(done)] { done(contents); });
    }
    std::optional<QString> ownText() const override { return ours ? contents : std::nullopt; }
    void writeText(const QString& value) override {
        contents = value;
        declared = {u"text/plain"_s};
        ours = true;
        ++count;
        ++writes;
        written.append(value);
    }
    void writePrimaryText(const QString& value) override { primary = value; }

    // Another application copies; none for contents without text (an image).
    // The change is counted but, like a lost event, not reported.
    void copy(std::optional<QString> value, QStringList types = {u"UTF8_STRING"_s}) {
        contents = std::move(value);
        declared = std::move(types);
        ours = false;
        ++count;
    }
    // Reports a change to the watchers, as the system does after a copy.
    void announce() {
        for (const auto& [context, changed] : QList(watchers))
            if (context)
                changed();
    }
    // Answers the oldest waiting request with the contents as they are now;
    // false when none waits.
    bool answer() {
        if (waiting.isEmpty())
            return false;
        const auto [context, send] = waiting.takeFirst();
        if (context)
            send();
        return true;
    }

    qint64 count = 0;
    std::optional<QString> contents;
    QStringList declared;
    bool ours = false;
    std::optional<QString> primary;
    int typeReads = 0;
    int textReads = 0;
    int writes = 0;
    QStringList written; // our writes, in order
    bool answerAtOnce = true;
    // Stands for a clipboard that promises a report of every change (it is
    // still the test that calls announce()).
    bool reportsAll = false;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> watchers;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> waiting;

private:
    void reply(QObject* context, std::function<void()> send) {
        if (answerAtOnce)
            send();
        else
            waiting.append({context, std::move(send)});
    }
};
