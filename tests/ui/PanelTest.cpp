#include "PanelFixture.h"

#include "ui/panel/PanelResizeGrip.h"
#include "ui/panel/SectionHeader.h"
#include "ui/panel/StartNotice.h"

#include <QClipboard>
#include <QPushButton>

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
FrontmostApp editor() {
    FrontmostApp app;
    app.window = 0x400001;
    app.appId = u"org.example.Editor"_s;
    return app;
}
} // namespace

TEST_F(PanelFixture, TypingFiltersBothBlocksAndPutsTheSelectionBackOnTop) {
    fill({u"alpha pin"_s, u"beta pin"_s}, {u"alpha one"_s, u"gamma"_s, u"ALPHA two"_s});
    open();
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(state->selection(), 2);

    QTest::keyClicks(&search(), u"alp"_s);
    EXPECT_EQ(state->query(), u"alp"_s);
    EXPECT_EQ(state->selection(), 0);
    EXPECT_EQ(rowTexts(*content().pinnedList()), QStringList{u"alpha pin"_s});
    EXPECT_EQ(rowTexts(*content().recentList()), (QStringList{u"alpha one"_s, u"ALPHA two"_s}));
    EXPECT_TRUE(content().pinnedList()->rows().front().isSelected);

    QTest::keyClicks(&search(), u"zzz"_s);
    EXPECT_TRUE(content().emptyState()->isVisibleTo(&content()));
    EXPECT_EQ(content().emptyText(), u"No matches"_s);
}

TEST_F(PanelFixture, ArrowsAndReturnChooseTheSelectedClipAndPasteIntoThePreviousApp) {
    fill({u"pin"_s}, {u"one"_s, u"two"_s, u"three"_s});
    frontmost = editor();
    open();
    int promises = 0;
    QObject::connect(panel.get(), &PanelController::willWriteToPasteboard, [&] {
        ++promises;
        EXPECT_TRUE(written.isEmpty()); // announced before the write
    });
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    key(Qt::Key_Down); // clamps at the last row
    key(Qt::Key_Up);
    key(Qt::Key_Return);
    EXPECT_EQ(written, QStringList{u"two"_s});
    EXPECT_EQ(promises, 1);
    EXPECT_FALSE(panel->isVisible());
    ASSERT_TRUE(pastedInto.empty()); // after a short delay only
    runPending();
    ASSERT_EQ(pastedInto.size(), 1u);
    EXPECT_EQ(pastedInto.front(), editor());
    EXPECT_TRUE(search().text().isEmpty()); // the keys never reached the field
}

TEST_F(PanelFixture, PasteFollowsTheSettings) {
    struct Case {
        const char* name;
        bool closeAfterPaste;
        bool pasteOnClick;
        bool permitted;
        bool ownWindowWasInFront;
        bool staysOpen;
        int pastes;
        bool intoPrevious;
    };
    const Case cases[] = {
        {"copy only, panel stays", false, true, true, false, true, 0, false},
        {"no paste wanted", true, false, true, false, false, 0, false},
        {"paste not permitted", true, true, false, false, false, 0, false},
        {"into the previous app", true, true, true, false, false, 1, true},
        {"our own window was in front", true, true, true, true, false, 1, false},
    };
    fill({}, {u"text"_s});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prefs.setCloseAfterPaste(c.closeAfterPaste);
        prefs.setPasteOnClick(c.pasteOnClick);
        canPaste = c.permitted;
        frontmost = editor();
        frontmost->isOwnProcess = c.ownWindowWasInFront;
        written.clear();
        pastedInto.clear();
        close();
        clock.advance(1);
        open();
        key(Qt::Key_Enter);
        runPending();
        EXPECT_EQ(written, QStringList{u"text"_s});
        EXPECT_EQ(panel->isVisible(), c.staysOpen);
        ASSERT_EQ(static_cast<int>(pastedInto.size()), c.pastes);
        if (c.pastes) {
            EXPECT_EQ(pastedInto.front().has_value(), c.intoPrevious);
        }
    }
}

