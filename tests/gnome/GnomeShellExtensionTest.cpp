#include "GnomeSession.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Our Shell extension inside the real gnome-shell, with the test in
// Tindrel's place: it owns Tindrel's bus name and takes the extension's
// calls as Tindrel does.

namespace {
const QString kTindrelName = u"io.tindrel.Tindrel"_s;
const QString kNotTindrel = u"io.tindrel.Shell.Error.NotTindrel"_s;
// A grab held for the length of a case: its press, reported after the ones
// pressed before it, says those have all been reported.
constexpr uint kMarker = 99;
const QString kMarkerAccelerator = u"<Control><Alt>m"_s;
const QString kMarkerChord = u"ctrl+alt+m"_s;

struct FocusReport {
    quint64 window = 0;
    QString desktopId, wmClass, wmInstance;
    uint pid = 0;
    QString title;
    bool x11 = false;
};

// What Tindrel exports for the extension to call.
class ExtensionCallbacks final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.tindrel.ShellExtension")
public:
    QList<uint> pressed;
    QList<FocusReport> focus;

public Q_SLOTS:
    void ShortcutPressed(uint id) { pressed << id; }
    void FocusChanged(qulonglong window, const QString& desktopId, const QString& wmClass,
                      const QString& wmInstance, uint pid, const QString& title, bool x11) {
        focus << FocusReport{window, desktopId, wmClass, wmInstance, pid, title, x11};
    }
};

// The part of Tindrel's own interface the top-bar menu calls.
class TindrelStandIn final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.tindrel.Tindrel")
    Q_PROPERTY(bool Paused READ paused)
public:
    bool paused() const { return false; }
    QStringList calls;

public Q_SLOTS:
    void TogglePanel() { calls << u"TogglePanel"_s; }
    void TogglePause() { calls << u"TogglePause"_s; }
    void OpenSettings(const QString& tab) { calls << u"OpenSettings(%1)"_s.arg(tab); }
    void ClearHistory() { calls << u"ClearHistory"_s; }
    void Quit() { calls << u"Quit"_s; }
};
} // namespace

