#pragma once

// The key chord that pastes the clipboard into the frontmost window.
enum class PasteChord {
    CtrlV,
    CtrlShiftV,  // terminal emulators
    ShiftInsert, // terminals that paste the primary selection
};
