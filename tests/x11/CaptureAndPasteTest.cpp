#include "X11TestEnv.h"

#include "core/capture/ClipboardMonitor.h"
#include "core/capture/Paster.h"
#include "core/prefs/Preferences.h"
#include "core/shortcuts/HotKeyManager.h"
#include "core/util/TimerScheduler.h"
#include "platform/KeySynth.h"
#include "platform/Pasteboard.h"
#include "platform/Workspace.h"
#include "platform/x11/X11Parts.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using X11TestEnv::contents;
using X11TestEnv::run;
using X11TestEnv::waitUntil;

// The monitor and the paster with the real X11 pieces, against real clients.
class CaptureAndPasteTest : public ::testing::Test {
protected:
    CaptureAndPasteTest() : desktop(X11Parts::open()) {
        if (!desktop)
            return;
        monitor =
            std::make_unique<ClipboardMonitor>(prefs, *desktop->pasteboard(), desktop->workspace());
        QObject::connect(monitor.get(), &ClipboardMonitor::copied,
                         [this](const QString& text, const std::optional<QString>& source) {
                             captures.append({text, source.value_or(u"<none>"_s)});
                         });
        paster = std::make_unique<Paster>(prefs, *monitor, *desktop->pasteboard(),
                                          desktop->workspace(), desktop->keySynth(), scheduler);
    }

    std::optional<FrontmostApp> front() { return desktop->workspace().frontmost(); }
    bool frontIs(quint64 window) {
        const auto app = front();
        return app && app->window == window;
    }
    // A helper window, once it is the active one.
    std::unique_ptr<TestClient> window(const QStringList& args) {
        auto client = TestClient::helper(args);
        EXPECT_TRUE(client->isReady());
        EXPECT_TRUE(waitUntil([&] { return frontIs(client->window()); }));
        return client;
    }
    // Copies with xclip and waits until the monitor has looked at the copy:
    // it starts on the change report and ends when xclip has answered.
    std::unique_ptr<TestClient> copy(const QString& text) {
        const qint64 before = desktop->pasteboard()->changeCount();
        QFile file(dir.filePath(u"copy"_s));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text.toUtf8());
        file.close();
        auto xclip = TestClient::start(
            u"xclip"_s, {u"-quiet"_s, u"-selection"_s, u"clipboard"_s, file.fileName()});
        EXPECT_TRUE(waitUntil([&] { return desktop->pasteboard()->changeCount() > before; }));
        EXPECT_TRUE(waitUntil([&] { return !monitor->isReading(); }));
        return xclip;
    }

    QTemporaryDir dir;
    MemorySettingsStore settings;
    Preferences prefs{settings};
    TimerScheduler scheduler;
    std::unique_ptr<X11Parts> desktop;
    std::unique_ptr<ClipboardMonitor> monitor;
    std::unique_ptr<Paster> paster;
    QList<std::pair<QString, QString>> captures;
};

TEST_F(CaptureAndPasteTest, IgnoresCopiesWhileAnIgnoredApplicationIsInFront) {
    ASSERT_TRUE(desktop);
    prefs.setIgnoredApps({u"org.example.Secret"_s});
    auto secret = window({u"window"_s, u"--class"_s, u"SecretClass"_s});
    ASSERT_TRUE(run(u"xprop"_s,
                    {u"-id"_s, QString::number(secret->window()), u"-f"_s, u"_GTK_APPLICATION_ID"_s,
                     u"8u"_s, u"-set"_s, u"_GTK_APPLICATION_ID"_s, u"org.example.Secret"_s}));
    auto first = copy(u"a copied line"_s);
    EXPECT_TRUE(captures.isEmpty());

    auto notes = window({u"window"_s, u"--class"_s, u"NotesClass"_s});
    auto second = copy(u"a copied line"_s);
    EXPECT_EQ(captures,
              (QList<std::pair<QString, QString>>{{u"a copied line"_s, u"NotesClass"_s}}));
}

