#include "core/store/StoreCodec.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
// A store file as described for the format: sorted keys, clip dates since
// 2001, "unpinned" stamps since 1970; a pin and a history clip that use the
// optional members, one that leaves them out.
const char kHandWritten[] = R"({
    "history": [
        {
            "createdAt": 723456789.25,
            "id": "3F2504E0-4F89-41D3-9A0C-0305E82C3301",
            "sourceApp": "org.kde.kate",
            "text": "second line\nof history"
        },
        {
            "createdAt": 723400000,
            "id": "6BA7B810-9DAD-11D1-80B4-00C04FD430C8",
            "text": "café"
        }
    ],
    "pinned": [
        {
            "createdAt": 723000000.5,
            "id": "9C5B94B1-35AD-49BB-B118-8E8FC24ABF80",
            "pinnedAt": 723100000.125,
            "sourceApp": "sync:Office",
            "text": "pinned text"
        }
    ],
    "unpinned": {
        "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824": 1701234567.5
    }
}
)";
} // namespace

TEST(StoreCodec, HandWrittenFileDecodesAndEncodesToTheSameBytes) {
    const auto contents = StoreCodec::decode(QByteArray(kHandWritten));
    ASSERT_TRUE(contents) << contents.error().toStdString();

    ASSERT_EQ(contents->history.size(), 2);
    const Clip& first = contents->history.at(0);
    EXPECT_EQ(first.id(), QUuid::fromString(u"3f2504e0-4f89-41d3-9a0c-0305e82c3301"_s));
    EXPECT_EQ(first.text(), u"second line\nof history"_s);
    EXPECT_EQ(first.createdAt(), Instant::fromReference(723456789.25));
    EXPECT_EQ(first.sourceApp(), u"org.kde.kate"_s);
    EXPECT_FALSE(first.pinnedAt());
    EXPECT_FALSE(contents->history.at(1).sourceApp());
    EXPECT_EQ(contents->history.at(1).text(), QString::fromUtf16(u"caf\u00E9"));

    ASSERT_EQ(contents->pinned.size(), 1);
    EXPECT_EQ(contents->pinned.at(0).pinnedAt(), Instant::fromReference(723100000.125));

    ASSERT_EQ(contents->unpinned.size(), 1);
    // The unpin stamp counts from 1970, unlike the clip dates.
    EXPECT_DOUBLE_EQ(contents->unpinned
                         .value(u"2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e"
                                "73043362938b9824"_s)
                         .unix(),
                     1701234567.5);

    EXPECT_EQ(StoreCodec::encode(*contents), QByteArray(kHandWritten));
}

// Every character class the writer treats differently, against Qt's own
// JSON writer and reader.
TEST(StoreCodec, EncodesAnyTextAsQtWouldAndReadsItBack) {
    QString everything;
    for (char16_t c = 0; c < 0x80; ++c)
        everything.append(QChar(c));
    everything += QString::fromUtf16(u"\u00E9\u2028\uFFFF\U0001F600 \"quoted\" back\\slash");
    const QUuid id = QUuid::createUuid();
    StoreContents contents;
    contents.history = {Clip(id, everything, Instant::fromReference(0.1), everything),
                        Clip(id, u"x"_s, Instant::fromReference(-5e9))};
    contents.pinned = {Clip(id, u"p"_s, Instant::fromReference(1e300), std::nullopt,
                            Instant::fromReference(723456789.123456))};
    contents.unpinned = {{u"b"_s, Instant::fromUnix(2)},
                         {u"a"_s, Instant::fromUnix(1701234567.000001)}};

    const QByteArray bytes = StoreCodec::encode(contents);
    QJsonObject qtUnpinned;
    for (auto it = contents.unpinned.cbegin(); it != contents.unpinned.cend(); ++it)
        qtUnpinned.insert(it.key(), it.value().unix());
    const QJsonObject qtRoot{
        {u"history"_s,
         QJsonArray{contents.history.at(0).toJson(), contents.history.at(1).toJson()}},
        {u"pinned"_s, QJsonArray{contents.pinned.at(0).toJson()}},
        {u"unpinned"_s, qtUnpinned},
    };
    EXPECT_EQ(QJsonDocument::fromJson(bytes).object(), qtRoot);
    EXPECT_EQ(bytes, QJsonDocument(qtRoot).toJson(QJsonDocument::Indented));

    const auto decoded = StoreCodec::decode(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->history, contents.history);
    EXPECT_EQ(decoded->pinned, contents.pinned);
    EXPECT_EQ(decoded->unpinned, contents.unpinned);
}

