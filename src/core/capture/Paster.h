#pragma once

#include "platform/FrontmostApp.h"
#include "platform/PasteChord.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <optional>

class ClipboardMonitor;
class KeySynth;
class Pasteboard;
class Preferences;
class Scheduler;
class Workspace;

// Pastes what is on the clipboard into another application: brings that
// application back, waits until it is in front, waits until the user has let
// go of every modifier key (so the user's own shortcut keys do not combine
// with ours), and sends the paste chord the window expects.
class Paster : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds frontCheckInterval{50};
    static constexpr int frontChecks = 12; // then paste whatever is in front
    static constexpr std::chrono::milliseconds keystrokeDelay{40};
    static constexpr std::chrono::milliseconds pinnedKeystrokeDelay{30};
    static constexpr std::chrono::milliseconds modifierCheckInterval{20};
    static constexpr int modifierChecks = 50; // at most one second, then paste anyway

    Paster(Preferences& prefs, ClipboardMonitor& monitor, Pasteboard& pasteboard,
           Workspace& workspace, KeySynth& keySynth, Scheduler& scheduler,
           QObject* parent = nullptr);

    // Activates `app` and pastes into it once it is in front; with no app,
    // or one of our own windows, pastes into whatever is in front now.
    void activateAndPaste(const std::optional<FrontmostApp>& app);
    // The paste chord alone, into the window in front.
    void pasteKeystroke();
    // The pinned-clip shortcut: copies the pin (without recording it) and,
    // when pasteOnClick is on, pastes it where the user is. No pin: a beep.
    void pastePinned(const std::optional<QString>& pinText);

    // The chord a window pastes with: terminals want their own.
    static PasteChord chordFor(const FrontmostApp& app);

private:
    void waitForFront(int attempt, FrontmostApp target);
    void waitForModifiers(int attempt);
    void sendChord();

    Preferences& m_prefs;
    ClipboardMonitor& m_monitor;
    Pasteboard& m_pasteboard;
    Workspace& m_workspace;
    KeySynth& m_keySynth;
    Scheduler& m_scheduler;
};