TEST_F(PanelFixture, CtrlDigitPicksFromAllPinsAndSwallowsMissingOnes) {
    fill({u"first"_s, u"second"_s}, {u"recent"_s});
    open();
    QTest::keyClicks(&search(), u"first"_s); // the search hides the second pin
    key(Qt::Key_3, Qt::ControlModifier);
    EXPECT_TRUE(written.isEmpty());
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(search().text(), u"first"_s);

    key(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(written, QStringList{u"second"_s});

    // With the in-panel number keys off, Ctrl+digit is left to the field.
    written.clear();
    prefs.setInPanelNumberKeys(false);
    clock.advance(1);
    open();
    key(Qt::Key_1, Qt::ControlModifier);
    EXPECT_TRUE(written.isEmpty());
}

TEST_F(PanelFixture, EscapeClosesAndTheToggleThatCausedAHideDoesNotReopen) {
    fill({}, {u"one"_s});
    open();
    key(Qt::Key_Escape);
    EXPECT_FALSE(panel->isVisible());
    clock.advance(0.1);
    panel->toggle(std::nullopt);
    EXPECT_FALSE(panel->isVisible());
    clock.advance(0.2);
    panel->toggle(std::nullopt);
    EXPECT_TRUE(panel->isVisible());
    panel->toggle(std::nullopt);
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(PanelFixture, PinnedHeaderCountsEveryPinWhileAQueryHidesSome) {
    fill({u"red"_s, u"green"_s, u"blue"_s}, {});
    open();
    QTest::keyClicks(&search(), u"green"_s);
    const SectionHeader& header = content().pinnedList()->header();
    EXPECT_EQ(header.title, u"Pinned"_s);
    EXPECT_EQ(header.trailing, u"3/10"_s);
    EXPECT_EQ(content().pinnedList()->rows().size(), 1);

    // A refused pin lights the header up until the flash ends.
    prefs.setPinLimit(3);
    store.record(u"extra"_s);
    search().clear();
    state->setQuery(QString());
    state->togglePin(store.history().front());
    EXPECT_TRUE(content().pinnedList()->header().highlighted);
    EXPECT_EQ(content().pinnedList()->header().trailing, u"3/3"_s);
    runPending();
    EXPECT_FALSE(content().pinnedList()->header().highlighted);
}

TEST_F(PanelFixture, ShortcutHintsFollowThePinnedModifierSetting) {
    QStringList pins;
    for (int i = 1; i <= 11; ++i)
        pins << u"pin %1"_s.arg(i);
    prefs.setPinLimit(20);
    fill(pins, {u"recent"_s});
    open();
    struct Case {
        PinnedShortcutModifier modifier;
        bool inPanel;
        bool hints;
        QString first;
        QString tenth;
    };
    const Case cases[] = {
        {PinnedShortcutModifier::disabled, true, true, u"Ctrl+1"_s, u"Ctrl+0"_s},
        {PinnedShortcutModifier::altSuper, true, true, u"Alt+Super+1"_s, u"Alt+Super+0"_s},
        {PinnedShortcutModifier::shiftSuper, false, true, u"Shift+Super+1"_s, u"Shift+Super+0"_s},
        {PinnedShortcutModifier::disabled, false, true, {}, {}},
        {PinnedShortcutModifier::altSuper, true, false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first.toStdString());
        prefs.setPinnedModifier(c.modifier);
        prefs.setInPanelNumberKeys(c.inPanel);
        prefs.setShowShortcutHints(c.hints);
        const QList<ClipRow>& rows = content().pinnedList()->rows();
        ASSERT_EQ(rows.size(), 11);
        EXPECT_EQ(rows[0].shortcut, c.first);
        EXPECT_EQ(rows[9].shortcut, c.tenth);
        EXPECT_EQ(rows[10].shortcut, QString()); // the eleventh pin has no key
        EXPECT_EQ(content().recentList()->rows().front().shortcut, QString());
    }
}

TEST_F(PanelFixture, HoldAndDragReordersPinsByWholeRows) {
    fill({u"A"_s, u"B"_s, u"C"_s, u"D"_s, u"E"_s}, {u"recent"_s});
    open();
    ClipListView* list = content().pinnedList();
    list->setHoldInterval(0ms);
    const QPoint start = list->rowRect(0).center();
    const Qt::CursorShape cursorBefore = QGuiApplication::overrideCursor()
                                             ? QGuiApplication::overrideCursor()->shape()
                                             : Qt::ArrowCursor;

    sendMouse(list, QEvent::MouseButtonPress, start, Qt::LeftButton);
    QTest::qWait(0); // the hold completes
    ASSERT_TRUE(content().pinDrag().has_value());
    EXPECT_EQ(content().pinDrag()->target, 0);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ClosedHandCursor);

    sendMouse(list, QEvent::MouseMove, start + QPoint(0, 50), Qt::LeftButton);
    EXPECT_EQ(content().pinDrag()->target, 1); // 50 / 34 rounds to one row
    sendMouse(list, QEvent::MouseMove, start + QPoint(0, 51), Qt::LeftButton);
    EXPECT_EQ(content().pinDrag()->target, 2); // 1.5 rows round away from zero
    EXPECT_TRUE(list->rows()[0].isDragging);

    sendMouse(list, QEvent::MouseButtonRelease, start + QPoint(0, 51), Qt::NoButton);
    EXPECT_EQ(texts(store.pinned()), (QStringList{u"B"_s, u"C"_s, u"A"_s, u"D"_s, u"E"_s}));
    EXPECT_FALSE(content().pinDrag().has_value());
    EXPECT_TRUE(written.isEmpty()); // a held press is never a click
    const Qt::CursorShape cursorAfter = QGuiApplication::overrideCursor()
                                            ? QGuiApplication::overrideCursor()->shape()
                                            : Qt::ArrowCursor;
    EXPECT_EQ(cursorAfter, cursorBefore);
}

TEST_F(PanelFixture, NoReorderWhileSearchingOrWithOnePinAndAClickStillChooses) {
    fill({u"only pin"_s}, {u"recent"_s});
    open();
    ClipListView* list = content().pinnedList();
    list->setHoldInterval(0ms);
    EXPECT_FALSE(list->rows().front().reorderable);
    EXPECT_EQ(list->rows().front().tooltip(), QString());

    const QPoint start = list->rowRect(0).center();
    sendMouse(list, QEvent::MouseButtonPress, start, Qt::LeftButton);
    QTest::qWait(0);
    EXPECT_FALSE(content().pinDrag().has_value());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    sendMouse(list, QEvent::MouseButtonRelease, start, Qt::NoButton);
    EXPECT_EQ(written, QStringList{u"only pin"_s});
}

TEST_F(PanelFixture, ClosingTheListMidDragReleasesTheCursorOnce) {
    fill({u"A"_s, u"B"_s}, {});
    open();
    ClipListView* list = content().pinnedList();
    list->setHoldInterval(0ms);
    sendMouse(list, QEvent::MouseButtonPress, list->rowRect(1).center(), Qt::LeftButton);
    QTest::qWait(0);
    ASSERT_TRUE(content().pinDrag().has_value());
    panel->hide();
    EXPECT_FALSE(content().pinDrag().has_value());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(texts(store.pinned()), (QStringList{u"A"_s, u"B"_s}));
}

TEST_F(PanelFixture, BannerAndEmptyStatesShowOnlyWhenTheyApply) {
    open();
    EXPECT_EQ(content().emptyText(), u"Nothing copied yet"_s);
    EXPECT_FALSE(content().banner()->isVisible());
    const int heightWithoutBanner = panel->window()->height();

    close();
    clock.advance(1);
    canPaste = false;
    open();
    EXPECT_TRUE(content().banner()->isVisible());
    EXPECT_EQ(panel->window()->height(), heightWithoutBanner + 33);

    prefs.setPasteOnClick(false);
    EXPECT_FALSE(content().banner()->isVisible());
}

// Opened by Tindrel itself where nothing else would open it: the line on
// how to open it again shows for that showing alone.
TEST_F(PanelFixture, TheStartNoticeSaysHowToOpenThePanelAgainForOneShowing) {
    open();
    const int plain = panel->window()->height();
    close();
    clock.advance(1);

    panel->showWithStartNotice({});
    QCoreApplication::processEvents();
    StartNotice* notice = content().startNotice();
    ASSERT_TRUE(notice->isVisible());
    EXPECT_TRUE(notice->text().contains(u"tindrel --toggle-panel"_s));
    EXPECT_EQ(panel->window()->height(), plain + 66);
    // Nothing to open the desktop's settings with: no button that does nothing.
    EXPECT_FALSE(notice->settingsButton()->isVisible());
    QTest::mouseClick(notice->copyButton(), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"tindrel --toggle-panel"_s);
    close();
    clock.advance(1);

    open();
    EXPECT_FALSE(content().startNotice()->isVisible());
    EXPECT_EQ(panel->window()->height(), plain);
    close();
    clock.advance(1);

    // Where the desktop's keyboard settings are known, a button opens them.
    panel->showWithStartNotice({u"true"_s});
    QCoreApplication::processEvents();
    EXPECT_TRUE(content().startNotice()->settingsButton()->isVisible());
}

TEST_F(PanelFixture, OpensAtTheTopCentreOrUnderTheAnchorWithTheCustomSize) {
    fill({u"pin"_s}, {u"one"_s, u"two"_s});
    open();
    const QRect usable = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = panel->window()->geometry();
    EXPECT_EQ(frame.width(), 380);
    EXPECT_EQ(frame.top(), usable.top() + 40);
    EXPECT_EQ(frame.center().x(), usable.center().x());
    // preferred: 24 + 34 + 9 + 8 + 24 + 2 * 34 + 41 + 1 + 36
    EXPECT_EQ(frame.height(), 245);

    close();
    clock.advance(1);
    prefs.setPanelCustomWidth(500);
    prefs.setPanelCustomHeight(320);
    panel->toggle(QRect(usable.left() + 100, usable.top(), 20, 20));
    const QRect anchored = panel->window()->geometry();
    EXPECT_EQ(anchored.size(), QSize(500, 320));
    EXPECT_EQ(anchored.left(), usable.left() + 8);
    EXPECT_EQ(anchored.top(), usable.top() + 20 + 6);
}

TEST_F(PanelFixture, WhereTheCompositorPlacesWindowsTheSizeStaysFixedThroughEveryChange) {
    // Sway tiles a window whose size may change, so each size is fixed.
    windowHints.placing = false;
    fill({}, {u"one"_s});
    const auto fixed = [this] {
        const QWidget* window = panel->window();
        return window->minimumSize() == window->size() && window->maximumSize() == window->size();
    };
    panel->toggle(QRect(0, 0, 20, 20)); // a tray anchor means nothing here
    ASSERT_TRUE(panel->isVisible());
    const QRect usable = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(panel->window()->geometry().center(), usable.center());
    EXPECT_TRUE(fixed());

    const int before = panel->window()->height();
    for (const QString& text : {u"p1"_s, u"p2"_s, u"p3"_s}) {
        store.record(text);
        store.pin(store.history().front());
    }
    QCoreApplication::processEvents();
    EXPECT_GT(panel->window()->height(), before);
    EXPECT_TRUE(fixed());

    auto* grip = content().resizeGrip();
    Q_EMIT grip->resizeStarted();
    Q_EMIT grip->resizeDragged(QSizeF(60, 0));
    Q_EMIT grip->resizeFinished();
    EXPECT_EQ(panel->window()->width(), 440);
    EXPECT_TRUE(fixed());
}

TEST_F(PanelFixture, ResizeGripStoresTheSizeAndNextDragStartsFromIt) {
    fill({}, {u"one"_s});
    open();
    const QSize opened = panel->window()->size();
    auto* grip = content().resizeGrip();
    const auto drag = [grip](QSizeF translation) {
        Q_EMIT grip->resizeStarted();
        Q_EMIT grip->resizeDragged(translation);
        Q_EMIT grip->resizeFinished();
    };
    drag(QSizeF(-500, 40));
    EXPECT_EQ(panel->window()->size(), QSize(280, opened.height() + 40));
    EXPECT_EQ(prefs.panelCustomWidth(), 280);
    EXPECT_EQ(prefs.panelCustomHeight(), opened.height() + 40);

    drag(QSizeF(20, 0)); // from the size the last drag left
    EXPECT_EQ(panel->window()->size(), QSize(300, opened.height() + 40));
    drag(QSizeF(2000, 0));
    EXPECT_EQ(prefs.panelCustomWidth(), 900);
}

TEST_F(PanelFixture, NewClipsWhileOpenGrowThePanelButNeverShrinkIt) {
    fill({}, {u"one"_s});
    open();
    const int before = panel->window()->height();
    for (const QString& text : {u"p1"_s, u"p2"_s, u"p3"_s}) {
        store.record(text);
        store.pin(store.history().front());
    }
    QCoreApplication::processEvents();
    const int grown = panel->window()->height();
    // minimum: 2 recent rows + header + 3 pins + their header, separator, padding
    EXPECT_EQ(grown, 68 + 24 + 3 * 34 + 41 + 78);
    EXPECT_GT(grown, before);
    store.clearPinned();
    QCoreApplication::processEvents();
    EXPECT_EQ(panel->window()->height(), grown);
}

TEST_F(PanelFixture, SelectingARecentRowScrollsItIntoView) {
    QStringList many;
    for (int i = 0; i < 60; ++i)
        many << u"clip %1"_s.arg(i);
    prefs.setDisplayLimit(60);
    fill({}, many);
    open();
    QScrollBar* bar = content().recentScroll()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    for (int i = 0; i < 40; ++i)
        key(Qt::Key_Down);
    // The scroll is animated; wait for it to bring row 40 into view.
    const QRect row = content().recentList()->rowRect(40);
    const int viewport = content().recentScroll()->viewport()->height();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return row.top() >= bar->value() && row.bottom() <= bar->value() + viewport; },
        2000));
}

