#include "X11TestEnv.h"

#include "core/shortcuts/KeyCombo.h"
#include "platform/x11/XcbKeyboard.h"

#include <QKeyEvent>
#include <QWidget>
#include <gtest/gtest.h>
#include <optional>

using namespace Qt::StringLiterals;

using X11TestEnv::run;
using X11TestEnv::waitUntil;

namespace {
// A window that turns the next real key press into a combo, as a shortcut
// field would.
class ComboCatcher : public QWidget {
public:
    explicit ComboCatcher(const XcbKeyboard& keyboard) : m_keyboard(keyboard) {}
    std::optional<KeyCombo> combo;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (auto made = KeyCombo::fromEvent(*event, [this](quint32 scanCode) {
                return m_keyboard.baseKeysym(static_cast<xcb_keycode_t>(scanCode));
            }))
            combo = made;
    }

private:
    const XcbKeyboard& m_keyboard;
};
} // namespace

TEST(XcbKeyboard, AShiftedKeyIsNamedAsPrintedOnIt) {
    XcbConnection connection;
    ASSERT_TRUE(connection.isValid());
    XcbKeyboard keyboard(connection);
    ComboCatcher window(keyboard);
    window.resize(200, 100);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return window.isActiveWindow(); }));

    constexpr quint32 ctrlShift = KeyCombo::Ctrl | KeyCombo::Shift;
    const struct {
        const char* keys;
        KeyCombo expected;
    } cases[] = {
        {"ctrl+shift+1", KeyCombo{KeyCombo::numberRow[0], ctrlShift}},
        {"ctrl+shift+a", KeyCombo{0x61, ctrlShift}},
        {"ctrl+alt+v", KeyCombo::defaultOpenPanel()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        window.combo.reset();
        ASSERT_TRUE(run(u"xdotool"_s, {u"key"_s, QLatin1String(c.keys)}));
        ASSERT_TRUE(waitUntil([&] { return window.combo.has_value(); }));
        EXPECT_EQ(*window.combo, c.expected);
    }
}