// Long texts are written in slices, scanned sixteen bytes at a time: a
// character to escape or a surrogate pair at any place around the edges of
// either must come out as Qt would write it.
TEST(StoreCodec, LongTextsEncodeAsQtWouldWhereverTheirSpecialCharactersLie) {
    const qsizetype slice = 64 * 1024;
    const QString specials[] = {u"\""_s,
                                u"\\"_s,
                                QString(QChar(0x01)),
                                u"\n"_s,
                                QString::fromUtf16(u"\U0001F600"),
                                QString::fromUtf16(u"\u00E9")};
    const qsizetype places[] = {0,  1,  14,        15,        16,    17,
                                31, 32, slice - 2, slice - 1, slice, slice + 1};
    StoreContents contents;
    for (const QString& special : specials)
        for (const qsizetype at : places) {
            QString text(slice + 40, u'a');
            text.replace(at, special.size(), special);
            contents.history.append(Clip(QUuid::createUuid(), text, Instant::fromReference(1)));
        }
    QJsonArray history;
    for (const Clip& clip : contents.history)
        history.append(clip.toJson());
    const QJsonObject qtRoot{
        {u"history"_s, history}, {u"pinned"_s, QJsonArray{}}, {u"unpinned"_s, QJsonObject{}}};
    const QByteArray bytes = StoreCodec::encode(contents);
    // Up to the empty lists, which Qt writes on two lines.
    const QByteArray qt = QJsonDocument(qtRoot).toJson(QJsonDocument::Indented);
    const qsizetype lists = qt.indexOf("\"pinned\"");
    EXPECT_TRUE(bytes.left(lists) == qt.left(lists));
    EXPECT_EQ(QJsonDocument::fromJson(bytes).object(), qtRoot);
    const auto decoded = StoreCodec::decode(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->history == contents.history);
}

// A text must come back exactly as it went in, or a pin's unpin records
// (keyed by the text's hash) stop matching it after a restart.
TEST(StoreCodec, TextsThatReadersTendToAlterSurviveTheFile) {
    const QString texts[] = {
        QStringView(u"\uFEFFstarts with U+FEFF").toString(),
        QStringView(u"\uFEFF").toString(),
        QStringView(u"in\uFEFFside").toString(),
        QStringView(u"lone high \xD800").toString(),
        QStringView(u"\xDC00 lone low").toString(),
        QStringView(u"reversed \xDC00\xD800 pair").toString(),
        QStringView(u"a real pair \U0001F600 and \uFEFF").toString(),
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toUtf8().toStdString());
        StoreContents contents;
        contents.history = {Clip(QUuid::createUuid(), text, Instant::fromReference(1), text)};
        const QByteArray bytes = StoreCodec::encode(contents);
        const auto decoded = StoreCodec::decode(bytes);
        ASSERT_TRUE(decoded);
        ASSERT_EQ(decoded->history.size(), 1);
        EXPECT_EQ(decoded->history.first().text(), text);
        EXPECT_EQ(decoded->history.first().sourceApp(), text);
        // Other readers see the same text.
        EXPECT_EQ(QJsonDocument::fromJson(bytes)
                      .object()
                      .value(u"history"_s)
                      .toArray()
                      .at(0)
                      .toObject()
                      .value(u"text"_s)
                      .toString(),
                  text);
    }

    // Files written before U+FEFF was escaped hold it raw.
    const auto raw = StoreCodec::decode("{\"history\": [{\"createdAt\": 1, \"id\": "
                                        "\"8F2C3E9A-0B1D-4C5E-9F6A-7B8C9D0E1F2A\", \"text\": "
                                        "\"\xEF\xBB\xBFraw\"}], \"pinned\": []}");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->history.first().text(), QStringView(u"\uFEFFraw").toString());
}

