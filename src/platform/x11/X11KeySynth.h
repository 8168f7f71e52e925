#pragma once

#include "platform/KeySynth.h"

class XcbConnection;
class XcbKeyboard;

// Key events through the XTEST extension, delivered like real key presses
// to the window with the keyboard focus. Give it the hot-key service's
// connection: it releases that connection's keyboard grab before sending.
class X11KeySynth final : public KeySynth {
public:
    X11KeySynth(XcbConnection& connection, XcbKeyboard& keyboard);

    bool isAvailable() const { return m_available; }
    bool modifiersHeld() override;
    bool sendChord(PasteChord chord) override;

private:
    XcbConnection& m_conn;
    XcbKeyboard& m_keyboard;
    bool m_available = false;
};
