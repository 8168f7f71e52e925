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
        pin,    // argument: an id
        unpin,  // argument: an id
        remove, // argument: an id
        clear,
        invalid, // `error` says why
    };

    Kind kind = Kind::start;
    std::optional<QString> argument;
    bool pinnedOnly = false;
    bool json = false;
    QString error;

    // `arguments` without the program name.
    static CommandLine parse(const QStringList& arguments);
    static QString usage();
};