TEST_F(CaptureAndPasteTest, IgnoresCopiesMarkedByAPasswordManager) {
    ASSERT_TRUE(desktop);
    struct Case {
        QStringList extra;
        bool captured;
    };
    const Case cases[] = {
        {{u"--type"_s, u"x-kde-passwordManagerHint"_s + u"=secret"_s}, false},
        {{u"--type"_s, u"text/x-kde-passwordManagerHint"_s + u"=1"_s}, false},
        {{u"--type"_s, u"application/x-nspasteboard-concealed-type"_s + u"="_s}, false},
        {{u"--type"_s, u"text/html=<b>bold</b>"_s}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra.join(u' ').toStdString());
        captures.clear();
        const qint64 before = desktop->pasteboard()->changeCount();
        auto owner = TestClient::helper(QStringList{u"offer"_s, u"hunter2"_s} + c.extra);
        ASSERT_TRUE(owner->isReady());
        ASSERT_TRUE(waitUntil([&] { return desktop->pasteboard()->changeCount() > before; }));
        ASSERT_TRUE(waitUntil([&] { return !monitor->isReading(); }));
        EXPECT_EQ(captures.size(), c.captured ? 1 : 0);
        ASSERT_TRUE(X11TestEnv::endOwner(owner, *desktop->pasteboard()));
    }
}

TEST_F(CaptureAndPasteTest, ACopyIsRecordedWhenItHappensNotAtTheNextPoll) {
    ASSERT_TRUE(desktop);
    prefs.setPollInterval(Preferences::maxPollInterval); // also (re)starts the monitor
    EXPECT_FALSE(monitor->isPolling()) << "every change is reported: no timer needs to run";
    QElapsedTimer sinceStart;
    sinceStart.start();
    auto xclip = copy(u"seen at once"_s);
    EXPECT_EQ(captures, (QList<std::pair<QString, QString>>{{u"seen at once"_s, u"<none>"_s}}));
    // No tick of the timer could have run yet: the change report did it.
    EXPECT_LT(sinceStart.elapsed(), monitor->pollPeriod().count());
}

TEST_F(CaptureAndPasteTest, ACopyWhoseReportIsLostIsCaughtByTheTimer) {
    ASSERT_TRUE(desktop);
    auto* board = dynamic_cast<QObject*>(desktop->pasteboard());
    ASSERT_TRUE(board);
    std::unique_ptr<TestClient> xclip;
    {
        // The change is counted, but the monitor is not told of it.
        const QSignalBlocker lost(board);
        xclip = copy(u"reported to nobody"_s);
        X11TestEnv::settle();
        EXPECT_TRUE(captures.isEmpty());
    }
    monitor->start(Preferences::minPollInterval);
    EXPECT_TRUE(waitUntil([&] { return !captures.isEmpty(); }));
    EXPECT_EQ(captures.value(0).first, u"reported to nobody"_s);
}

// An owner that takes the clipboard and never answers: the monitor's look
// waits for it without holding up anything else, gives up after its
// time-out, and does not ask again for the same change.
TEST_F(CaptureAndPasteTest, AHungOwnerKeepsNothingElseWaiting) {
    ASSERT_TRUE(desktop);
    QTemporaryFile asked;
    ASSERT_TRUE(asked.open());
    Pasteboard& board = *desktop->pasteboard();
    const qint64 before = board.changeCount();
    auto hung = TestClient::helper(
        {u"offer"_s, u"never sent"_s, u"--stall"_s, u"*"_s, u"--log"_s, asked.fileName()});
    ASSERT_TRUE(hung->isReady());
    ASSERT_TRUE(waitUntil([&] { return board.changeCount() > before; }));
    EXPECT_TRUE(monitor->isReading()) << "the change report starts the look";

    // The event loop keeps turning while the owner is waited for: timers
    // fire, and the monitor's own ticks come and go without a second read.
    monitor->start(Preferences::minPollInterval);
    int turns = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++turns; });
    ticker.start(10);
    EXPECT_TRUE(waitUntil([&] { return turns >= 5 && monitor->isReading(); }))
        << "the look ended before the event loop turned";
    EXPECT_TRUE(waitUntil([&] { return !monitor->isReading(); }));
    X11TestEnv::settle(std::chrono::duration_cast<std::chrono::milliseconds>(
        3 * std::chrono::duration<double>(Preferences::minPollInterval)));
    EXPECT_FALSE(monitor->isReading());
    EXPECT_EQ(asked.readAll(), QByteArray("TARGETS\n")) << "asked once, for the targets";
    EXPECT_TRUE(captures.isEmpty());

    // The next owner is read as usual.
    ASSERT_TRUE(X11TestEnv::endOwner(hung, board));
    auto xclip = copy(u"after the hung owner"_s);
    EXPECT_EQ(captures.value(0).first, u"after the hung owner"_s);
}

