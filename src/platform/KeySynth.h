#pragma once

#include "platform/PasteChord.h"
#include "platform/PastePermission.h"

#include <functional>

// Synthesised key events.
class KeySynth {
public:
    virtual ~KeySynth() = default;

    // Whether the user is holding any modifier key right now.
    virtual bool modifiersHeld() = 0;
    // Presses and releases the chord; false when it could not be sent.
    virtual bool sendChord(PasteChord chord) = 0;
    // Where the desktop asks the user before letting us type elsewhere,
    // what the user said.
    virtual PastePermission permission() const { return PastePermission::notNeeded; }
    // At the user's word, asks the desktop that question again now (after
    // a refusal, or when it could not be asked); permission() follows its
    // answer. False where there is nobody to ask.
    virtual bool askAgain() { return false; }

    // Called on the main thread when permission() changed: the desktop
    // answers in its own time (a dialog the user reads).
    std::function<void()> onPermissionChanged;
};
