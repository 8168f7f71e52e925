#include "core/panel/RowText.h"
#include "core/store/Clip.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(RowText, LineBadgeCountsLinesBetweenTheTrimmedEnds) {
    struct Case {
        QString text;
        QString badge;
    };
    const Case cases[] = {
        {u"one line"_s, {}},
        {u"one line\n"_s, {}}, // a trailing break is trimmed away
        {u"\n\n  padded  \n\n"_s, {}},
        {u"first\nsecond"_s, u"+1"_s},
        {u"first\n\nthird"_s, u"+2"_s}, // blank lines in between count
        {u"a\r\nb\r\nc"_s, u"+2"_s},    // Windows line ends are line ends too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(RowText::lineBadge(Clip::make(c.text, Instant{}).lineCount()), c.badge);
    }
}

TEST(RowText, LongTextsShowThemselvesCutAtWholeCharacters) {
    const QString eighty(80, u'x');
    EXPECT_EQ(RowText::rowTooltip(eighty, false), QString());
    EXPECT_EQ(RowText::rowTooltip(eighty, true), u"Hold and drag to reorder"_s);
    EXPECT_EQ(RowText::rowTooltip(eighty + u"y"_s, true), eighty + u"y"_s);

    // 500 flags of two code points each: the cut falls after the 400th flag.
    QString flags;
    for (int i = 0; i < 500; ++i)
        flags += u"🇩🇪"_s;
    const QString cut = RowText::rowTooltip(flags, false);
    EXPECT_EQ(cut.size(), 400 * 4);
    EXPECT_TRUE(flags.startsWith(cut));
    // A character far longer than its share of the text read at first (a
    // letter with 3,000 accents) is kept whole.
    const QString accented = u"a"_s + QString(3000, QChar(0x0301));
    const QString tail(1000, u'y');
    EXPECT_EQ(RowText::rowTooltip(accented + tail, false), accented + tail.left(399));
    // 80 clusters made of 160 code units are still short.
    EXPECT_EQ(RowText::rowTooltip(flags.left(80 * 4), false), QString());
}

TEST(RowText, PinButtonTooltipFollowsPinState) {
    EXPECT_EQ(RowText::pinButtonTooltip(true, true), u"Unpin — moves back to Recent"_s);
    EXPECT_EQ(RowText::pinButtonTooltip(false, true), u"Pin list is full"_s);
    EXPECT_EQ(RowText::pinButtonTooltip(false, false), u"Pin to top"_s);
}

TEST(RowText, ShortcutHintsNameTheKeyThatReachesThePin) {
    using M = PinnedShortcutModifier;
    struct Case {
        std::optional<int> index;
        bool hints;
        M modifier;
        bool inPanel;
        QString label;
    };
    const Case cases[] = {
        {0, true, M::disabled, true, u"Ctrl+1"_s},
        {9, true, M::disabled, true, u"Ctrl+0"_s}, // the tenth pin is 0
        {10, true, M::disabled, true, {}},         // beyond the number row
        {std::nullopt, true, M::altSuper, true, {}},
        {2, true, M::altSuper, true, u"Alt+Super+3"_s}, // the global key wins
        {2, true, M::ctrlShift, false, u"Ctrl+Shift+3"_s},
        {2, true, M::disabled, false, {}},
        {2, false, M::altSuper, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label.toStdString());
        EXPECT_EQ(RowText::shortcutLabel(c.index, c.hints, c.modifier, c.inPanel), c.label);
    }
}