TEST_F(CaptureAndPasteTest, OurOwnWriteIsNotCaptured) {
    ASSERT_TRUE(desktop);
    monitor->writeOwnText(u"written by us"_s);
    X11TestEnv::settle();
    monitor->poll();
    EXPECT_TRUE(captures.isEmpty());
}

TEST_F(CaptureAndPasteTest, PastesIntoThePreviousWindowOfAnotherProcess) {
    ASSERT_TRUE(desktop);
    const QString saved = dir.filePath(u"editor"_s);
    auto editor = window({u"editor"_s, saved});
    const auto previous = front(); // recorded as the panel would, before it opens
    auto other = window({u"window"_s, u"--class"_s, u"Other"_s});

    monitor->writeOwnText(u"pasted by Tindrel ✓"_s);
    paster->activateAndPaste(previous);
    EXPECT_TRUE(waitUntil([&] { return contents(saved) == "pasted by Tindrel ✓"; }))
        << contents(saved).toStdString();
    EXPECT_TRUE(captures.isEmpty());
}

TEST_F(CaptureAndPasteTest, WaitsForTheShortcutKeysToBeReleased) {
    ASSERT_TRUE(desktop);
    const QString saved = dir.filePath(u"editor"_s);
    auto editor = window({u"editor"_s, saved});
    monitor->writeOwnText(u"after the keys are up"_s);
    // The user still holds the shortcut's modifiers and lets go 200 ms later;
    // pasted at once, the editor would see Ctrl+Alt+V and paste nothing.
    ASSERT_TRUE(run(u"xdotool"_s, {u"keydown"_s, u"ctrl+alt"_s}));
    auto release = TestClient::start(u"sh"_s, {u"-c"_s, u"sleep 0.2; xdotool keyup ctrl+alt"_s});
    paster->pasteKeystroke();
    EXPECT_TRUE(waitUntil([&] { return contents(saved) == "after the keys are up"; }))
        << contents(saved).toStdString();
    EXPECT_TRUE(waitUntil([&] { return !release->isRunning(); }));
    EXPECT_FALSE(desktop->keySynth().modifiersHeld());
}

TEST_F(CaptureAndPasteTest, PastesAPinWhileTheDigitOfItsShortcutIsStillDown) {
    ASSERT_TRUE(desktop);
    const QString saved = dir.filePath(u"editor"_s);
    auto editor = window({u"editor"_s, saved});
    prefs.setPinnedModifier(PinnedShortcutModifier::altSuper);
    HotKeyManager hotKeys(desktop->hotKeys());
    bool fired = false;
    QObject::connect(&hotKeys, &HotKeyManager::triggered, [&](HotKeyManager::Action action) {
        if (action != HotKeyManager::Action::pastePinned(0))
            return;
        fired = true;
        paster->pastePinned(u"the first pin"_s);
    });
    hotKeys.reload(prefs);

    // The user lets go of Alt+Super first. The digit still held keeps the
    // keyboard grabbed by its shortcut: the paste chord must get through.
    const auto releaseDigit = qScopeGuard([] { run(u"xdotool"_s, {u"keyup"_s, u"1"_s}); });
    ASSERT_TRUE(run(u"xdotool"_s, {u"keydown"_s, u"alt+super+1"_s}));
    ASSERT_TRUE(run(u"xdotool"_s, {u"keyup"_s, u"alt+super"_s}));
    EXPECT_TRUE(waitUntil([&] { return fired; }));
    EXPECT_TRUE(waitUntil([&] { return contents(saved) == "the first pin"; }))
        << contents(saved).toStdString();
    EXPECT_TRUE(captures.isEmpty());
}

TEST_F(CaptureAndPasteTest, PastesIntoXtermThroughThePrimarySelection) {
    ASSERT_TRUE(desktop);
    const QString saved = dir.filePath(u"xterm"_s);
    // Raw mode: cat gets the pasted bytes without waiting for a line end.
    auto xterm =
        TestClient::start(u"xterm"_s, {u"-e"_s, u"sh"_s, u"-c"_s,
                                       u"stty raw -echo; exec cat > '"_s + saved + u"'"_s});
    ASSERT_TRUE(waitUntil([&] {
        const auto app = front();
        return app && app->windowClass == u"XTerm"_s;
    }));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(saved); }));
    monitor->writeOwnText(u"echo from the clipboard"_s);
    paster->activateAndPaste(std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return contents(saved) == "echo from the clipboard"; }))
        << contents(saved).toStdString();
}
