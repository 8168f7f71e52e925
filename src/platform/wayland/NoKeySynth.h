#pragma once

#include "platform/KeySynth.h"

// Where no key can be synthesised for other applications: every chord fails,
// so pasting falls back to leaving the clip on the clipboard.
class NoKeySynth final : public KeySynth {
public:
    bool modifiersHeld() override { return false; }
    bool sendChord(PasteChord) override { return false; }
};