class GnomeShellExtensionTest : public GnomeTest {
protected:
    void SetUp() override {
        GnomeTest::SetUp();
        if (IsSkipped())
            return;
        tindrel = QDBusConnection::connectToBus(session.busAddress, u"gnome-tindrel"_s);
        intruder = QDBusConnection::connectToBus(session.busAddress, u"gnome-intruder"_s);
        ASSERT_TRUE(tindrel.isConnected() && intruder.isConnected());
        ASSERT_TRUE(tindrel.registerObject(u"/io/tindrel/ShellExtension"_s, &callbacks,
                                           QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(tindrel.registerObject(u"/io/tindrel/Tindrel"_s, &standIn,
                                           QDBusConnection::ExportAllSlots |
                                               QDBusConnection::ExportAllProperties));
        // The Shell enables its extensions a moment after it answers.
        ASSERT_TRUE(waitUntil([&] { return version() == QVariant(1u); }))
            << "our extension is not running: " << shellLog().toStdString();
    }

    void TearDown() override {
        if (!IsSkipped()) {
            // Leaving, as Tindrel does: the extension drops what it held.
            tindrel.unregisterService(kTindrelName);
            QDBusConnection::disconnectFromBus(u"gnome-tindrel"_s);
            QDBusConnection::disconnectFromBus(u"gnome-intruder"_s);
        }
        GnomeTest::TearDown();
    }

    // Takes Tindrel's name, and waits for the focus report the extension
    // sends a Tindrel that appears: it has seen the new owner then.
    bool ownTindrelName() {
        callbacks.focus.clear();
        return tindrel.registerService(kTindrelName) &&
               waitUntil([&] { return !callbacks.focus.isEmpty(); });
    }

    QDBusMessage callShell(QDBusConnection& from, const QString& method,
                           const QVariantList& args = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            u"org.gnome.Shell"_s, u"/io/tindrel/Shell"_s, u"io.tindrel.Shell"_s, method);
        call.setArguments(args);
        return from.call(call, QDBus::Block, 10000);
    }

    // The boolean answer of a call from Tindrel; false when it failed.
    bool ask(const QString& method, const QVariantList& args) {
        const QDBusMessage reply = callShell(tindrel, method, args);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << method.toStdString() << ": " << reply.errorMessage().toStdString();
        return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
    }
    bool grab(uint id, const QString& accelerator) {
        return ask(u"GrabAccelerator"_s, {id, accelerator});
    }
    bool ungrab(uint id) { return ask(u"UngrabAccelerator"_s, {id}); }

    QVariant version() {
        QDBusMessage call =
            QDBusMessage::createMethodCall(u"org.gnome.Shell"_s, u"/io/tindrel/Shell"_s,
                                           u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
        call.setArguments({u"io.tindrel.Shell"_s, u"Version"_s});
        const QDBusMessage reply = intruder.call(call, QDBus::Block, 5000);
        return reply.type() == QDBusMessage::ReplyMessage
                   ? reply.arguments().value(0).value<QDBusVariant>().variant()
                   : QVariant();
    }

    // The shortcut ids the extension reports for the chords pressed in
    // order, once all have been (the marker's grab closes the list).
    QList<uint> presses(const QStringList& chords) {
        callbacks.pressed.clear();
        for (const QString& chord : chords)
            if (!pressKeys(chord))
                return {};
        if (!pressKeys(kMarkerChord) ||
            !waitUntil([&] { return callbacks.pressed.contains(kMarker); })) {
            ADD_FAILURE() << "the marker's press was not reported";
            return {};
        }
        QList<uint> ids = callbacks.pressed;
        ids.removeAll(kMarker);
        return ids;
    }

    // The latest focus report that matches, within a few seconds.
    std::optional<FocusReport> focusReportOf(const std::function<bool(const FocusReport&)>& match) {
        std::optional<FocusReport> found;
        waitUntil([&] {
            for (const FocusReport& report : callbacks.focus)
                if (match(report))
                    found = report;
            return found.has_value();
        });
        return found;
    }

    // Tindrel's connection, with what it exports, and another program's.
    QDBusConnection tindrel{u"unset"_s};
    ExtensionCallbacks callbacks;
    TindrelStandIn standIn;
    QDBusConnection intruder{u"unset"_s};
};

// Grants, refusals, replacement and release of Tindrel's keys, each seen
// through presses on the session's keyboard.
TEST_F(GnomeShellExtensionTest, GrabsKeysForTindrelAndReportsTheirPresses) {
    ASSERT_TRUE(ownTindrelName());
    ASSERT_TRUE(grab(kMarker, kMarkerAccelerator));
    EXPECT_TRUE(grab(1, u"<Control><Alt>y"_s));
    EXPECT_TRUE(grab(2, u"<Super>F7"_s));
    EXPECT_EQ(presses({u"ctrl+alt+y"_s, u"super+F7"_s, u"ctrl+alt+y"_s}), (QList<uint>{1, 2, 1}));

    // Keys someone holds already, and what is no key at all.
    struct Refused {
        const char* accelerator;
        const char* why;
    };
    for (const Refused& refused : {Refused{"<Control><Alt>y", "ours, for another shortcut"},
                                   Refused{"<Alt>F2", "the Shell's own run dialog"},
                                   Refused{"<Bogus>nokey", "not an accelerator"}})
        EXPECT_FALSE(grab(3, QString::fromLatin1(refused.accelerator))) << refused.why;

    // A new key replaces the shortcut's old one, which is free again.
    EXPECT_TRUE(grab(1, u"<Control><Alt>u"_s));
    EXPECT_EQ(presses({u"ctrl+alt+y"_s, u"ctrl+alt+u"_s}), QList<uint>{1});
    EXPECT_TRUE(grab(3, u"<Control><Alt>y"_s));
    // A refused key leaves the shortcut its old one.
    EXPECT_FALSE(grab(1, u"<Alt>F2"_s));
    EXPECT_EQ(presses({u"ctrl+alt+u"_s, u"ctrl+alt+y"_s}), (QList<uint>{1, 3}));

    // Released, by name and by an empty accelerator: no more presses.
    EXPECT_TRUE(ungrab(1));
    EXPECT_FALSE(ungrab(1)) << "released twice";
    EXPECT_TRUE(grab(2, QString()));
    EXPECT_FALSE(ungrab(2));
    EXPECT_EQ(presses({u"ctrl+alt+u"_s, u"super+F7"_s, u"ctrl+alt+y"_s}), QList<uint>{3});
}

// Only the program that owns Tindrel's name may use the extension: any
// other is refused, and what it asked for is not done.
TEST_F(GnomeShellExtensionTest, RefusesCallersThatAreNotTindrel) {
    const struct {
        const char* method;
        QVariantList args;
    } calls[] = {
        {"GrabAccelerator", {1u, u"<Control><Alt>k"_s}},
        {"UngrabAccelerator", {1u}},
        {"ActivateWindow", {qulonglong(1)}},
        {"ReportFocus", {}},
    };
    for (const bool tindrelRuns : {false, true}) {
        if (tindrelRuns) {
            ASSERT_TRUE(ownTindrelName());
        }
        for (const auto& call : calls) {
            const QDBusMessage reply =
                callShell(intruder, QString::fromLatin1(call.method), call.args);
            EXPECT_EQ(reply.errorName(), kNotTindrel)
                << call.method << (tindrelRuns ? " while Tindrel runs" : " with no Tindrel");
        }
    }
    // Its grab was not made: the key is Tindrel's to take, and presses of
    // it come to Tindrel alone.
    ASSERT_TRUE(grab(kMarker, kMarkerAccelerator));
    EXPECT_TRUE(grab(1, u"<Control><Alt>k"_s));
    EXPECT_EQ(presses({u"ctrl+alt+k"_s}), QList<uint>{1});
}

// The window in front, reported to Tindrel as it changes: a native Wayland
// app by its desktop id, an X11 one as such; and back on request.
TEST_F(GnomeShellExtensionTest, ReportsTheFocusedWindowAndActivatesOne) {
    ASSERT_TRUE(ownTindrelName());

    QProcess& field =
        client(QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD), {u"io.tindrel.TestField"_s});
    const std::optional<FocusReport> wayland = focusReportOf(
        [&](const FocusReport& report) { return report.pid == uint(field.processId()); });
    ASSERT_TRUE(wayland) << shellLog().toStdString();
    EXPECT_NE(wayland->window, 0u);
    EXPECT_EQ(wayland->desktopId, u"io.tindrel.TestField"_s);
    EXPECT_EQ(wayland->title, u"Tindrel paste target"_s);
    EXPECT_FALSE(wayland->x11);

    QTemporaryDir dir;
    // Through XWayland: Qt would take the Wayland socket it finds.
    QProcess& editor = clients.emplace_back();
    QProcessEnvironment env = session.environment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    editor.setProcessEnvironment(env);
    editor.start(QStringLiteral(TINDREL_X11_HELPER),
                 {u"editor"_s, dir.filePath(u"saved"_s), u"--class"_s, u"TindrelGnomeEditor"_s});
    const std::optional<FocusReport> x11 = focusReportOf(
        [&](const FocusReport& report) { return report.pid == uint(editor.processId()); });
    ASSERT_TRUE(x11) << shellLog().toStdString();
    EXPECT_TRUE(x11->x11);
    EXPECT_EQ(x11->wmClass, u"TindrelGnomeEditor"_s);
    EXPECT_EQ(x11->wmInstance, u"tindrel_x11_helper"_s);
    // No desktop entry names it: the Shell's made-up app is not an id.
    EXPECT_EQ(x11->desktopId, QString());
    EXPECT_NE(x11->window, wayland->window);

    // Tindrel brings the Wayland window back to the front, and asks which
    // window is there.
    callbacks.focus.clear();
    EXPECT_TRUE(ask(u"ActivateWindow"_s, {QVariant::fromValue(qulonglong(wayland->window))}));
    EXPECT_TRUE(focusReportOf([&](const FocusReport& r) { return r.window == wayland->window; }));
    callbacks.focus.clear();
    EXPECT_EQ(callShell(tindrel, u"ReportFocus"_s).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(waitUntil([&] { return !callbacks.focus.isEmpty(); }));
    EXPECT_EQ(callbacks.focus.last().window, wayland->window);
    EXPECT_EQ(callbacks.focus.last().desktopId, u"io.tindrel.TestField"_s);
    EXPECT_FALSE(ask(u"ActivateWindow"_s, {QVariant::fromValue(qulonglong(0xfffffff))}));
}

// Tindrel quitting, or the extension being switched off, gives every key
// back: the next Tindrel finds it free, and only its own grab reports.
TEST_F(GnomeShellExtensionTest, GivesTheKeysBackWhenTindrelOrTheExtensionGoes) {
    ASSERT_TRUE(ownTindrelName());
    ASSERT_TRUE(grab(1, u"<Control><Alt>j"_s));
    ASSERT_TRUE(tindrel.unregisterService(kTindrelName));
    ASSERT_TRUE(ownTindrelName());
    ASSERT_TRUE(grab(kMarker, kMarkerAccelerator));
    EXPECT_TRUE(grab(2, u"<Control><Alt>j"_s)) << "the old grab is still held";
    EXPECT_EQ(presses({u"ctrl+alt+j"_s}), QList<uint>{2});

    const auto extensions = [&](const QString& method) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            u"org.gnome.Shell"_s, u"/org/gnome/Shell"_s, u"org.gnome.Shell.Extensions"_s, method);
        call.setArguments({u"tindrel@tindrel.io"_s});
        return intruder.call(call, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
    };
    // The cases after this one need it enabled, whatever happens here.
    const auto enableAgain = qScopeGuard([&] { extensions(u"EnableExtension"_s); });
    ASSERT_TRUE(extensions(u"DisableExtension"_s));
    ASSERT_TRUE(waitUntil([&] { return !version().isValid(); })) << "still exported";
    callbacks.focus.clear();
    ASSERT_TRUE(extensions(u"EnableExtension"_s));
    // Enabled again, it finds Tindrel there and says what is in front.
    ASSERT_TRUE(waitUntil([&] { return !callbacks.focus.isEmpty(); })) << shellLog().toStdString();
    ASSERT_TRUE(grab(kMarker, kMarkerAccelerator));
    EXPECT_TRUE(grab(3, u"<Control><Alt>j"_s)) << "the grab outlived the extension";
    EXPECT_EQ(presses({u"ctrl+alt+j"_s}), QList<uint>{3});
}

// The top bar, seen through the Shell's own screenshots and clicked with a
// pointer made, like the keyboard, through mutter's remote-desktop API.
class GnomeTopBarTest : public GnomeShellExtensionTest {
protected:
    void SetUp() override {
        GnomeShellExtensionTest::SetUp();
        if (IsSkipped())
            return;
        // The Shell takes screenshots for a few programs of its own; this
        // connection takes the name of one.
        screenshots = QDBusConnection::connectToBus(session.busAddress, u"gnome-screenshot"_s);
        ASSERT_TRUE(screenshots.registerService(u"org.gnome.Screenshot"_s));
        QDBusMessage create =
            QDBusMessage::createMethodCall(kRemoteDesktop, u"/org/gnome/Mutter/RemoteDesktop"_s,
                                           kRemoteDesktop, u"CreateSession"_s);
        const QDBusMessage created = screenshots.call(create, QDBus::Block, 10000);
        ASSERT_EQ(created.type(), QDBusMessage::ReplyMessage)
            << created.errorMessage().toStdString();
        pointer = created.arguments().value(0).value<QDBusObjectPath>().path();
        ASSERT_TRUE(remote(u"Start"_s, {}));
    }

