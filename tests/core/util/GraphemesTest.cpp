#include "core/util/Graphemes.h"

#include <QString>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
struct CountCase {
    const char16_t* text;
    qsizetype characters;
};

QString repeated(const QString& unit, int times) {
    QString out;
    for (int i = 0; i < times; ++i)
        out += unit;
    return out;
}
} // namespace

TEST(Graphemes, CountsUserPerceivedCharacters) {
    const CountCase cases[] = {
        {u"", 0},
        {u"abc", 3},
        {u"e\u0301", 1},                                    // e + combining acute
        {u"\u1112\u1161\u11AB", 1},                         // Hangul syllable as conjoining jamo
        {u"\r\n", 1},                                       // CR LF is one character
        {u"\n\r", 2},                                       // LF CR is two
        {u"\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 2},   // two flags
        {u"\U0001F44D\U0001F3FD", 1},                       // thumbs up with skin tone
        {u"\U0001F468\u200D\U0001F469\u200D\U0001F467", 1}, // family (ZWJ sequence)
        {u"a\u0308\u0323b", 2},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(Graphemes::count(text), c.characters) << text.toStdString();
    }
}

// exceeds() looks at prefixes of growing size; it must agree with a full
// count for every limit, including texts whose clusters are many units long.
TEST(Graphemes, ExceedsAgreesWithCountForEveryLimit) {
    const QString texts[] = {
        QString(),
        u"a"_s,
        repeated(u"x"_s, 40),
        repeated(QString::fromUtf16(u"e\u0301\u0302\u0303\u0304"), 30),
        repeated(QString::fromUtf16(u"\U0001F468\u200D\U0001F469\u200D\U0001F467"), 17),
        repeated(QString::fromUtf16(u"\U0001F1E9\U0001F1EA"), 9) + u"tail"_s,
        u"ab"_s + repeated(QString(QChar(0x0301)), 200),
        // Prefixes that end between the halves of a surrogate pair.
        QString::fromUtf16(u"x\U0001F3F3\uFE0F\u200D\U0001F308"),
        QString::fromUtf16(u"abc\U0001F44D\U0001F3FD\U0001F3F3\uFE0F\u200D\U0001F308"),
    };
    for (const QString& text : texts) {
        const qsizetype total = Graphemes::count(text);
        for (qsizetype limit = 0; limit <= total + 2; ++limit)
            EXPECT_EQ(Graphemes::exceeds(text, limit), total > limit)
                << "limit " << limit << " of " << total;
    }
}