TEST(StoreCodec, OptionalUnpinnedMayBeMissingOrNull) {
    for (const char* json :
         {R"({"history":[],"pinned":[]})", R"({"history":[],"pinned":[],"unpinned":null})"}) {
        const auto contents = StoreCodec::decode(QByteArray(json));
        ASSERT_TRUE(contents) << json;
        EXPECT_TRUE(contents->unpinned.isEmpty());
    }
}

TEST(StoreCodec, RejectsWhatIsNotAStoreFile) {
    const char* cases[] = {
        "",
        "not json",
        R"({"history":[],"pinned":[])",
        R"([{"history":[],"pinned":[]}])",
        R"({"pinned":[]})",
        R"({"history":[]})",
        R"({"history":{},"pinned":[]})",
        R"({"history":[{"id":"x","text":"t","createdAt":1}],"pinned":[]})",
        R"({"history":[],"pinned":[],"unpinned":[]})",
        R"({"history":[],"pinned":[],"unpinned":{"abc":"yesterday"}})",
    };
    for (const char* json : cases) {
        const auto contents = StoreCodec::decode(QByteArray(json));
        ASSERT_FALSE(contents) << json;
        EXPECT_FALSE(contents.error().isEmpty());
    }
    // A backup reader that ignores "unpinned" does not trip over it.
    EXPECT_TRUE(StoreCodec::decode(QByteArray(R"({"history":[],"pinned":[],"unpinned":[]})"),
                                   StoreCodec::Unpinned::Ignore));
}

TEST(StoreCodec, KeepingPartOfTheHistoryBuildsItsFirstClipsWithATextAndChecksTheRest) {
    const QByteArray file = R"({"history":[
        {"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","text":"","createdAt":9},
        {"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3302","text":"a","createdAt":5,"sourceApp":"org.kde.kate"},
        {"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3303","text":"b","createdAt":7,"pinnedAt":null},
        {"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3304","text":"","createdAt":3},
        {"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3305","text":"c","createdAt":8,"sourceApp":null},
        {"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3306","text":"d","createdAt":1}
    ],"pinned":[{"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3307","text":"p","createdAt":2}]})";
    const auto everything = StoreCodec::decode(file);
    ASSERT_TRUE(everything);
    ASSERT_EQ(everything->history.size(), 6);
    const QList<Clip>& all = everything->history;
    const QList<Clip> withText{all[1], all[2], all[4], all[5]};
    for (const qsizetype kept : {0, 1, 2, 3, 4, 100}) {
        SCOPED_TRACE(kept);
        const auto part = StoreCodec::decode(file, StoreCodec::Unpinned::Read, kept);
        ASSERT_TRUE(part);
        EXPECT_EQ(part->history, withText.first(std::min(kept, withText.size())));
        EXPECT_EQ(part->pinned, everything->pinned) << "pins are all kept";
    }

    // A clip past those kept is not built but damages the file all the same,
    // for the same reason.
    const char* damaged[] = {
        R"("not a clip")",
        R"({"id":"nope","text":"t","createdAt":1})",
        R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3308","createdAt":1})",
        R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3308","text":2,"createdAt":1})",
        R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3308","text":"t"})",
        R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3308","text":"t","createdAt":1,"sourceApp":4})",
        R"({"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3308","text":"t","createdAt":1,"pinnedAt":"x"})",
    };
    for (const char* clip : damaged) {
        SCOPED_TRACE(clip);
        const QByteArray withDamage =
            QByteArray(R"({"history":[{"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301",)"
                       R"("text":"kept","createdAt":1},)") +
            clip + R"(],"pinned":[]})";
        const auto whole = StoreCodec::decode(withDamage);
        ASSERT_FALSE(whole);
        const auto part = StoreCodec::decode(withDamage, StoreCodec::Unpinned::Read, 1);
        ASSERT_FALSE(part);
        EXPECT_EQ(part.error(), whole.error());
    }
}
