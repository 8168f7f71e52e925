#include "core/util/Utf8.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Utf8, DecodingKeepsALeadingFeffAndReplacesWhatIsNotUtf8) {
    EXPECT_EQ(Utf8::decode("\xEF\xBB\xBF"
                           "a"),
              QStringView(u"\uFEFFa").toString());
    EXPECT_EQ(Utf8::decode("\xEF\xBB\xBF"), QStringView(u"\uFEFF").toString());
    EXPECT_EQ(Utf8::decode("a\xFF"
                           "b"),
              QString::fromUtf16(u"a\uFFFDb"));
    EXPECT_EQ(Utf8::decode(""), QString());
}

TEST(Utf8, JsonStringsKeepALeadingFeff) {
    const QString feff = QStringView(u"\uFEFF").toString();
    struct Case {
        const char* what;
        QByteArray json;
        QStringList texts; // the array's strings; empty when it must not parse
    } const cases[] = {
        {"raw at the start of strings",
         "[\"\xEF\xBB\xBF"
         "a\", \"\xEF\xBB\xBF\"]",
         {feff + u"a"_s, feff}},
        {"raw inside a string",
         "[\"a\xEF\xBB\xBF"
         "b\"]",
         {u"a"_s + feff + u"b"_s}},
        {"escaped", R"(["\ufeffa"])", {feff + u"a"_s}},
        {"before the document: a byte-order mark",
         "\xEF\xBB\xBF[\"\xEF\xBB\xBF"
         "a\"]",
         {feff + u"a"_s}},
        {"after an escaped backslash", "[\"\\\\\xEF\xBB\xBF\"]", {u"\\"_s + feff}},
        {"escaped by a backslash: not JSON", "[\"\\\xEF\xBB\xBF\"]", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QJsonParseError error;
        const QJsonDocument document = Utf8::parseJson(c.json, &error);
        if (c.texts.isEmpty()) {
            EXPECT_NE(error.error, QJsonParseError::NoError);
            continue;
        }
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        QStringList texts;
        for (const QJsonValue& value : document.array())
            texts.append(value.toString());
        EXPECT_EQ(texts, c.texts);
    }
}
