#include "PrivateBus.h"
#include "core/prefs/Preferences.h"
#include "core/shortcuts/HotKeyManager.h"
#include "platform/gnome/GnomeShellExtension.h"
#include "platform/gnome/GnomeShellHotKeyService.h"
#include "platform/gnome/GnomeWorkspace.h"
#include "support/FakeKeySynth.h"
#include "support/FakeWorkspace.h"
#include "support/MemorySettingsStore.h"
#include "support/QtPrinters.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
const QString kOurName = u"io.tindrel.Tindrel"_s;
constexpr quint32 kV = 0x76; // XKB_KEY_v
constexpr quint32 kCtrlAlt = 256 | 2048;

// The Shell's list of extensions, as far as we ask it.
class FakeShellExtensions final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell.Extensions")
public:
    QVariantMap info; // empty: not installed

public Q_SLOTS:
    QVariantMap GetExtensionInfo(const QString& uuid) {
        return uuid == u"tindrel@tindrel.io"_s ? info : QVariantMap();
    }
};

// Our extension inside the Shell, recording what it is asked.
class FakeOurExtension final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.tindrel.Shell")
    Q_PROPERTY(uint Version READ version)
public:
    uint versionSaid = 1;
    QStringList calls;
    // Accelerators some other shortcut of the Shell's holds.
    QStringList taken;

    uint version() const { return versionSaid; }

public Q_SLOTS:
    bool GrabAccelerator(uint id, const QString& accelerator) {
        calls << u"grab %1 %2"_s.arg(id).arg(accelerator);
        return !taken.contains(accelerator);
    }
    bool UngrabAccelerator(uint id) {
        calls << u"ungrab %1"_s.arg(id);
        return true;
    }
    bool ActivateWindow(qulonglong window) {
        calls << u"activate %1"_s.arg(window);
        return true;
    }
    void ReportFocus() { calls << u"report focus"_s; }
};

// Calls us as `from` would, and waits until we have handled it.
bool callUs(QDBusConnection from, const QString& method, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(kOurName, u"/io/tindrel/ShellExtension"_s,
                                                       u"io.tindrel.ShellExtension"_s, method);
    call.setArguments(arguments);
    QDBusPendingCallWatcher watcher(from.asyncCall(call));
    return QTest::qWaitFor([&] { return watcher.isFinished(); }, 5000) && !watcher.isError();
}

class GnomeShellClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
        ours = QDBusConnection::connectToBus(bus.address(), u"tindrel"_s);
        shell = QDBusConnection::connectToBus(bus.address(), u"fake-shell"_s);
        stranger = QDBusConnection::connectToBus(bus.address(), u"stranger"_s);
        ASSERT_TRUE(ours.registerService(kOurName));
        ASSERT_TRUE(shell.registerObject(u"/org/gnome/Shell"_s, &extensions,
                                         QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(shell.registerObject(u"/io/tindrel/Shell"_s, &extension,
                                         QDBusConnection::ExportAllSlots |
                                             QDBusConnection::ExportAllProperties));
        hotKeys = std::make_unique<GnomeShellHotKeyService>(client);
        manager = std::make_unique<HotKeyManager>(*hotKeys);
        QObject::connect(manager.get(), &HotKeyManager::triggered,
                         [this](HotKeyManager::Action action) { triggered << int(action.kind); });
    }
    void TearDown() override {
        manager.reset();
        hotKeys.reset();
        for (const QString& name : {u"tindrel"_s, u"fake-shell"_s, u"stranger"_s})
            QDBusConnection::disconnectFromBus(name);
    }

    // The Shell comes onto the bus with the extension in `state`.
    void shellWith(std::optional<int> state) {
        extensions.info =
            state ? QVariantMap{{u"uuid"_s, u"tindrel@tindrel.io"_s}, {u"state"_s, double(*state)}}
                  : QVariantMap();
        ASSERT_TRUE(shell.registerService(u"org.gnome.Shell"_s));
    }
    // The Shell says the extension's state changed.
    void extensionBecomes(int state) {
        extensions.info = {{u"uuid"_s, u"tindrel@tindrel.io"_s}, {u"state"_s, double(state)}};
        QDBusMessage signal = QDBusMessage::createSignal(
            u"/org/gnome/Shell"_s, u"org.gnome.Shell.Extensions"_s, u"ExtensionStateChanged"_s);
        signal << u"tindrel@tindrel.io"_s << QVariant::fromValue(extensions.info);
        shell.send(signal);
    }
    bool settlesOn(GnomeShellExtension::State state) {
        return QTest::qWaitFor([&] { return client.state() == state; }, 5000);
    }

    PrivateBus bus;
    QDBusConnection ours{QString()};
    QDBusConnection shell{QString()};
    QDBusConnection stranger{QString()};
    FakeShellExtensions extensions;
    FakeOurExtension extension;
    GnomeShellExtension client;
    std::unique_ptr<GnomeShellHotKeyService> hotKeys;
    std::unique_ptr<HotKeyManager> manager;
    MemorySettingsStore settings;
    Preferences prefs{settings};
    QList<int> triggered;
};
} // namespace

