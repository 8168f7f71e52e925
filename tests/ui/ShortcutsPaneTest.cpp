#include "SettingsFixture.h"

#include "ui/settings/DesktopShortcutHint.h"
#include "ui/settings/ShortcutRecorderView.h"
#include "ui/settings/ShortcutsPane.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
constexpr quint32 kCtrlAlt = KeyCombo::Ctrl | KeyCombo::Alt;
constexpr quint32 kK = 0x6b, kP = 0x70; // keysyms of the letter keys

void startRecording(ShortcutRecorderView& view) {
    QTest::mouseClick(&view, Qt::LeftButton);
    ASSERT_TRUE(view.isRecording());
}
} // namespace

class ShortcutsPaneTest : public SettingsFixture {
protected:
    ShortcutsPaneTest() {
        pane<ShortcutsPane>(SettingsTab::shortcuts);
        showActive();
    }
    ShortcutsPane& shortcuts() { return pane<ShortcutsPane>(SettingsTab::shortcuts); }
    ShortcutRecorderView& open() { return *shortcuts().openPanelRecorder(); }
    int ourGrabs() const { return int(keys.grabs.size()); }
};

TEST_F(ShortcutsPaneTest, RecordingSuspendsOurGrabsAndShowsHeldModifiers) {
    ASSERT_EQ(ourGrabs(), 1);
    QSignalSpy recording(&open(), &ShortcutRecorderView::recordingChanged);
    startRecording(open());
    EXPECT_EQ(ourGrabs(), 0) << "our shortcut would fire instead of being recorded";
    EXPECT_EQ(open().text(), u"Type shortcut…"_s);

    QTest::keyPress(&open(), Qt::Key_Control, Qt::NoModifier);
    EXPECT_EQ(open().text(), u"Ctrl+"_s);
    QTest::keyPress(&open(), Qt::Key_Shift, Qt::ControlModifier);
    EXPECT_EQ(open().text(), u"Ctrl+Shift+"_s);
    QTest::keyRelease(&open(), Qt::Key_Shift, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyRelease(&open(), Qt::Key_Control, Qt::ControlModifier);
    EXPECT_EQ(open().text(), u"Type shortcut…"_s);

    // Shift alone is not enough: a beep, and recording goes on.
    int beeps = 0;
    open().beep = [&beeps] { ++beeps; };
    QTest::keyClick(&open(), Qt::Key_K, Qt::ShiftModifier);
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(open().isRecording());

    QTest::keyClick(&open(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(open().isRecording());
    EXPECT_EQ(prefs.openPanelHotKey(), (KeyCombo{kK, kCtrlAlt}));
    EXPECT_EQ(open().text(), u"Ctrl+Alt+K"_s);
    EXPECT_EQ(ourGrabs(), 1);
    EXPECT_EQ(keys.grabs.first(), std::make_pair(quint32(kK), kCtrlAlt));
    EXPECT_EQ(recording.count(), 2);
    EXPECT_TRUE(shortcuts().conflictWarning().isEmpty());
}

TEST_F(ShortcutsPaneTest, EscKeepsDeleteClearsAndClickingAwayCancels) {
    const auto before = prefs.openPanelHotKey();
    struct Case {
        const char* what;
        std::function<void(ShortcutRecorderView&)> act;
        bool cleared;
    };
    const Case cases[] = {
        {"Esc", [](ShortcutRecorderView& v) { QTest::keyClick(&v, Qt::Key_Escape); }, false},
        {"focus leaving",
         [this](ShortcutRecorderView&) { shortcuts().pauseRecorder()->setFocus(); }, false},
        {"Tab", [](ShortcutRecorderView& v) { QTest::keyClick(&v, Qt::Key_Tab); }, false},
        {"Delete", [](ShortcutRecorderView& v) { QTest::keyClick(&v, Qt::Key_Delete); }, true},
    };
    for (const Case& c : cases) {
        QSignalSpy changed(&prefs, &Preferences::openPanelHotKeyChanged);
        startRecording(open());
        c.act(open());
        if (std::string(c.what) == "Tab") {
            // Tab is a key like any other while recording, refused alone.
            EXPECT_TRUE(open().isRecording());
            QTest::keyClick(&open(), Qt::Key_Escape);
        }
        EXPECT_FALSE(open().isRecording()) << c.what;
        EXPECT_EQ(changed.count(), c.cleared ? 1 : 0) << c.what;
        EXPECT_EQ(prefs.openPanelHotKey(), c.cleared ? std::nullopt : before) << c.what;
        EXPECT_EQ(ourGrabs(), c.cleared ? 0 : 1) << c.what;
    }
    EXPECT_EQ(open().text(), u"Click to record"_s);
}

TEST_F(ShortcutsPaneTest, AChordAnotherProgramHoldsShowsTheWarningUntilReplaced) {
    keys.taken.insert({kK, kCtrlAlt});
    startRecording(open());
    QTest::keyClick(&open(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(shortcuts().conflictWarning(),
              u"Ctrl+Alt+K is already claimed by another app or the desktop."_s);

    // Our own current shortcut is no conflict.
    startRecording(*shortcuts().pauseRecorder());
    QTest::keyClick(shortcuts().pauseRecorder(), Qt::Key_P, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(shortcuts().conflictWarning().isEmpty());
    EXPECT_EQ(ourGrabs(), 1) << "the pause shortcut was not registered";

    startRecording(open());
    QTest::keyClick(&open(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(shortcuts().conflictWarning().isEmpty());
    startRecording(open());
    QTest::keyClick(&open(), Qt::Key_Delete);
    EXPECT_TRUE(shortcuts().conflictWarning().isEmpty());
}

TEST_F(ShortcutsPaneTest, ASettingChangedElsewhereShowsWhileIdle) {
    prefs.setTogglePauseHotKey(KeyCombo{kP, kCtrlAlt});
    EXPECT_EQ(shortcuts().pauseRecorder()->text(), u"Ctrl+Alt+P"_s);
    prefs.resetToDefaults();
    EXPECT_EQ(shortcuts().pauseRecorder()->text(), u"Click to record"_s);
    EXPECT_EQ(open().text(), u"Ctrl+Alt+V"_s);
}

TEST_F(ShortcutsPaneTest, WithoutGlobalShortcutsTheRowsNameTheCommandToBind) {
    ASSERT_TRUE(open().isVisibleTo(&shortcuts()));
    // The desktop's answer comes after the pane was built.
    keys.setAvailable(false);
    EXPECT_FALSE(open().isVisibleTo(&shortcuts()));
    EXPECT_FALSE(shortcuts().pauseRecorder()->isVisibleTo(&shortcuts()));
    struct Row {
        DesktopShortcutHint* hint;
        QString command;
    };
    for (const Row& row : {Row{shortcuts().openPanelHint(), u"tindrel --toggle-panel"_s},
                           Row{shortcuts().pauseHint(), u"tindrel --toggle-pause"_s}}) {
        ASSERT_TRUE(row.hint->isVisibleTo(&shortcuts()));
        EXPECT_EQ(row.hint->text(),
                  u"Set this in your desktop's keyboard settings: "_s + row.command);
        QTest::mouseClick(row.hint->copyButton(), Qt::LeftButton);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), row.command);
    }
    EXPECT_NE(hintStartingWith(shortcuts(), u"This session lets no program set global"_s), nullptr);
    EXPECT_TRUE(shortcuts().unboundWarning().isEmpty()) << "no reason given, none shown";
    // Where the desktop says why, the pane says it, with how to mend it.
    keys.why = u"Tindrel's GNOME Shell extension is turned off (gnome-extensions enable "
               "tindrel@tindrel.io)"_s;
    keys.setAvailable(false);
    EXPECT_EQ(shortcuts().unboundWarning(), u"No global shortcuts: "_s + keys.why + u'.');

    keys.setAvailable(true);
    EXPECT_TRUE(open().isVisibleTo(&shortcuts()));
    EXPECT_FALSE(shortcuts().openPanelHint()->isVisibleTo(&shortcuts()));
    EXPECT_TRUE(shortcuts().unboundWarning().isEmpty());
}

TEST_F(ShortcutsPaneTest, AShortcutTheDesktopDidNotBindSaysSo) {
    prefs.setTogglePauseHotKey(KeyCombo{kP, kCtrlAlt});
    hotKeys.reload(prefs);
    ASSERT_EQ(ourGrabs(), 2);
    EXPECT_TRUE(shortcuts().unboundWarning().isEmpty());
    // A desktop that answers later turns both down.
    const QList<quint32> ids = keys.grabs.keys();
    keys.grabs.clear();
    for (const quint32 id : ids)
        keys.onLost(id, 10);
    EXPECT_EQ(shortcuts().unboundWarning(), u"Ctrl+Alt+V is not bound: X error 10.\n"
                                            "Ctrl+Alt+P is not bound: X error 10."_s);
    EXPECT_TRUE(shortcuts().conflictWarning().isEmpty());
    // Recorded again and bound this time: only the other one is left.
    startRecording(*shortcuts().pauseRecorder());
    QTest::keyClick(shortcuts().pauseRecorder(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(ourGrabs(), 2);
    EXPECT_TRUE(shortcuts().unboundWarning().isEmpty());

    // So are the pinned clips' keys.
    prefs.setPinnedModifier(PinnedShortcutModifier::altSuper);
    keys.taken.insert({'2', KeyCombo::Alt | KeyCombo::Super});
    hotKeys.reload(prefs);
    EXPECT_EQ(shortcuts().unboundWarning(), u"Alt+Super+2 is not bound: X error 10."_s);
    prefs.setPinnedModifier(PinnedShortcutModifier::disabled);
    hotKeys.reload(prefs);

    // Keys another program holds are said once, not twice.
    keys.taken.insert({kP, kCtrlAlt});
    startRecording(*shortcuts().pauseRecorder());
    QTest::keyClick(shortcuts().pauseRecorder(), Qt::Key_P, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(shortcuts().conflictWarning(),
              u"Ctrl+Alt+P is already claimed by another app or the desktop."_s);
    EXPECT_TRUE(shortcuts().unboundWarning().isEmpty());
}
