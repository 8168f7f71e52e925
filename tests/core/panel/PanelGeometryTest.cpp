#include "core/panel/PanelGeometry.h"

#include <gtest/gtest.h>

namespace {
using namespace PanelGeometry;

const QRectF screen(0, 0, 1280, 800);
const QRectF usable(0, 32, 1280, 768); // a tray strip of 32 along the top

PanelContent content(int pinned, int history, double row = 34, bool search = true,
                     bool banner = false) {
    return PanelContent{pinned, history, row, search, banner};
}
} // namespace

TEST(PanelGeometry, PreferredAndMinimumHeightsFollowTheContent) {
    struct Case {
        const char* name;
        PanelContent content;
        double preferred;
        double minimum;
    };
    const Case cases[] = {
        // empty list: 90 + search 41 + divider 1 + footer 36
        {"empty", content(0, 0), 90 + 78, 68 + 8 + 24 + 78},
        {"history only", content(0, 3), 8 + 24 + 3 * 34 + 78, 68 + 24 + 8 + 78},
        {"pins only", content(2, 0), 24 + 68 + 9 + 8 + 78, 68 + 24 + 68 + 41 + 78},
        {"both, compact", content(1, 2, 28), 24 + 28 + 9 + 8 + 24 + 56 + 78,
         56 + 24 + 28 + 41 + 78},
        {"capped list", content(3, 100), 396 + 78, 68 + 24 + 102 + 41 + 78},
        {"no search field", content(0, 0, 34, false), 90 + 37, 68 + 8 + 24 + 37},
        {"banner", content(0, 0, 34, true, true), 90 + 78 + 33, 68 + 8 + 24 + 78 + 33},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(preferredHeight(c.content), c.preferred);
        EXPECT_DOUBLE_EQ(minimumHeight(c.content), c.minimum);
    }
}

TEST(PanelGeometry, OpenSizeHonoursCustomHeightWithinBounds) {
    struct Case {
        const char* name;
        double width;
        double customHeight;
        PanelContent content;
        std::optional<QRectF> usable;
        QSizeF expected;
    };
    const PanelContent many = content(0, 100);
    const double minimum = minimumHeight(many); // 180
    const Case cases[] = {
        {"preferred, capped list", 380, 0, many, usable, {380, 396 + 78}},
        {"custom height wins over preferred", 460, 300, many, usable, {460, 300}},
        {"custom height below minimum", 380, 50, many, usable, {380, minimum}},
        {"custom height beyond the screen", 380, 5000, many, usable, {380, 768 - 40}},
        {"no screen caps at 760", 380, 5000, many, std::nullopt, {380, 760}},
        {"width clamped low", 100, 0, many, usable, {280, 474}},
        {"width clamped high", 1500, 0, many, usable, {900, 474}},
        {"a tiny screen caps even the minimum", 380, 0, many, QRectF(0, 0, 800, 150), {380, 110}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(openSize(c.width, c.customHeight, c.content, c.usable), c.expected);
    }
}

TEST(PanelGeometry, PlacementUnderAnchorStaysInsideTheScreen) {
    struct Case {
        const char* name;
        QRectF anchor;
        QSizeF size;
        std::optional<QRectF> usable;
        QPointF expected;
    };
    const QSizeF size(380, 400);
    const Case cases[] = {
        {"centred below", QRectF(600, 0, 32, 32), size, usable, {426, 38}},
        {"left edge keeps the inset", QRectF(0, 0, 32, 32), size, usable, {8, 38}},
        {"right edge keeps the inset", QRectF(1248, 0, 32, 32), size, usable, {892, 38}},
        {"too wide: the right edge wins",
         QRectF(100, 0, 32, 32),
         QSizeF(1270, 400),
         usable,
         {1280 - 1270 - 8, 38}},
        {"tray at the bottom opens above",
         QRectF(1248, 768, 32, 32),
         size,
         QRectF(0, 0, 1280, 768),
         {892, 768 - 6 - 400}},
        {"cursor low on screen stays on screen",
         QRectF(600, 700, 1, 1),
         size,
         QRectF(screen),
         {600.5 - 190, 700 - 6 - 400}},
        {"no screen: plain arithmetic", QRectF(10, 0, 20, 20), size, std::nullopt, {-170, 26}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QRectF frame = placeAtAnchor(c.anchor, c.size, c.usable);
        EXPECT_EQ(frame.topLeft(), c.expected);
        EXPECT_EQ(frame.size(), c.size);
    }
}

TEST(PanelGeometry, WithoutAnchorThePanelOpensAtTheTopCentre) {
    EXPECT_EQ(placeTopCentre(QSizeF(380, 400), usable).topLeft(), QPointF(450, 72));
    EXPECT_EQ(placeTopCentre(QSizeF(380, 400), std::nullopt).topLeft(), QPointF(-190, 40));
    EXPECT_EQ(placeCentre(QSizeF(380, 400), usable).topLeft(), QPointF(450, 216));
    // Taller than the screen: the top stays on it.
    EXPECT_EQ(placeCentre(QSizeF(380, 1200), usable).topLeft(), QPointF(450, 32));
}

TEST(PanelGeometry, OpenPanelSnapsToWidthAndGrowsButNeverShrinks) {
    const QRectF frame(100, 50, 380, 250);
    // minimum of (2 pins, 0 history) is 279: grows with the top edge fixed
    EXPECT_EQ(grownFrame(frame, 380, content(2, 0), usable), QRectF(100, 50, 380, 279));
    // fewer rows: no shrinking, nothing to do
    EXPECT_EQ(grownFrame(frame, 380, content(0, 1), usable), std::nullopt);
    // the width setting changed
    EXPECT_EQ(grownFrame(frame, 460, content(0, 1), usable), QRectF(100, 50, 460, 250));
    // differences within the tolerance are left alone
    EXPECT_EQ(grownFrame(QRectF(100, 50, 380.4, 250), 380, content(0, 1), usable), std::nullopt);
}

TEST(PanelGeometry, DragResizeStaysWithinBounds) {
    struct Case {
        const char* name;
        QSizeF translation;
        std::optional<QRectF> usable;
        QSizeF expected;
    };
    const QSizeF start(380, 300);
    const PanelContent c = content(2, 5); // minimum 279
    const Case cases[] = {
        {"follows the pointer", {40, 60}, usable, {420, 360}},
        {"left by 500 stops at 280", {-500, 0}, usable, {280, 300}},
        {"right by 2000 stops at 900", {2000, 0}, usable, {900, 300}},
        {"up stops at the content minimum", {0, -200}, usable, {380, 279}},
        {"down stops at the screen", {0, 2000}, usable, {380, 728}},
        {"down without screen stops at 760", {0, 2000}, std::nullopt, {380, 760}},
    };
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.name);
        EXPECT_EQ(dragResize(start, cs.translation, c, cs.usable), cs.expected);
    }
}