// What the Shell says of the extension decides whether there are shortcuts,
// and the settings learn how to get them where there are none.
TEST_F(GnomeShellClientTest, SaysWhyThereAreNoShortcutsUntilTheExtensionRuns) {
    using State = GnomeShellExtension::State;
    client.useConnection(ours, kOurName);
    ASSERT_TRUE(settlesOn(State::noShell));
    EXPECT_FALSE(hotKeys->isAvailable());
    EXPECT_EQ(hotKeys->problem(), u"GNOME Shell is not running"_s);

    shellWith(std::nullopt);
    ASSERT_TRUE(settlesOn(State::missing));
    EXPECT_EQ(hotKeys->problem(), u"Tindrel's GNOME Shell extension is not installed"_s);

    const std::pair<int, State> states[] = {
        {2, State::disabled}, {6, State::disabled}, {3, State::failed}, {4, State::outdated}};
    for (const auto& [shellState, expected] : states) {
        extensionBecomes(shellState);
        ASSERT_TRUE(settlesOn(expected)) << shellState;
        EXPECT_FALSE(hotKeys->isAvailable());
    }
    extensionBecomes(2);
    ASSERT_TRUE(settlesOn(State::disabled));
    EXPECT_EQ(hotKeys->problem(), u"Tindrel's GNOME Shell extension is turned off "
                                  "(gnome-extensions enable tindrel@tindrel.io)"_s);

    // An extension of another release is not spoken to.
    extension.versionSaid = 2;
    extensionBecomes(1);
    ASSERT_TRUE(settlesOn(State::outdated));
    EXPECT_FALSE(hotKeys->isAvailable());

    extension.versionSaid = 1;
    manager->reload(prefs);
    extensionBecomes(1);
    ASSERT_TRUE(settlesOn(State::active));
    EXPECT_TRUE(hotKeys->isAvailable());
    EXPECT_TRUE(hotKeys->problem().isEmpty());
    // Turned on, it binds what the settings ask, and reports the focus.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !extension.calls.filter(QRegularExpression(u"^grab \\d+ <Control><Alt>v$"_s))
                        .isEmpty();
        },
        5000))
        << extension.calls.join(u", "_s).toStdString();
    EXPECT_TRUE(extension.calls.contains(u"report focus"_s));

    // The Shell going (a restart, a crash) takes the shortcuts with it.
    ASSERT_TRUE(shell.unregisterService(u"org.gnome.Shell"_s));
    ASSERT_TRUE(settlesOn(State::noShell));
    EXPECT_FALSE(hotKeys->isAvailable());
}

// Keys bound through the extension: each on its own, a refusal said, and
// presses taken only from the Shell.
TEST_F(GnomeShellClientTest, BindsEachKeyAndTakesPressesOnlyFromTheShell) {
    shellWith(1);
    client.useConnection(ours, kOurName);
    ASSERT_TRUE(settlesOn(GnomeShellExtension::State::active));
    extension.taken << u"<Control><Alt>p"_s;
    prefs.setTogglePauseHotKey(KeyCombo{0x70, kCtrlAlt}); // XKB_KEY_p
    manager->reload(prefs);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return manager->refusal(HotKeyManager::Action::togglePause()).has_value(); }, 5000));
    EXPECT_EQ(*manager->refusal(HotKeyManager::Action::togglePause()),
              u"Ctrl+Alt+P is not bound: GNOME Shell refused it (another shortcut has these "
              "keys)."_s);
    EXPECT_FALSE(manager->refusal(HotKeyManager::Action::openPanel()));
    const quint32 openId = manager->registeredIds().value(0);
    ASSERT_EQ(manager->registeredIds().size(), 1);

    // Only the Shell presses our keys.
    ASSERT_TRUE(callUs(stranger, u"ShortcutPressed"_s, {openId}));
    EXPECT_TRUE(triggered.isEmpty());
    ASSERT_TRUE(callUs(shell, u"ShortcutPressed"_s, {openId}));
    // Handed on through the event loop; the stranger's press would be first.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !triggered.isEmpty(); }, 5000));
    EXPECT_EQ(triggered, QList<int>{int(HotKeyManager::Action::Kind::openPanel)});

    // A key given up is released in the Shell too.
    prefs.setOpenPanelHotKey(std::nullopt);
    manager->reload(prefs);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return extension.calls.contains(u"ungrab %1"_s.arg(openId)); }, 5000))
        << extension.calls.join(u", "_s).toStdString();
    EXPECT_EQ(GnomeShellHotKeyService::accelerator(kV, 4096 | 512), u"<Shift><Super>v"_s);
}

