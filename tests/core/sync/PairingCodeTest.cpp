#include "core/sync/PairingCode.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(PairingCode, FormatsOnlyNineCharacterCodes) {
    const std::pair<const char*, const char*> cases[] = {
        {"7K0M1NP4Q", "7K0-M1N-P4Q"},
        {"7K0M1NP4", "7K0M1NP4"},
        {"7K0M1NP4QR", "7K0M1NP4QR"},
        {"", ""},
    };
    for (const auto& [code, shown] : cases)
        EXPECT_EQ(PairingCode::format(QLatin1String(code)), QLatin1String(shown)) << code;
}

TEST(PairingCode, NormalizeReadsWhatTheUserMeant) {
    const std::pair<QString, QString> cases[] = {
        {u"7k0-m1n-p4q"_s, u"7K0M1NP4Q"_s},
        {u"  7K0 M1N-P4Q\n"_s, u"7K0M1NP4Q"_s},
        {u"oOiIlL"_s, u"001111"_s},
        {u"uU-A"_s, u"A"_s},
        // Characters outside the alphabet pass through: the key just won't match.
        {u"ab#é"_s, u"AB#É"_s},
        {QString(), QString()},
    };
    for (const auto& [typed, code] : cases)
        EXPECT_EQ(PairingCode::normalize(typed), code) << typed.toStdString();
}

TEST(PairingCode, GeneratedCodesUseTheWholeAlphabetAndNothingElse) {
    const QString alphabet = QString::fromLatin1(
        PairingCode::alphabet.data(), static_cast<qsizetype>(PairingCode::alphabet.size()));
    QSet<QChar> seen;
    for (int i = 0; i < 2000; ++i) {
        const auto code = PairingCode::generate();
        ASSERT_TRUE(code);
        ASSERT_EQ(code->size(), 9);
        for (QChar c : *code) {
            ASSERT_TRUE(alphabet.contains(c)) << code->toStdString();
            seen.insert(c);
        }
        // A generated code survives normalisation unchanged.
        ASSERT_EQ(PairingCode::normalize(PairingCode::format(*code)), *code);
    }
    EXPECT_EQ(seen.size(), 32);
}
