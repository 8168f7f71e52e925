#pragma once

// Whether the desktop lets our key presses reach other applications, where
// that is the user's choice rather than the session's nature.
enum class PastePermission {
    notNeeded, // the session decides alone (X11, a virtual keyboard): see Workspace::isTrusted
    notAsked,  // the desktop will ask the user at the first paste
    asking,    // its question is open
    granted,
    refused,     // the user said no
    unavailable, // the desktop cannot be asked (no portal, or it failed)
};