// The window in front as the extension reports it; without the extension,
// only X11 windows are known.
TEST_F(GnomeShellClientTest, TheWindowInFrontComesFromTheShellAlone) {
    FakeWorkspace xwayland;
    FakeKeySynth portal;
    GnomeWorkspace workspace(xwayland, client, portal);
    FrontmostApp xterm;
    xterm.window = 0x600001;
    xterm.windowClass = u"XTerm"_s;
    xwayland.front = xterm;
    EXPECT_FALSE(workspace.seesFrontmost());
    EXPECT_EQ(workspace.frontmost(), xterm);
    EXPECT_FALSE(workspace.howToSeeFrontmost().isEmpty());

    shellWith(1);
    client.useConnection(ours, kOurName);
    ASSERT_TRUE(settlesOn(GnomeShellExtension::State::active));
    EXPECT_TRUE(workspace.seesFrontmost());
    const QVariantList gedit{qulonglong(42), u"org.gnome.gedit"_s,   u"Gedit"_s, u"gedit"_s,
                             uint(4242),     u"notes.txt - gedit"_s, false};
    ASSERT_TRUE(callUs(stranger, u"FocusChanged"_s, gedit));
    EXPECT_EQ(workspace.frontmost(), std::nullopt) << "only the Shell says what is in front";
    ASSERT_TRUE(callUs(shell, u"FocusChanged"_s, gedit));
    ASSERT_TRUE(workspace.frontmost());
    const FrontmostApp front = *workspace.frontmost();
    EXPECT_EQ(front.window, 42u);
    EXPECT_EQ(front.appId, u"org.gnome.gedit"_s);
    EXPECT_EQ(front.pid, 4242);
    EXPECT_EQ(front.windowClass, u"Gedit"_s);
    EXPECT_FALSE(front.isOwnProcess);

    // Brought back through the Shell, by the Shell's own window id.
    EXPECT_TRUE(workspace.activate(front));
    EXPECT_TRUE(QTest::qWaitFor([&] { return extension.calls.contains(u"activate 42"_s); }, 5000));

    // No window has the focus.
    ASSERT_TRUE(
        callUs(shell, u"FocusChanged"_s,
               {qulonglong(0), QString(), QString(), QString(), uint(0), QString(), false}));
    EXPECT_EQ(workspace.frontmost(), std::nullopt);
}

// Pasting reaches X11 windows through XTest whatever the portal said, and
// the others only while the portal may still agree.
TEST(GnomeWorkspace, CanPasteWhereXTestOrThePortalReaches) {
    FakeWorkspace xwayland;
    FakeKeySynth portal;
    GnomeShellExtension extension;
    GnomeWorkspace workspace(xwayland, extension, portal);
    FrontmostApp xterm;
    xterm.window = 0x600001;
    struct Case {
        bool x11InFront;
        PastePermission portal;
        bool canPaste;
    };
    const Case cases[] = {
        {true, PastePermission::refused, true},   {true, PastePermission::unavailable, true},
        {false, PastePermission::notAsked, true}, {false, PastePermission::granted, true},
        {false, PastePermission::refused, false}, {false, PastePermission::unavailable, false},
    };
    for (const Case& c : cases) {
        xwayland.front = c.x11InFront ? std::optional(xterm) : std::nullopt;
        portal.grant = c.portal;
        EXPECT_EQ(workspace.isTrusted(), c.canPaste) << c.x11InFront << ' ' << int(c.portal);
    }
}

#include "GnomeShellClientTest.moc"
