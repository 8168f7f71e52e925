#include "platform/wayland/WaylandKeySynth.h"
#include "SwaySession.h"
#include "core/capture/ClipboardMonitor.h"
#include "core/capture/Paster.h"
#include "core/prefs/Preferences.h"
#include "core/util/TimerScheduler.h"
#include "platform/wayland/WaylandPasteboard.h"
#include "platform/wayland/WaylandWorkspace.h"
#include "support/FakeWorkspace.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
// A key source that can be told the user still holds a modifier.
class HeldModifiers final : public KeySynth {
public:
    bool modifiersHeld() override { return held; }
    bool sendChord(PasteChord) override { return false; }
    bool held = false;
};
} // namespace

// Pasting into a native Wayland window of the headless sway through the
// virtual keyboard, with the clip put on the clipboard by our pasteboard.
class WaylandKeySynthTest : public SwayTest {
protected:
    void SetUp() override {
        SwayTest::SetUp();
        if (IsSkipped())
            return;
        QString why;
        board = WaylandPasteboard::connect(session.display, &why);
        ASSERT_TRUE(board) << why.toStdString();
        keys = WaylandKeySynth::connect(session.display, &modifiers, &why);
        ASSERT_TRUE(keys) << why.toStdString();

        session.start(field, QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD),
                      {u"io.tindrel.PasteTarget"_s});
        ASSERT_TRUE(field.waitForStarted());
        // The new window takes the focus; keys sent before would go nowhere.
        ASSERT_TRUE(QTest::qWaitFor([&] { return readField(), focused; }, 20000))
            << field.readAllStandardError().toStdString();
    }

    void TearDown() override {
        field.kill();
        field.waitForFinished();
    }

    // Takes in what the text client printed since the last call.
    void readField() {
        while (field.canReadLine()) {
            const QByteArray line = field.readLine().trimmed();
            if (line == "focused")
                focused = true;
            else if (line.startsWith("text "))
                text = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(5)));
        }
    }

    bool fieldShows(const QString& expected) {
        return QTest::qWaitFor([&] { return readField(), text == expected; }, 10000);
    }

    HeldModifiers modifiers;
    std::unique_ptr<WaylandPasteboard> board;
    std::unique_ptr<WaylandKeySynth> keys;
    QProcess field;
    bool focused = false;
    QString text;
};

TEST_F(WaylandKeySynthTest, ChosenClipArrivesThroughThePasteFlow) {
    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakeWorkspace xwayland;
    WaylandWorkspace workspace(xwayland, /*canPaste=*/true, /*sway=*/nullptr);
    ASSERT_TRUE(workspace.isTrusted());
    ClipboardMonitor monitor(prefs, *board, workspace);
    TimerScheduler scheduler;
    Paster paster(prefs, monitor, *board, workspace, *keys, scheduler);

    // Multi-line and beyond ASCII: the keys only paste, the text travels
    // through the clipboard.
    const QString clip = u"chosen clip ✓\nzweite Zeile"_s;
    board->writeText(clip);
    // The user still holds the modifier of the shortcut: nothing may arrive
    // until it is let go, or the client would see a different chord.
    modifiers.held = true;
    paster.activateAndPaste(std::nullopt);
    // A fixed wait: the virtual keyboard carries only the paste chord, so no
    // later marker can travel that way without pasting the clip itself.
    QTest::qWait(300);
    readField();
    EXPECT_EQ(text, QString());
    modifiers.held = false;
    EXPECT_TRUE(fieldShows(clip)) << text.toStdString();
}

TEST_F(WaylandKeySynthTest, EachChordPastesIntoTheClient) {
    // Qt text fields paste on both; Ctrl+Shift+V is a terminal's and types
    // nothing here, so it is not asked of this client.
    struct Case {
        PasteChord chord;
        QString clip;
    };
    const Case cases[] = {
        {PasteChord::CtrlV, u"first"_s},
        {PasteChord::ShiftInsert, u" second"_s},
    };
    QString expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.clip.toStdString());
        board->writeText(c.clip);
        ASSERT_TRUE(keys->sendChord(c.chord));
        expected += c.clip;
        EXPECT_TRUE(fieldShows(expected)) << text.toStdString();
    }
}

// The user's own keyboard still holds Alt+Super (the global shortcut that
// asked for the paste): the compositor gives the client the modifiers of the
// keyboard that sent the last key, so our chord arrives as a plain Ctrl+V.
// Qt would take Ctrl+Alt+Meta+V for no paste at all.
TEST_F(WaylandKeySynthTest, ModifiersHeldOnAnotherKeyboardDoNotSpoilThePaste) {
    QProcess user;
    session.start(user, u"wtype"_s,
                  {u"-M"_s, u"alt"_s, u"-M"_s, u"logo"_s, u"-s"_s, u"4000"_s, u"-m"_s, u"logo"_s,
                   u"-m"_s, u"alt"_s});
    ASSERT_TRUE(user.waitForStarted());
    const auto stop = qScopeGuard([&] {
        user.kill();
        user.waitForFinished();
    });
    QTest::qWait(800);
    ASSERT_EQ(user.state(), QProcess::Running) << user.readAllStandardError().toStdString();

    board->writeText(u"while held"_s);
    ASSERT_TRUE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_TRUE(fieldShows(u"while held"_s)) << text.toStdString();

    // And once that keyboard lets go, pasting still works.
    ASSERT_TRUE(user.waitForFinished(10000));
    board->writeText(u" after"_s);
    ASSERT_TRUE(keys->sendChord(PasteChord::CtrlV));
    EXPECT_TRUE(fieldShows(u"while held after"_s)) << text.toStdString();
}

// Where the compositor has no virtual keyboard, or there is no compositor,
// there is no key synthesiser, and the reason says which.
TEST(WaylandKeySynthConnect, GivesNoneWithAReasonWithoutAVirtualKeyboard) {
    QTemporaryDir runtime;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", saved); });
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QProcess bare;
    bare.start(QStringLiteral(TINDREL_WAYLAND_BARE), {u"wayland-bare"_s});
    ASSERT_TRUE(QTest::qWaitFor([&] { return bare.canReadLine(); }, 10000))
        << bare.readAllStandardError().toStdString();
    const auto stop = qScopeGuard([&] {
        bare.kill();
        bare.waitForFinished();
    });

    const struct {
        QString display;
        QString why;
    } cases[] = {
        {u"wayland-bare"_s, u"the Wayland compositor offers no virtual keyboard"_s},
        {u"wayland-nothing-here"_s, u"cannot connect to the Wayland display"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.display.toStdString());
        QString why;
        EXPECT_EQ(WaylandKeySynth::connect(c.display, nullptr, &why), nullptr);
        EXPECT_EQ(why, c.why);
    }
}
