#include "core/capture/Paster.h"
#include "core/capture/ClipboardMonitor.h"
#include "core/prefs/Preferences.h"
#include "support/FakeKeySynth.h"
#include "support/FakePasteboard.h"
#include "support/FakeWorkspace.h"
#include "support/ManualScheduler.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class PasterTest : public ::testing::Test {
protected:
    PasterTest() {
        workspace.front = FakeWorkspace::app(u"org.example.Panel"_s, 0x900001);
        QObject::connect(&monitor, &ClipboardMonitor::copied,
                         [this](const QString& text) { recorded.append(text); });
        keys.onSend = [this](PasteChord) { sentAt.append(clock.now); };
    }

    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakePasteboard board;
    FakeWorkspace workspace;
    FakeKeySynth keys;
    ManualScheduler clock;
    ClipboardMonitor monitor{prefs, board, workspace};
    Paster paster{prefs, monitor, board, workspace, keys, clock};
    QList<std::chrono::milliseconds> sentAt;
    QStringList recorded;
    const FrontmostApp editor = FakeWorkspace::app(u"org.example.Editor"_s, 0x400001);
};

TEST_F(PasterTest, PastesShortlyAfterTheTargetComesToTheFront) {
    paster.activateAndPaste(editor);
    EXPECT_EQ(workspace.activated, (QList<FrontmostApp>{editor}));
    clock.runFor();
    EXPECT_EQ(keys.sent, (QList<PasteChord>{PasteChord::CtrlV}));
    EXPECT_EQ(sentAt.value(0), Paster::keystrokeDelay);
}

TEST_F(PasterTest, PastesAfterTwelveWaitsWhenTheTargetNeverComesToTheFront) {
    workspace.activationBringsToFront = false;
    paster.activateAndPaste(editor);
    clock.runFor(600ms);
    EXPECT_TRUE(keys.sent.isEmpty());
    clock.runFor();
    // Into whatever is in front, about 0.64 s after the request.
    EXPECT_EQ(keys.sent.size(), 1);
    EXPECT_EQ(sentAt.value(0), 12 * Paster::frontCheckInterval + Paster::keystrokeDelay);
    EXPECT_EQ(workspace.activated.size(), 1);
}

TEST_F(PasterTest, PastesAtOnceWithoutATargetOrIntoOurOwnWindow) {
    FrontmostApp ours = editor;
    ours.isOwnProcess = true;
    for (const std::optional<FrontmostApp>& target :
         {std::optional<FrontmostApp>(), std::optional(ours)}) {
        keys.sent.clear();
        paster.activateAndPaste(target);
        EXPECT_EQ(keys.sent.size(), 1);
    }
    EXPECT_TRUE(workspace.activated.isEmpty());
    EXPECT_EQ(clock.pending(), 0);
}

TEST_F(PasterTest, DoesNothingWithoutPermissionToSynthesise) {
    workspace.trusted = false;
    paster.activateAndPaste(editor);
    paster.activateAndPaste(std::nullopt);
    clock.runFor();
    EXPECT_TRUE(workspace.activated.isEmpty());
    EXPECT_TRUE(keys.sent.isEmpty());
}

TEST_F(PasterTest, WaitsUntilTheUserLetsGoOfTheModifiers) {
    struct Case {
        int heldChecks;
        std::chrono::milliseconds sentAt;
    };
    // Held for 10 checks: sent at the 11th, 0.2 s later. Never let go: sent
    // after one second anyway.
    const Case cases[] = {{0, 0ms},
                          {10, 10 * Paster::modifierCheckInterval},
                          {1000, Paster::modifierChecks * Paster::modifierCheckInterval}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.heldChecks);
        keys.heldChecks = c.heldChecks;
        sentAt.clear();
        const auto start = clock.now;
        paster.pasteKeystroke();
        clock.runFor();
        ASSERT_EQ(sentAt.size(), 1);
        EXPECT_EQ(sentAt[0] - start, c.sentAt);
    }
}

TEST_F(PasterTest, SendsTheChordTheFrontWindowPastesWith) {
    struct Case {
        const char* windowClass;
        const char* instance;
        PasteChord chord;
    };
    const Case cases[] = {
        {"XTerm", "xterm", PasteChord::ShiftInsert},
        {"URxvt", "urxvt", PasteChord::ShiftInsert},
        {"Gnome-terminal", "gnome-terminal-server", PasteChord::CtrlShiftV},
        {"konsole", "konsole", PasteChord::CtrlShiftV},
        {"Alacritty", "Alacritty", PasteChord::CtrlShiftV},
        {"kitty", "kitty", PasteChord::CtrlShiftV},
        {"firefox-esr", "Navigator", PasteChord::CtrlV},
        {"", "", PasteChord::CtrlV},
    };
    monitor.writeOwnText(u"the clip"_s);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windowClass);
        FrontmostApp front = editor;
        front.windowClass = QLatin1String(c.windowClass);
        front.windowInstance = QLatin1String(c.instance);
        workspace.front = front;
        board.primary.reset();
        keys.sent.clear();
        paster.activateAndPaste(std::nullopt);
        EXPECT_EQ(keys.sent, (QList<PasteChord>{c.chord}));
        // Shift+Insert pastes the primary selection: it must hold the clip.
        EXPECT_EQ(board.primary.has_value(), c.chord == PasteChord::ShiftInsert);
        if (board.primary) {
            EXPECT_EQ(*board.primary, u"the clip"_s);
        }
    }
    EXPECT_EQ(board.writes, 1) << "the clipboard itself stays as it was";
}

TEST_F(PasterTest, PinnedShortcutCopiesWithoutRecordingAndPastesWhenAllowed) {
    struct Case {
        bool pasteOnClick;
        qsizetype chords;
    };
    for (const Case c : {Case{true, 1}, Case{false, 0}}) {
        SCOPED_TRACE(c.pasteOnClick);
        prefs.setPasteOnClick(c.pasteOnClick);
        keys.sent.clear();
        sentAt.clear();
        const auto start = clock.now;
        paster.pastePinned(u"pinned text"_s);
        EXPECT_EQ(board.contents, u"pinned text"_s);
        clock.runFor();
        monitor.poll();
        EXPECT_TRUE(recorded.isEmpty());
        EXPECT_EQ(keys.sent.size(), c.chords);
        if (c.chords) {
            EXPECT_EQ(sentAt[0] - start, Paster::pinnedKeystrokeDelay);
        }
        EXPECT_TRUE(workspace.activated.isEmpty()) << "the user's window is still in front";
    }
}

TEST_F(PasterTest, PinnedShortcutBeyondThePinsBeepsAndLeavesTheClipboard) {
    board.copy(u"the user's clipboard"_s);
    const qint64 count = board.changeCount();
    paster.pastePinned(std::nullopt);
    clock.runFor();
    EXPECT_EQ(workspace.beeps, 1);
    EXPECT_EQ(board.changeCount(), count);
    EXPECT_EQ(board.contents, u"the user's clipboard"_s);
    EXPECT_TRUE(keys.sent.isEmpty());
}

TEST_F(PasterTest, AChainStopsWhenThePasterIsGone) {
    auto transient = std::make_unique<Paster>(prefs, monitor, board, workspace, keys, clock);
    workspace.activationBringsToFront = false;
    transient->activateAndPaste(editor);
    transient.reset();
    clock.runFor();
    EXPECT_TRUE(keys.sent.isEmpty());
}