    void TearDown() override {
        if (!IsSkipped())
            QDBusConnection::disconnectFromBus(u"gnome-screenshot"_s);
        GnomeShellExtensionTest::TearDown();
    }

    bool remote(const QString& method, const QVariantList& args) {
        QDBusMessage call = QDBusMessage::createMethodCall(kRemoteDesktop, pointer,
                                                           kRemoteDesktop + u".Session"_s, method);
        call.setArguments(args);
        return screenshots.call(call, QDBus::Block, 10000).type() == QDBusMessage::ReplyMessage;
    }

    // Clicks at a point of the screen. The pointer goes to the bottom-right
    // corner first, so the move from there is known: the top-left one is
    // the Shell's hot corner, which would open the overview.
    bool click(QPoint at, int button) {
        const QPoint corner(screen.width() - 1, screen.height() - 1);
        return !screen.isEmpty() && remote(u"NotifyPointerMotionRelative"_s, {10000.0, 10000.0}) &&
               remote(u"NotifyPointerMotionRelative"_s,
                      {double(at.x() - corner.x()), double(at.y() - corner.y())}) &&
               remote(u"NotifyPointerButton"_s, {button, true}) &&
               remote(u"NotifyPointerButton"_s, {button, false});
    }

    // Where the leftmost of the top bar's status icons is: the first light
    // pixel from the right quarter of the screen on, in the bar's middle.
    std::optional<QPoint> leftmostStatusIcon() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"screen.png"_s);
        QDBusMessage call = QDBusMessage::createMethodCall(
            u"org.gnome.Shell.Screenshot"_s, u"/org/gnome/Shell/Screenshot"_s,
            u"org.gnome.Shell.Screenshot"_s, u"Screenshot"_s);
        call.setArguments({false, false, file});
        const QDBusMessage reply = screenshots.call(call, QDBus::Block, 10000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        const QImage shot(file);
        screen = shot.size();
        if (shot.isNull())
            return std::nullopt;
        for (int x = shot.width() * 3 / 4; x < shot.width(); ++x)
            for (int y = 8; y < 24; ++y)
                if (const QColor c = shot.pixelColor(x, y);
                    c.red() > 200 && c.green() > 200 && c.blue() > 200)
                    return QPoint(x, y);
        return std::nullopt;
    }

