#pragma once

#include "platform/KeySynth.h"

class Workspace;

// Pasting where the compositor lends ordinary programs no virtual keyboard
// (KWin, mutter): each chord goes the one way that reaches the window in
// front. XWayland's XTest reaches X11 windows only, and only while one of
// them is active (XWayland names it as its active window then, and none
// while a Wayland window has the focus); every other window is typed into
// through another way, the desktop portal's remote control, which the user
// must allow.
class SplitKeySynth final : public KeySynth {
public:
    // `xtest` and `xwayland` are XWayland's; `portal` types into Wayland
    // windows.
    SplitKeySynth(KeySynth& xtest, Workspace& xwayland, KeySynth& portal);
    ~SplitKeySynth() override;

    // XWayland sees the keyboard while our own (X11) windows have it, which
    // is when a paste is started.
    bool modifiersHeld() override { return m_xtest.modifiersHeld(); }
    bool sendChord(PasteChord chord) override;
    // X11 windows need no grant; the portal's is the one the user gives.
    PastePermission permission() const override { return m_portal.permission(); }
    bool askAgain() override { return m_portal.askAgain(); }

private:
    KeySynth& m_xtest;
    Workspace& m_xwayland;
    KeySynth& m_portal;
};