TEST(PanelGeometry, MorePinsThanTheScreenHoldsNeverTakeThePanelPastIt) {
    const PanelContent crowded = content(20, 50); // minimum 891 on a 728 limit
    ASSERT_GT(minimumHeight(crowded), 728);
    EXPECT_EQ(openSize(380, 0, crowded, usable), QSizeF(380, 728));
    EXPECT_EQ(minimumSize(crowded, usable), QSizeF(280, 728));
    EXPECT_EQ(maximumSize(crowded, usable), QSizeF(900, 728));
    EXPECT_EQ(grownFrame(QRectF(0, 72, 380, 400), 380, crowded, usable), QRectF(0, 72, 380, 728));
    EXPECT_EQ(dragResize(QSizeF(380, 728), QSizeF(0, 500), crowded, usable), QSizeF(380, 728));
    EXPECT_EQ(openSize(380, 0, crowded, std::nullopt), QSizeF(380, 760));
}

TEST(PanelGeometry, ThePinnedBlockShrinksOnlyWhenThePanelCannotHoldIt) {
    // Whenever the panel has its minimum height or more, the block is whole.
    for (int pins = 1; pins <= 12; ++pins) {
        for (int history = 0; history <= 3; ++history) {
            const PanelContent c = content(pins, history, 28, false);
            const int whole = 4 + 24 + pins * 28 + 9;
            const double list = minimumHeight(c) - 37; // less the footer and its divider
            SCOPED_TRACE(testing::Message() << pins << " pins, " << history << " recent");
            EXPECT_EQ(pinnedBlockHeight(c, list), whole);
            EXPECT_EQ(pinnedBlockHeight(c, list + 300), whole);
        }
    }
    struct Case {
        const char* name;
        PanelContent content;
        double list;
        int block;
    };
    const Case cases[] = {
        {"recent keeps its header and two rows", content(20, 50), 650, 650 - (24 + 68 + 4)},
        {"no recent clips: the pins take it all", content(20, 0), 650, 650},
        {"always room for one pin", content(20, 50), 100, 4 + 24 + 34 + 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pinnedBlockHeight(c.content, c.list), c.block);
    }
}

TEST(PanelGeometry, ReorderTargetRoundsWholeRowsAndClamps) {
    struct Case {
        int index;
        int count;
        double translation;
        int target;
    };
    const Case cases[] = {
        {0, 5, 50, 1},   // 1.47 rows
        {0, 5, 51, 2},   // 1.5 rows rounds away from zero
        {0, 5, 1000, 4}, // clamped to the last pin
        {2, 5, -34, 1},  {2, 5, -51, 0}, {2, 5, -1000, 0}, {3, 5, 16, 3}, {3, 5, -17, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.index << " by " << c.translation);
        EXPECT_EQ(reorderTarget(c.index, c.count, c.translation, 34), c.target);
    }
}

TEST(PanelGeometry, RowsBetweenOriginAndTargetMakeRoom) {
    const double r = 34;
    // third pin dragged up one row: row 1 moves down, row 0 stays
    const PinDrag up{QUuid::createUuid(), 2, -34, 1};
    const double upShifts[] = {0, r, -34, 0, 0};
    // first pin dragged down to position 2: rows 1 and 2 move up
    const PinDrag down{QUuid::createUuid(), 0, 70, 2};
    const double downShifts[] = {70, -r, -r, 0, 0};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_DOUBLE_EQ(pinShift(i, up, r), upShifts[i]);
        EXPECT_DOUBLE_EQ(pinShift(i, down, r), downShifts[i]);
        EXPECT_DOUBLE_EQ(pinShift(i, std::nullopt, r), 0);
    }
}
