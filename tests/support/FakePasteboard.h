#pragma once

#include "platform/Pasteboard.h"

// A clipboard in memory. copy() stands for another application's copy;
// the counters show what the code under test read.
class FakePasteboard final : public Pasteboard {
public:
    qint64 changeCount() const override { return count; }
    QStringList types() override {
        ++typeReads;
        return declared;
    }
    std::optional<QString> text() override {
        ++textReads;
        return contents;
    }
    void writeText(const QString& value) override {
        contents = value;
        declared = {QStringLiteral("text/plain")};
        ++count;
        ++writes;
        written.append(value);
    }
    void writePrimaryText(const QString& value) override { primary = value; }

    // Another application copies; none for contents without text (an image).
    void copy(std::optional<QString> value, QStringList types = {QStringLiteral("UTF8_STRING")}) {
        contents = std::move(value);
        declared = std::move(types);
        ++count;
    }

    qint64 count = 0;
    std::optional<QString> contents;
    QStringList declared;
    std::optional<QString> primary;
    int typeReads = 0;
    int textReads = 0;
    int writes = 0;
    QStringList written; // our writes, in order
};
