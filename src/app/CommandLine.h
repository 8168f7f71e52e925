#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What `tindrel` was asked to do by its arguments. Starting the program is
// the default; every other request goes to the running instance over the
// session bus (see BusClient), except help and version, which need nothing.
struct CommandLine {
    enum class Kind {
        start, // no arguments: run Tindrel (or show the running one's panel)
        help,
        version,
        showPanel,
        togglePanel,
        pause,
        togglePause,
        resume,
        settings, // argument: the tab, possibly empty
        list,
        copy,   // argument: a position or an id
        add,    // argument: the text; none = read standard input
        pin,    // argument: a position or an id
        unpin,  // argument: a position or an id
        remove, // argument: a position or an id
        clear,
        quit,
        pair,         // `pairingSeconds`, `wait`
        join,         // argument: a pairing code or link
        devices,      // the paired devices
        pauseDevice,  // argument: a device's name or id
        resumeDevice, // argument: a device's name or id
        unpair,       // argument: a device's name or id
        invalid,      // `error` says why
    };

    Kind kind = Kind::start;
    std::optional<QString> argument;
    bool pinnedOnly = false;
    bool json = false;
    // How long a pairing window stays open; the instance bounds it.
    uint pairingSeconds = defaultPairingSeconds;
    // Whether --pair waits for the window to end.
    bool wait = true;
    QString error;

    // As long as the Sync settings keep a window open.
    static constexpr uint defaultPairingSeconds = 180;

    // `arguments` without the program name.
    static CommandLine parse(const QStringList& arguments);
    static QString usage();
};
