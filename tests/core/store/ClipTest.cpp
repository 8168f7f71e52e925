#include "core/store/Clip.h"
#include "core/sync/SyncCrypto.h"
#include "support/QtPrinters.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QString kPrecomposed = QString::fromUtf16(u"caf\u00E9");
const QString kDecomposed = QString::fromUtf16(u"cafe\u0301");

QJsonObject parse(const char* json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}
} // namespace

TEST(Clip, PreviewIsTheFirstLineOfTheTrimmedText) {
    struct Case {
        const char* text;
        const char* preview;
    } const cases[] = {
        {"plain", "plain"},
        {"  padded \t", "padded"},
        {"first\nsecond", "first"},
        {"\n\n  first  \nsecond\n", "first  "}, // trimmed before the cut, not after
        {"a\r\nb", "a\r\nb"},                   // CR LF does not end the line
        {"a\r\nb\nc", "a\r\nb"},                // a lone LF does
        {"line \n", "line"},
    };
    for (const auto& c : cases) {
        const Clip clip = Clip::make(QString::fromUtf8(c.text), Instant{});
        EXPECT_EQ(clip.preview(), QString::fromUtf8(c.preview)) << c.text;
    }
}

TEST(Clip, PreviewOfAHugeLineIsItsStartAndLinesCountTheWholeText) {
    const qsizetype limit = Clip::previewLimit;
    const QString ellipsis = u"\u2026"_s;
    const QString emoji = u"\U0001F600"_s; // two UTF-16 units
    struct Case {
        const char* name;
        QString text;
        QString preview;
        qsizetype lines;
    } const cases[] = {
        {"3 MB on one line", QString(3'000'000, u'L') + u" end"_s, QString(limit, u'L') + ellipsis,
         1},
        {"exactly the limit", QString(limit, u'L'), QString(limit, u'L'), 1},
        {"a short first line", u"  head\n"_s + QString(3'000'000, u'L'), u"head"_s, 2},
        {"no half character at the cut", QString(limit - 1, u'L') + emoji + u"x"_s,
         QString(limit - 1, u'L') + ellipsis, 1},
        {"blank lines around do not count", u"\n\n"_s + QString(5000, u'x') + u"\n\nlast\n\n"_s,
         QString(limit, u'x') + ellipsis, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Clip clip = Clip::make(c.text, Instant{});
        EXPECT_EQ(clip.preview(), c.preview);
        EXPECT_EQ(clip.lineCount(), c.lines);
    }
}

TEST(Clip, TextsCompareUnderCanonicalEquivalenceButHashExactly) {
    const Clip composed = Clip::make(kPrecomposed, Instant{});
    const Clip decomposed = Clip::make(kDecomposed, Instant{});
    EXPECT_TRUE(composed.hasSameText(decomposed));
    EXPECT_TRUE(decomposed.hasSameText(composed));
    EXPECT_FALSE(composed.hasSameText(Clip::make(u"cafe"_s, Instant{})));
    EXPECT_FALSE(composed.hasSameText(Clip::make(u"CAF\u00C9"_s, Instant{})));

    // The hash names the exact bytes, as other devices compute it.
    EXPECT_EQ(composed.textHash(), SyncCrypto::hash(kPrecomposed));
    EXPECT_NE(composed.textHash(), decomposed.textHash());
    EXPECT_EQ(decomposed.characterCount(), 4);
}

TEST(Clip, EncodesWithUpperCaseIdAndLeavesOutMissingMembers) {
    const QUuid id = QUuid::fromString(u"8f2c3e9a-0b1d-4c5e-9f6a-7b8c9d0e1f2a"_s);
    const Clip bare(id, u"t"_s, Instant::fromReference(100.5));
    EXPECT_EQ(bare.toJson(), parse(R"({"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A",
                                       "text":"t","createdAt":100.5})"));
    const Clip full(id, u"t"_s, Instant::fromReference(100.5), u"org.app"_s,
                    Instant::fromReference(200.25));
    EXPECT_EQ(full.toJson(), parse(R"({"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A","text":"t",
                                       "createdAt":100.5,"sourceApp":"org.app","pinnedAt":200.25})"));
}

TEST(Clip, DecodesWhatTheFileFormatAllowsAndRejectsTheRest) {
    struct Case {
        const char* json;
        bool decodes;
    } const cases[] = {
        {R"({"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A","text":"t","createdAt":1})", true},
        {R"({"id":"8f2c3e9a-0b1d-4c5e-9f6a-7b8c9d0e1f2a","text":"t","createdAt":1})", true},
        {R"({"id":"00000000-0000-0000-0000-000000000000","text":"t","createdAt":1})", true},
        {R"({"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A","text":"t","createdAt":1,
             "sourceApp":null,"pinnedAt":null,"extra":[1,2]})",
         true},
        {R"({"id":"{8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A}","text":"t","createdAt":1})", false},
        {R"({"id":"not-a-uuid-but-thirty-six-chars-long","text":"t","createdAt":1})", false},
        {R"({"id":42,"text":"t","createdAt":1})", false},
        {R"({"text":"t","createdAt":1})", false},
        {R"({"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A","createdAt":1})", false},
        {R"({"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A","text":"t"})", false},
        {R"({"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A","text":"t","createdAt":"1"})", false},
        {R"({"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A","text":"t","createdAt":1,
             "sourceApp":7})",
         false},
        {R"({"id":"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A","text":"t","createdAt":1,
             "pinnedAt":"soon"})",
         false},
    };
    for (const auto& c : cases) {
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray(c.json));
        ASSERT_TRUE(document.isObject()) << c.json;
        QString reason;
        const std::optional<Clip> clip = Clip::fromJson(document.object(), &reason);
        EXPECT_EQ(clip.has_value(), c.decodes) << c.json;
        EXPECT_EQ(reason.isEmpty(), c.decodes) << c.json;
    }

    const auto full = Clip::fromJson(parse(R"({"id":"8f2c3e9a-0b1d-4c5e-9f6a-7b8c9d0e1f2a",
        "text":"t","createdAt":100.5,"sourceApp":"org.app","pinnedAt":200.25})"));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->id(), QUuid::fromString(u"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A"_s));
    EXPECT_EQ(full->createdAt(), Instant::fromReference(100.5));
    EXPECT_EQ(full->sourceApp(), u"org.app"_s);
    EXPECT_EQ(full->pinnedAt(), Instant::fromReference(200.25));
}