TEST_F(PanelFixture, ClipTextInTooltipsIsNeverTakenForMarkup) {
    const QString markup = u"<b>bold</b> <img src=\"x\"> &amp; "_s + QString(80, u'x');
    fill({}, {markup});
    open();
    ClipListView* list = content().recentList();
    const QPoint at = list->rowRect(0).center();
    QHelpEvent help(QEvent::ToolTip, at, list->mapToGlobal(at));
    QApplication::sendEvent(list, &help);
    const QString shown = QToolTip::text();
    EXPECT_TRUE(shown.contains(u"&lt;b&gt;bold&lt;/b&gt;"_s)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(u"&amp;amp;"_s));
    EXPECT_FALSE(shown.contains(u"<b>"_s));
    QToolTip::hideText();
}

TEST_F(PanelFixture, TheContextMenuActsOnTheClipClickedEvenWhenTheListMovesMeanwhile) {
    fill({}, {u"first"_s, u"second"_s, u"third"_s});
    open();
    ClipListView* list = content().recentList();
    // While the menu is open a copy arrives, shifting every row down by one;
    // then "Delete" is chosen with the keyboard.
    QTimer::singleShot(0, [this] {
        store.record(u"arrived meanwhile"_s);
        QWidget* menu = QApplication::activePopupWidget();
        if (!menu)
            return;
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    const QPoint at = list->rowRect(1).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->mapToGlobal(at));
    QApplication::sendEvent(list, &event);
    EXPECT_EQ(texts(store.history()),
              (QStringList{u"arrived meanwhile"_s, u"first"_s, u"third"_s}));
}

TEST_F(PanelFixture, ClosingThePanelMidResizeKeepsTheSizeAndTheNextDragStartsAfresh) {
    fill({}, {u"one"_s});
    open();
    auto* grip = content().findChild<PanelResizeGrip*>();
    ASSERT_TRUE(grip);
    const QSize opened = panel->window()->size();
    const QPoint from = grip->rect().center();
    sendMouse(grip, QEvent::MouseButtonPress, from, Qt::LeftButton);
    sendMouse(grip, QEvent::MouseMove, from + QPoint(0, 30), Qt::LeftButton);
    close(); // Escape while the button is still down: no release follows
    EXPECT_EQ(prefs.panelCustomHeight(), opened.height() + 30);

    open();
    const QSize reopened = panel->window()->size();
    sendMouse(grip, QEvent::MouseButtonPress, from, Qt::LeftButton);
    sendMouse(grip, QEvent::MouseMove, from + QPoint(0, 10), Qt::LeftButton);
    sendMouse(grip, QEvent::MouseButtonRelease, from + QPoint(0, 10), Qt::NoButton);
    EXPECT_EQ(panel->window()->height(), reopened.height() + 10);
}

TEST_F(PanelFixture, ManyPinsKeepThePanelOnScreenAndTheirBlockScrolls) {
    // More pins than the screen holds, as a store loaded over the limit has.
    QStringList pins;
    for (int i = 0; i < 24; ++i)
        pins << u"pin %1"_s.arg(i);
    prefs.setPinLimit(24);
    fill(pins, {u"one"_s, u"two"_s, u"three"_s});
    prefs.setPinLimit(20);
    open();
    const QRect usable = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = panel->window()->geometry();
    ASSERT_GT(24 * 34, usable.height()); // the fixture's screen is smaller than the pins
    EXPECT_LE(frame.height(), usable.height() - 40);
    EXPECT_TRUE(usable.contains(frame));

    // The footer is inside the panel, the recent block keeps two rows, and the
    // pinned block scrolls within the rest.
    auto* footerGrip = content().resizeGrip();
    EXPECT_LE(footerGrip->mapTo(&content(), footerGrip->rect().bottomRight()).y(),
              content().height());
    EXPECT_GE(content().recentScroll()->height(), 24 + 2 * 34);
    QScrollBar* pinBar = content().pinnedScroll()->verticalScrollBar();
    EXPECT_GT(pinBar->maximum(), 0);

    // The keyboard brings the last pin into view.
    for (int i = 0; i < 23; ++i)
        key(Qt::Key_Down);
    const QRect last = content().pinnedList()->rowRect(23);
    const int viewport = content().pinnedScroll()->viewport()->height();
    EXPECT_GE(last.top(), pinBar->value());
    EXPECT_LE(last.bottom(), pinBar->value() + viewport);

    // Neither dragging the grip nor new content takes the panel past the screen.
    auto* grip = content().resizeGrip();
    Q_EMIT grip->resizeStarted();
    Q_EMIT grip->resizeDragged(QSizeF(0, 2000));
    Q_EMIT grip->resizeFinished();
    EXPECT_LE(panel->window()->height(), usable.height() - 40);
    store.record(u"four"_s);
    QCoreApplication::processEvents();
    EXPECT_LE(panel->window()->height(), usable.height() - 40);
}

TEST_F(PanelFixture, KeysPinDeleteAndMoveTheSelectedClip) {
    fill({u"A"_s, u"B"_s}, {u"one"_s, u"two"_s, u"three"_s});
    open();
    auto selected = [this] {
        const std::optional<Clip> clip = state->selectedClip();
        return clip ? clip->text() : QString();
    };
    struct Step {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        QStringList pins;
        QStringList history;
        QString selected;
    };
    const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    const Step steps[] = {
        {"down to the second pin",
         Qt::Key_Down,
         {},
         {u"A"_s, u"B"_s},
         {u"one"_s, u"two"_s, u"three"_s},
         u"B"_s},
        {"move the pin up",
         Qt::Key_Up,
         ctrlShift,
         {u"B"_s, u"A"_s},
         {u"one"_s, u"two"_s, u"three"_s},
         u"B"_s},
        {"the first pin goes no higher",
         Qt::Key_Up,
         ctrlShift,
         {u"B"_s, u"A"_s},
         {u"one"_s, u"two"_s, u"three"_s},
         u"B"_s},
        {"and back down",
         Qt::Key_Down,
         ctrlShift,
         {u"A"_s, u"B"_s},
         {u"one"_s, u"two"_s, u"three"_s},
         u"B"_s},
        {"unpin: the selection goes with it",
         Qt::Key_P,
         Qt::ControlModifier,
         {u"A"_s},
         {u"B"_s, u"one"_s, u"two"_s, u"three"_s},
         u"B"_s},
        {"pin it again",
         Qt::Key_P,
         Qt::ControlModifier,
         {u"B"_s, u"A"_s},
         {u"one"_s, u"two"_s, u"three"_s},
         u"B"_s},
        {"delete: the next clip is selected",
         Qt::Key_Delete,
         Qt::ShiftModifier,
         {u"A"_s},
         {u"one"_s, u"two"_s, u"three"_s},
         u"A"_s},
        {"a recent clip does not move",
         Qt::Key_Down,
         {},
         {u"A"_s},
         {u"one"_s, u"two"_s, u"three"_s},
         u"one"_s},
        {"only pins move",
         Qt::Key_Down,
         ctrlShift,
         {u"A"_s},
         {u"one"_s, u"two"_s, u"three"_s},
         u"one"_s},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        key(step.key, step.modifiers);
        EXPECT_EQ(texts(store.pinned()), step.pins);
        EXPECT_EQ(texts(store.history()), step.history);
        EXPECT_EQ(selected(), step.selected);
    }
    EXPECT_TRUE(search().text().isEmpty());

    // Typed text stays text; with text selected in the field, Shift+Delete
    // cuts it as anywhere else and leaves the clips alone.
    QTest::keyClicks(&search(), u"pt"_s);
    EXPECT_EQ(state->query(), u"pt"_s);
    search().selectAll();
    key(Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(search().text(), QString());
    EXPECT_EQ(texts(store.history()), (QStringList{u"one"_s, u"two"_s, u"three"_s}));

    // A full pin list refuses with the usual signal.
    prefs.setPinLimit(1);
    key(Qt::Key_Down);
    key(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(texts(store.pinned()), QStringList{u"A"_s});
    EXPECT_EQ(workspace.beeps, 1);
}

TEST_F(PanelFixture, TheContextMenuNamesEachActionsKeyAndMovesPins) {
    fill({u"A"_s, u"B"_s, u"C"_s}, {u"one"_s});
    open();
    auto menuItems = [this](ClipListView* list, int row, const QString& choose) {
        QStringList items;
        QTimer::singleShot(0, [&items, &choose] {
            QWidget* menu = QApplication::activePopupWidget();
            if (!menu)
                return;
            QAction* pick = nullptr;
            for (QAction* action : menu->actions()) {
                items << action->text();
                if (action->text().startsWith(choose) && action->isEnabled())
                    pick = action;
            }
            auto* asMenu = qobject_cast<QMenu*>(menu);
            if (!pick || !asMenu) {
                menu->close();
                return;
            }
            asMenu->setActiveAction(pick);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        const QPoint at = list->rowRect(row).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->mapToGlobal(at));
        QApplication::sendEvent(list, &event);
        return items;
    };
    EXPECT_EQ(menuItems(content().pinnedList(), 1, u"Move Down"_s),
              (QStringList{u"Unpin\tCtrl+P"_s, u"Move Up\tCtrl+Shift+↑"_s,
                           u"Move Down\tCtrl+Shift+↓"_s, u"Delete\tShift+Delete"_s}));
    EXPECT_EQ(texts(store.pinned()), (QStringList{u"A"_s, u"C"_s, u"B"_s}));
    EXPECT_EQ(menuItems(content().recentList(), 0, u"none"_s),
              (QStringList{u"Pin\tCtrl+P"_s, u"Delete\tShift+Delete"_s}));
}

TEST_F(PanelFixture, APanelBuiltAheadStaysHiddenAndOpensAsOneBuiltOnTheFirstShortcut) {
    fill({u"pin one"_s, u"pin two"_s}, {u"one"_s, u"two"_s, u"three"_s});
    canPaste = false; // the banner is part of what is built
    panel->prepare();
    PanelWindow* built = panel->window();
    ASSERT_NE(built, nullptr);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(pointer.watching) << "nothing is watched for a panel nobody opened";
    EXPECT_EQ(rowTexts(*content().recentList()), (QStringList{u"one"_s, u"two"_s, u"three"_s}));
    EXPECT_EQ(rowTexts(*content().pinnedList()), (QStringList{u"pin one"_s, u"pin two"_s}));

    open();
    EXPECT_EQ(panel->window(), built);
    EXPECT_TRUE(panel->isVisible());
    const QRect preparedFrame = built->geometry();
    const QStringList preparedRows = rowTexts(*content().recentList());
    const bool preparedBanner = content().banner()->isVisibleTo(&content());
    panel->prepare(); // an open panel is left alone
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(built->geometry(), preparedFrame);

    // The same opening on a panel built only then.
    panel.reset();
    panel = std::make_unique<PanelController>(
        *state, prefs,
        PanelController::Desktop{clock, workspace, board, pointer, windowHints, scheduler});
    open();
    EXPECT_EQ(panel->window()->geometry(), preparedFrame);
    EXPECT_EQ(rowTexts(*content().recentList()), preparedRows);
    EXPECT_EQ(content().banner()->isVisibleTo(&content()), preparedBanner);
}
