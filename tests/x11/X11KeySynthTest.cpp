#include "X11TestEnv.h"

#include "platform/KeySynth.h"
#include "platform/Workspace.h"
#include "platform/x11/X11Parts.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

using X11TestEnv::contents;
using X11TestEnv::run;
using X11TestEnv::waitUntil;

class X11KeySynthTest : public ::testing::Test {
protected:
    X11KeySynthTest() : desktop(X11Parts::open(false)) {}

    bool frontIs(quint64 window) {
        const auto app = desktop->workspace().frontmost();
        return app && app->window == window;
    }

    QTemporaryDir dir;
    std::unique_ptr<X11Parts> desktop;
};

TEST_F(X11KeySynthTest, SeesEveryHeldModifier) {
    ASSERT_TRUE(desktop);
    KeySynth& synth = desktop->keySynth();
    EXPECT_FALSE(synth.modifiersHeld());
    for (const char* key : {"ctrl", "alt", "shift", "super", "Control_R"}) {
        SCOPED_TRACE(key);
        ASSERT_TRUE(run(u"xdotool"_s, {u"keydown"_s, QLatin1String(key)}));
        EXPECT_TRUE(synth.modifiersHeld());
        ASSERT_TRUE(run(u"xdotool"_s, {u"keyup"_s, QLatin1String(key)}));
        EXPECT_FALSE(synth.modifiersHeld());
    }
}

TEST_F(X11KeySynthTest, SendsEachChordAsTheWindowSeesIt) {
    ASSERT_TRUE(desktop);
    const QString log = dir.filePath(u"keys"_s);
    auto window = TestClient::helper({u"keylog"_s, log});
    ASSERT_TRUE(window->isReady());
    ASSERT_TRUE(waitUntil([&] { return frontIs(window->window()); }));
    KeySynth& synth = desktop->keySynth();
    EXPECT_TRUE(synth.sendChord(PasteChord::CtrlV));
    EXPECT_TRUE(synth.sendChord(PasteChord::CtrlShiftV));
    EXPECT_TRUE(synth.sendChord(PasteChord::ShiftInsert));
    EXPECT_TRUE(waitUntil([&] { return contents(log).count('\n') == 3; }));
    EXPECT_EQ(contents(log), QByteArray("Ctrl+V\nCtrl+Shift+V\nShift+Ins\n"));
    // Nothing stays pressed afterwards.
    EXPECT_FALSE(synth.modifiersHeld());
}
