#include "X11TestEnv.h"

#include "platform/HotKeyService.h"
#include "platform/x11/X11Parts.h"

#include <QProcess>
#include <QScopeGuard>
#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using X11TestEnv::run;
using X11TestEnv::waitUntil;

namespace {
constexpr quint32 kCtrl = 256, kShift = 512, kAlt = 2048, kSuper = 4096;
// A key code the test server's layout leaves empty, for mapping changes.
const QString kSpareKeycode = u"120"_s;

bool xdotool(const QStringList& args) {
    return run(u"xdotool"_s, args);
}

bool lockIsOn(const QString& name) {
    QProcess xset;
    xset.start(u"xset"_s, {u"q"_s});
    xset.waitForFinished();
    const QString out = QString::fromLatin1(xset.readAllStandardOutput());
    const qsizetype at = out.indexOf(name + QLatin1String(":"));
    return at >= 0 && out.mid(at + name.size() + 1).trimmed().startsWith(QLatin1String("on"));
}
} // namespace

class X11HotKeyServiceTest : public ::testing::Test {
protected:
    X11HotKeyServiceTest() : desktop(X11Parts::open(false)) {
        if (desktop)
            hotKeys().onPressed = [this](quint32 id) { presses.append(id); };
    }
    ~X11HotKeyServiceTest() override {
        // Leave the shared server as found: no lock on, no extra mapping.
        if (lockIsOn(u"Num Lock"_s))
            xdotool({u"key"_s, u"Num_Lock"_s});
        if (lockIsOn(u"Caps Lock"_s))
            xdotool({u"key"_s, u"Caps_Lock"_s});
        run(u"xmodmap"_s,
            {u"-e"_s, QLatin1String("keycode ") + kSpareKeycode + QLatin1String(" =")});
    }

    HotKeyService& hotKeys() { return desktop->hotKeys(); }
    bool pressed(quint32 id, qsizetype times = 1) {
        return waitUntil([&] { return presses.count(id) >= times; });
    }

    std::unique_ptr<X11Parts> desktop;
    QList<quint32> presses;
};

TEST_F(X11HotKeyServiceTest, PressesReachTheCallbackWhateverTheLockKeys) {
    struct Case {
        const char* name;
        quint32 keysym;
        quint32 modifiers;
        const char* keys;  // as xdotool presses them
        const char* locks; // lock keys toggled on first
    };
    const Case cases[] = {
        {"ctrl alt letter", XKB_KEY_v, kCtrl | kAlt, "ctrl+alt+v", ""},
        {"with NumLock on", XKB_KEY_v, kCtrl | kAlt, "ctrl+alt+v", "Num_Lock"},
        {"with CapsLock on", XKB_KEY_F5, kCtrl | kShift, "ctrl+shift+F5", "Caps_Lock"},
        {"with both locks on", XKB_KEY_1, kAlt | kSuper, "alt+super+1", "Num_Lock Caps_Lock"},
    };
    ASSERT_TRUE(desktop);
    quint32 id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(hotKeys().registerHotKey(id, c.keysym, c.modifiers), 0);
        const QStringList locks = QString::fromLatin1(c.locks).split(u' ', Qt::SkipEmptyParts);
        for (const QString& lock : locks)
            ASSERT_TRUE(xdotool({u"key"_s, lock}));
        if (locks.contains(QLatin1String("Num_Lock"))) {
            ASSERT_TRUE(lockIsOn(u"Num Lock"_s));
        }
        ASSERT_TRUE(xdotool({u"key"_s, QString::fromLatin1(c.keys)}));
        EXPECT_TRUE(pressed(id));
        for (const QString& lock : locks)
            ASSERT_TRUE(xdotool({u"key"_s, lock}));
        hotKeys().unregisterHotKey(id);
        ++id;
    }
    EXPECT_EQ(presses, (QList<quint32>{1, 2, 3, 4}));
}

TEST_F(X11HotKeyServiceTest, AComboHeldByAnotherClientIsAConflict) {
    ASSERT_TRUE(desktop);
    ASSERT_EQ(hotKeys().registerHotKey(1, XKB_KEY_k, kCtrl | kAlt), 0);
    auto other = X11Parts::open(false); // another X client
    ASSERT_TRUE(other);
    EXPECT_EQ(other->hotKeys().registerHotKey(1, XKB_KEY_k, kCtrl | kAlt), 10); // BadAccess
    // The refusal took nothing from the holder.
    ASSERT_TRUE(xdotool({u"key"_s, u"ctrl+alt+k"_s}));
    EXPECT_TRUE(pressed(1));

    // Once released, the other client may have it.
    hotKeys().unregisterHotKey(1);
    EXPECT_EQ(other->hotKeys().registerHotKey(1, XKB_KEY_k, kCtrl | kAlt), 0);
}

