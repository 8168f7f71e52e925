#include "platform/wayland/WaylandPasteboard.h"
#include "SwaySession.h"
#include "core/capture/ClipboardMonitor.h"
#include "core/prefs/Preferences.h"
#include "support/FakeWorkspace.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <gtest/gtest.h>
#include <list>

using namespace Qt::StringLiterals;

namespace {
bool waitUntil(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10000);
}
} // namespace

// The Wayland clipboard against a real compositor (headless sway) and real
// clients (wl-copy, wl-paste), all on the Qt event loop of this thread.
class WaylandPasteboardTest : public SwayTest {
protected:
    void SetUp() override {
        SwayTest::SetUp();
        if (IsSkipped())
            return;
        QString why;
        board = WaylandPasteboard::connect(session.display, &why);
        ASSERT_TRUE(board) << why.toStdString();
    }

    void TearDown() override {
        for (QProcess& process : clients) {
            process.kill();
            process.waitForFinished();
        }
    }

    // A Wayland client run as the compositor's user; kept until the test ends.
    QProcess& start(const QString& program, const QStringList& args) {
        QProcess& process = clients.emplace_back();
        session.start(process, program, args);
        EXPECT_TRUE(process.waitForStarted());
        return process;
    }

    // Copies with wl-copy and waits until the change has been seen.
    void copy(const QString& text, const QString& type = u"text/plain;charset=utf-8"_s) {
        const qint64 before = board->changeCount();
        start(u"wl-copy"_s, {u"--foreground"_s, u"--type"_s, type, u"--"_s, text});
        ASSERT_TRUE(waitUntil([&] { return board->changeCount() > before; }));
    }

    // Sets the clipboard with our multi-type source and waits until it is seen.
    void offer(const QStringList& args) {
        const qint64 before = board->changeCount();
        start(QStringLiteral(TINDREL_WAYLAND_OFFER), args);
        ASSERT_TRUE(waitUntil([&] { return board->changeCount() > before; }));
    }

    std::optional<QString> text() {
        std::optional<std::optional<QString>> answer;
        QObject context;
        board->requestText(&context, [&](std::optional<QString> t) { answer = std::move(t); });
        EXPECT_TRUE(waitUntil([&] { return answer.has_value(); }));
        return answer.value_or(std::nullopt);
    }

    QStringList types() {
        QStringList answer;
        board->requestTypes(nullptr, [&](QStringList t) { answer = std::move(t); });
        return answer;
    }

    QString paste() {
        QProcess& wlPaste = start(u"wl-paste"_s, {u"--no-newline"_s});
        // Waited for on the event loop: we may be the one that must answer.
        EXPECT_TRUE(waitUntil([&] { return wlPaste.state() == QProcess::NotRunning; }));
        return QString::fromUtf8(wlPaste.readAllStandardOutput());
    }

    std::unique_ptr<WaylandPasteboard> board;
    std::list<QProcess> clients;
};

TEST_F(WaylandPasteboardTest, ReadsWhatAnotherClientCopied) {
    const QString cases[] = {
        u"hello from wl-copy"_s,
        u"zwei Zeilen\nmit Ümlauten ✓"_s,
        // A leading byte-order mark is part of the text.
        u"\uFEFFmarked"_s,
    };
    for (const QString& copied : cases) {
        SCOPED_TRACE(copied.toStdString());
        copy(copied);
        EXPECT_TRUE(types().contains(u"text/plain;charset=utf-8"_s));
        EXPECT_EQ(text(), copied);
        EXPECT_EQ(board->ownText(), std::nullopt);
    }
}

TEST_F(WaylandPasteboardTest, OfferWithoutTextGivesNone) {
    copy(u"<b>not text</b>"_s, u"application/x-not-text"_s);
    EXPECT_EQ(types(), QStringList{u"application/x-not-text"_s});
    EXPECT_EQ(text(), std::nullopt);
}