    static constexpr int kLeftButton = 0x110, kRightButton = 0x111; // evdev's BTN_*
    inline static const QString kRemoteDesktop = u"org.gnome.Mutter.RemoteDesktop"_s;
    QDBusConnection screenshots{u"unset"_s};
    QString pointer;
    QSize screen;
};

// Tindrel's icon is there while Tindrel runs and gone when it quits; a
// left click opens its panel, and its menu calls what each entry says.
TEST_F(GnomeTopBarTest, ShowsTindrelsIconAndMenuOnlyWhileTindrelRuns) {
    const std::optional<QPoint> without = leftmostStatusIcon();
    ASSERT_TRUE(without) << "no status icons in the top bar";
    ASSERT_TRUE(ownTindrelName());
    std::optional<QPoint> icon;
    ASSERT_TRUE(waitUntil([&] {
        icon = leftmostStatusIcon();
        return icon && icon->x() < without->x() - 8;
    })) << "no icon appeared left of the others";
    const QPoint middle = *icon + QPoint(8, 0);

    ASSERT_TRUE(click(middle, kLeftButton));
    EXPECT_TRUE(waitUntil([&] { return standIn.calls == QStringList{u"TogglePanel"_s}; }))
        << standIn.calls.join(u' ').toStdString();

    // Entries counted down from the top, the separators passed over.
    const struct {
        int downs;
        QString call;
    } entries[] = {
        {1, u"TogglePause"_s}, {2, u"OpenSettings()"_s}, {3, u"ClearHistory"_s}, {4, u"Quit"_s}};
    for (const auto& entry : entries) {
        standIn.calls.clear();
        ASSERT_TRUE(click(middle, kRightButton));
        for (int i = 0; i < entry.downs; ++i)
            ASSERT_TRUE(pressKeys(u"Down"_s));
        ASSERT_TRUE(pressKeys(u"Return"_s));
        EXPECT_TRUE(waitUntil([&] { return standIn.calls == QStringList{entry.call}; }))
            << entry.call.toStdString() << ": " << standIn.calls.join(u' ').toStdString();
    }

    ASSERT_TRUE(tindrel.unregisterService(kTindrelName));
    EXPECT_TRUE(waitUntil([&] { return leftmostStatusIcon() == without; }))
        << "the icon stayed after Tindrel quit";
}

#include "GnomeShellExtensionTest.moc"
