#include "core/capture/Paster.h"

#include "core/capture/ClipboardMonitor.h"
#include "core/prefs/Preferences.h"
#include "platform/KeySynth.h"
#include "platform/Pasteboard.h"
#include "platform/Scheduler.h"
#include "platform/Workspace.h"

#include <cmath>

namespace {
// Window classes and instances (compared in lower case) of terminals, which
// take Ctrl+V as a control character. xterm and rxvt paste the primary
// selection with Shift+Insert; the others paste the clipboard with Ctrl+Shift+V.
constexpr QLatin1StringView kPrimaryPasteTerminals[] = {
    QLatin1StringView("xterm"), QLatin1StringView("uxterm"),       QLatin1StringView("urxvt"),
    QLatin1StringView("rxvt"),  QLatin1StringView("rxvt-unicode"),
};
constexpr QLatin1StringView kTerminals[] = {
    QLatin1StringView("gnome-terminal"),
    QLatin1StringView("gnome-terminal-server"),
    QLatin1StringView("org.gnome.terminal"),
    QLatin1StringView("kgx"),
    QLatin1StringView("org.gnome.console"),
    QLatin1StringView("konsole"),
    QLatin1StringView("org.kde.konsole"), // its Wayland app id
    QLatin1StringView("foot"),
    QLatin1StringView("footclient"),
    QLatin1StringView("yakuake"),
    QLatin1StringView("xfce4-terminal"),
    QLatin1StringView("mate-terminal"),
    QLatin1StringView("lxterminal"),
    QLatin1StringView("qterminal"),
    QLatin1StringView("terminator"),
    QLatin1StringView("tilix"),
    QLatin1StringView("guake"),
    QLatin1StringView("tilda"),
    QLatin1StringView("sakura"),
    QLatin1StringView("terminology"),
    QLatin1StringView("alacritty"),
    QLatin1StringView("kitty"),
    QLatin1StringView("wezterm"),
    QLatin1StringView("org.wezfurlong.wezterm"),
    QLatin1StringView("st"),
    QLatin1StringView("st-256color"),
    QLatin1StringView("cool-retro-term"),
    QLatin1StringView("deepin-terminal"),
    QLatin1StringView("io.elementary.terminal"),
    QLatin1StringView("hyper"),
    QLatin1StringView("tabby"),
};

template <size_t N> bool names(const FrontmostApp& app, const QLatin1StringView (&table)[N]) {
    const QString windowClass = app.windowClass.toLower();
    const QString instance = app.windowInstance.toLower();
    for (QLatin1StringView name : table)
        if (windowClass == name || instance == name)
            return true;
    return false;
}
} // namespace

Paster::Paster(Preferences& prefs, ClipboardMonitor& monitor, Pasteboard& pasteboard,
               Workspace& workspace, KeySynth& keySynth, Scheduler& scheduler, QObject* parent)
    : QObject(parent), m_prefs(prefs), m_monitor(monitor), m_pasteboard(pasteboard),
      m_workspace(workspace), m_keySynth(keySynth), m_scheduler(scheduler) {}

PasteChord Paster::chordFor(const FrontmostApp& app) {
    if (names(app, kPrimaryPasteTerminals))
        return PasteChord::ShiftInsert;
    if (names(app, kTerminals))
        return PasteChord::CtrlShiftV;
    return PasteChord::CtrlV;
}

void Paster::activateAndPaste(const std::optional<FrontmostApp>& app) {
    if (!m_workspace.isTrusted())
        return; // the clip simply stays on the clipboard
    if (app && !app->isOwnProcess) {
        m_workspace.activate(*app);
        waitForFront(0, *app);
        return;
    }
    pasteKeystroke();
}

void Paster::waitForFront(int attempt, FrontmostApp target) {
    const std::optional<FrontmostApp> front = m_workspace.frontmost();
    if ((front && front->window == target.window) || attempt >= frontChecks) {
        m_scheduler.after(keystrokeDelay, this, [this] { pasteKeystroke(); });
        return;
    }
    m_scheduler.after(frontCheckInterval, this,
                      [this, attempt, target] { waitForFront(attempt + 1, target); });
}

void Paster::pasteKeystroke() {
    if (!m_workspace.isTrusted())
        return;
    waitForModifiers(0);
}

void Paster::waitForModifiers(int attempt) {
    if (attempt < modifierChecks && m_keySynth.modifiersHeld()) {
        m_scheduler.after(modifierCheckInterval, this,
                          [this, attempt] { waitForModifiers(attempt + 1); });
        return;
    }
    sendChord();
}

void Paster::sendChord() {
    const std::optional<FrontmostApp> front = m_workspace.frontmost();
    const PasteChord chord = front ? chordFor(*front) : PasteChord::CtrlV;
    if (chord == PasteChord::ShiftInsert) {
        // These terminals paste the primary selection: offer the clip there too.
        if (const std::optional<QString> text = m_pasteboard.ownText())
            m_pasteboard.writePrimaryText(*text);
    }
    m_keySynth.sendChord(chord);
}

void Paster::pastePinned(const std::optional<QString>& pinText) {
    if (!pinText) {
        m_workspace.beep();
        return;
    }
    m_monitor.writeOwnText(*pinText);
    if (m_prefs.pasteOnClick())
        m_scheduler.after(pinnedKeystrokeDelay, this, [this] { pasteKeystroke(); });
}