TEST_F(X11HotKeyServiceTest, AComboWeAlreadyHoldIsRefused) {
    ASSERT_TRUE(desktop);
    struct Case {
        const char* name;
        quint32 keysym;
        quint32 modifiers;
        int status;
    };
    const Case cases[] = {
        {"the same combination", XKB_KEY_n, kCtrl | kAlt, 10},
        {"another keysym of the same key", XKB_KEY_N, kCtrl | kAlt, 10},
        {"the same key with other modifiers", XKB_KEY_n, kCtrl | kShift, 0},
    };
    ASSERT_EQ(hotKeys().registerHotKey(1, XKB_KEY_n, kCtrl | kAlt), 0);
    quint32 id = 2;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hotKeys().registerHotKey(id, c.keysym, c.modifiers), c.status);
        // Dropping it must not take the grab the first registration relies on.
        hotKeys().unregisterHotKey(id);
        ++id;
    }
    // Registering an id again replaces it; it does not clash with itself.
    EXPECT_EQ(hotKeys().registerHotKey(1, XKB_KEY_n, kCtrl | kAlt), 0);
    ASSERT_TRUE(xdotool({u"key"_s, u"ctrl+alt+n"_s}));
    EXPECT_TRUE(pressed(1));
    auto other = X11Parts::open(false);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->hotKeys().registerHotKey(1, XKB_KEY_n, kCtrl | kAlt), 10) << "still ours";
    X11TestEnv::settle();
    EXPECT_EQ(presses, QList<quint32>{1});
}

TEST_F(X11HotKeyServiceTest, GrabsAgainWhenTheKeyMappingChanges) {
    ASSERT_TRUE(desktop);
    auto other = X11Parts::open(false);
    ASSERT_TRUE(other);
    // F20 is on no key yet: kept, nothing grabbed.
    ASSERT_EQ(hotKeys().registerHotKey(5, XKB_KEY_F20, kCtrl | kAlt), 0);
    ASSERT_TRUE(run(u"xmodmap"_s, {u"-e"_s, QLatin1String("keycode ") + kSpareKeycode +
                                                QLatin1String(" = F20")}));
    // Once we have grabbed the new key, another client is refused.
    EXPECT_TRUE(waitUntil(
        [&] { return other->hotKeys().registerHotKey(1, XKB_KEY_F20, kCtrl | kAlt) == 10; }));
    ASSERT_TRUE(xdotool({u"key"_s, u"ctrl+alt+F20"_s}));
    EXPECT_TRUE(pressed(5));
}

TEST_F(X11HotKeyServiceTest, TwoKeysymsThatLandOnOneKeyKeepOneGrab) {
    ASSERT_TRUE(desktop);
    QList<std::pair<quint32, int>> lost;
    hotKeys().onLost = [&](quint32 id, int status) { lost.append({id, status}); };
    const auto forget = qScopeGuard([this] { hotKeys().onLost = nullptr; });
    // On no key yet: both are kept.
    ASSERT_EQ(hotKeys().registerHotKey(7, XKB_KEY_F21, kCtrl | kAlt), 0);
    ASSERT_EQ(hotKeys().registerHotKey(8, XKB_KEY_F22, kCtrl | kAlt), 0);
    ASSERT_TRUE(run(u"xmodmap"_s, {u"-e"_s, QLatin1String("keycode ") + kSpareKeycode +
                                                QLatin1String(" = F21 F22")}));
    ASSERT_TRUE(waitUntil([&] { return !lost.isEmpty(); }));
    ASSERT_EQ(lost.size(), 1);
    EXPECT_EQ(lost.first().second, 10);
    const quint32 kept = lost.first().first == 7 ? 8 : 7;
    ASSERT_TRUE(xdotool({u"key"_s, u"ctrl+alt+F21"_s}));
    EXPECT_TRUE(pressed(kept));
    // Dropping the one lost takes nothing from the one kept.
    hotKeys().unregisterHotKey(lost.first().first);
    auto other = X11Parts::open(false);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->hotKeys().registerHotKey(1, XKB_KEY_F21, kCtrl | kAlt), 10);
}

TEST_F(X11HotKeyServiceTest, AnUnregisteredKeyIsReleased) {
    ASSERT_TRUE(desktop);
    ASSERT_EQ(hotKeys().registerHotKey(3, XKB_KEY_j, kCtrl | kAlt), 0);
    ASSERT_EQ(hotKeys().registerHotKey(4, XKB_KEY_l, kCtrl | kAlt), 0);
    hotKeys().unregisterHotKey(3);
    auto other = X11Parts::open(false);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->hotKeys().registerHotKey(1, XKB_KEY_j, kCtrl | kAlt), 0);
    EXPECT_EQ(other->hotKeys().registerHotKey(2, XKB_KEY_l, kCtrl | kAlt), 10);
}

TEST_F(X11HotKeyServiceTest, AHeldShortcutFiresOnce) {
    ASSERT_TRUE(desktop);
    ASSERT_EQ(hotKeys().registerHotKey(6, XKB_KEY_m, kCtrl | kAlt), 0);
    // Held past the server's auto-repeat delay, which sends repeated presses.
    ASSERT_TRUE(xdotool({u"keydown"_s, u"ctrl+alt+m"_s}));
    X11TestEnv::settle(1200ms);
    ASSERT_TRUE(xdotool({u"keyup"_s, u"m+alt+ctrl"_s}));
    X11TestEnv::settle();
    EXPECT_EQ(presses.count(6), 1);
}