TEST_F(WaylandPasteboardTest, OurWriteIsWhatOthersPasteAndIsCountedOnce) {
    const QString ours = u"written by Tindrel ✓\nsecond line"_s;
    const qint64 before = board->changeCount();
    board->writeText(ours);
    EXPECT_EQ(board->changeCount(), before + 1);
    EXPECT_EQ(board->ownText(), ours);

    // By the time wl-paste has read it, the compositor has echoed our own
    // selection back; that echo is not a second change.
    EXPECT_EQ(paste(), ours);
    EXPECT_EQ(text(), ours);
    // Each type once (XWayland lists them to X programs as given), and
    // Latin-1 for the X programs that ask for STRING only.
    QProcess& listed = start(u"wl-paste"_s, {u"--list-types"_s});
    ASSERT_TRUE(waitUntil([&] { return listed.state() == QProcess::NotRunning; }));
    const QStringList offered =
        QString::fromUtf8(listed.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(offered, (QStringList{u"text/plain;charset=utf-8"_s, u"text/plain"_s, u"STRING"_s}));
    QProcess& latin1 = start(u"wl-paste"_s, {u"--no-newline"_s, u"--type"_s, u"STRING"_s});
    ASSERT_TRUE(waitUntil([&] { return latin1.state() == QProcess::NotRunning; }));
    EXPECT_EQ(latin1.readAllStandardOutput(), QByteArray("written by Tindrel ?\nsecond line"));

    // Another client's copy ends our ownership and is counted. The echo
    // came before it on the same connection: once we read the new text, the
    // echo has come too, and counted nothing.
    copy(u"someone else"_s);
    EXPECT_EQ(board->ownText(), std::nullopt);
    EXPECT_EQ(text(), u"someone else"_s);
    EXPECT_EQ(board->changeCount(), before + 2);
}

TEST_F(WaylandPasteboardTest, OwnerThatStallsOrSendsTooMuchGivesNoneAndNoHarm) {
    struct Case {
        const char* name;
        QStringList flags;
    };
    // 33 MiB: just over what we take in.
    const Case cases[] = {
        {"never answers", {u"--stall"_s}},
        {"sends too much", {u"--repeat"_s, QString::number(33 * 1024)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        offer(c.flags + QStringList{QString(1024, u'x'), u"text/plain;charset=utf-8"_s});
        EXPECT_EQ(text(), std::nullopt);
        // The connection still works afterwards.
        copy(u"after"_s);
        EXPECT_EQ(text(), u"after"_s);
    }
}

TEST_F(WaylandPasteboardTest, MonitorSkipsPasswordManagerCopies) {
    MemorySettingsStore settings;
    Preferences prefs{settings};
    FakeWorkspace workspace;
    ClipboardMonitor monitor(prefs, *board, workspace);
    QStringList captured;
    QObject::connect(
        &monitor, &ClipboardMonitor::copied,
        [&](const QString& copied, const std::optional<QString>&) { captured << copied; });
    monitor.start();
    // Every selection is reported: the reports alone do the work below.
    EXPECT_FALSE(monitor.isPolling());

    // The text is offered as text too: only the marker keeps it out.
    offer({u"hunter2"_s, u"text/plain;charset=utf-8"_s, u"x-kde-passwordManagerHint"_s});
    ASSERT_TRUE(types().contains(u"x-kde-passwordManagerHint"_s));
    EXPECT_EQ(text(), u"hunter2"_s);
    ASSERT_TRUE(waitUntil([&] { return !monitor.isReading(); }));

    copy(u"a plain copy"_s);
    ASSERT_TRUE(waitUntil([&] { return !captured.isEmpty(); }));
    EXPECT_EQ(captured, QStringList{u"a plain copy"_s});
}

TEST(WaylandPasteboardConnect, GivesNoneWithAReasonWithoutADisplay) {
    const QByteArray saved = qgetenv("WAYLAND_DISPLAY");
    const auto restore = qScopeGuard([&] { qputenv("WAYLAND_DISPLAY", saved); });
    qunsetenv("WAYLAND_DISPLAY");
    QString why;
    EXPECT_EQ(WaylandPasteboard::connect(QString(), &why), nullptr);
    EXPECT_EQ(why, u"WAYLAND_DISPLAY is not set"_s);
    EXPECT_EQ(WaylandPasteboard::connect(u"wayland-no-such-socket"_s, &why), nullptr);
    EXPECT_EQ(why, u"cannot connect to the Wayland display"_s);
}
