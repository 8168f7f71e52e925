#pragma once

#include "platform/Desktop.h"
#include "platform/KeySynth.h"

#include <QString>
#include <memory>

class WaylandPasteboard;
class WindowTracker;
class X11Parts;

// What every Wayland session whose compositor offers data-control has in
// common: the clipboard through data-control; XWayland, when there, lending
// its workspace, pointer and keyboard (else the freedesktop workspace and
// no pointer); our windows X11 ones where Qt runs on XWayland. The desktop
// built on it adds how it pastes, where the window in front is known and
// how shortcuts are bound.
class DataControlDesktop : public Desktop {
public:
    ~DataControlDesktop() override;
    DataControlDesktop(const DataControlDesktop&) = delete;
    DataControlDesktop& operator=(const DataControlDesktop&) = delete;

    QString description() const override;
    Pasteboard& pasteboard() override;
    Workspace& workspace() override;
    KeySynth& keySynth() override;
    HotKeyService& hotKeys() override;
    PointerWatcher& pointer() override;
    WindowHints& windowHints() override;
    quint32 baseKeysym(quint32 keycode) const override;
    bool knowsBaseKeysyms() const override { return m_xwayland != nullptr; }
    Capabilities capabilities() override;

protected:
    // `xwayland` may be null: no X server in this session.
    DataControlDesktop(std::unique_ptr<WaylandPasteboard> pasteboard,
                       std::unique_ptr<X11Parts> xwayland);

    X11Parts* xwayland() const { return m_xwayland.get(); }
    // The data-control protocol the compositor offers.
    QString protocolName() const;
    // Pastes through the compositor's virtual keyboard where it lends one;
    // otherwise XWayland's keys, which reach only X11 windows, so the
    // workspace says it cannot paste. Returns whether it can.
    bool useVirtualKeyboard();
    // Pastes through `keys`, described in the log as `how`; `helper`, when
    // given, is a key synthesiser `keys` hands some chords to, kept as long.
    void pasteThrough(std::unique_ptr<KeySynth> keys, const QString& how,
                      std::unique_ptr<KeySynth> helper = nullptr);
    // The rest, once pasting is chosen: the window in front from `windows`
    // (may be null; `windowsFrom` names it, `noWindows` says why it is
    // unknown), and the shortcuts from `hotKeys`, described as `shortcuts`.
    void finish(std::unique_ptr<WindowTracker> windows, const QString& windowsFrom,
                const QString& noWindows, std::unique_ptr<HotKeyService> hotKeys,
                const QString& shortcuts);

private:
    std::unique_ptr<WaylandPasteboard> m_pasteboard;
    std::unique_ptr<X11Parts> m_xwayland;      // may be null
    std::unique_ptr<Workspace> m_xdgWorkspace; // only without XWayland
    std::unique_ptr<KeySynth> m_keysHelper;    // goes after m_keys, which uses it
    std::unique_ptr<KeySynth> m_keys;          // may be null: XWayland's keys then
    KeySynth* m_keySynth = nullptr;
    bool m_canPaste = false;
    std::unique_ptr<WindowTracker> m_windows; // may be null
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<HotKeyService> m_hotKeys;
    std::unique_ptr<PointerWatcher> m_noPointer; // only without XWayland
    std::unique_ptr<WindowHints> m_windowHints;
    QString m_noPaste;
    QString m_pasting;
    QString m_windowsFrom;
    QString m_noWindows;
    QString m_shortcuts;
};
