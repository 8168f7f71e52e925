#include "app/CommandLine.h"

using namespace Qt::StringLiterals;

namespace {
CommandLine invalid(const QString& why) {
    CommandLine line;
    line.kind = CommandLine::Kind::invalid;
    line.error = why;
    return line;
}
} // namespace

CommandLine CommandLine::parse(const QStringList& arguments) {
    CommandLine line;
    if (arguments.isEmpty())
        return line;
    const QString& word = arguments.first();
    const QStringList rest = arguments.mid(1);

    struct Simple {
        QStringView name;
        Kind kind;
    };
    static constexpr Simple simple[] = {
        {u"--help", Kind::help},
        {u"-h", Kind::help},
        {u"help", Kind::help},
        {u"--version", Kind::version},
        {u"-v", Kind::version},
        {u"--show-panel", Kind::showPanel},
        {u"--toggle-panel", Kind::togglePanel},
        {u"--pause", Kind::pause},
        {u"--resume", Kind::resume},
        {u"--toggle-pause", Kind::togglePause},
        {u"clear", Kind::clear},
        {u"quit", Kind::quit},
    };
    for (const Simple& entry : simple) {
        if (word != entry.name)
            continue;
        if (!rest.isEmpty())
            return invalid(u"%1 takes no arguments"_s.arg(word));
        line.kind = entry.kind;
        return line;
    }

    // Commands with exactly one argument.
    struct WithArgument {
        QStringView name;
        Kind kind;
        QStringView what;
    };
    static constexpr WithArgument withArgument[] = {
        {u"copy", Kind::copy, u"a position or a clip id"},
        {u"pin", Kind::pin, u"a position or a clip id"},
        {u"unpin", Kind::unpin, u"a position or a clip id"},
        {u"delete", Kind::remove, u"a position or a clip id"},
        {u"pause-device", Kind::pauseDevice, u"a paired device's name or id"},
        {u"resume-device", Kind::resumeDevice, u"a paired device's name or id"},
        {u"unpair", Kind::unpair, u"a paired device's name or id"},
    };
    for (const WithArgument& entry : withArgument) {
        if (word != entry.name)
            continue;
        if (rest.size() != 1)
            return invalid(u"%1 needs %2"_s.arg(word, entry.what));
        line.kind = entry.kind;
        line.argument = rest.first();
        return line;
    }

    if (word == u"--settings") {
        if (rest.size() > 1)
            return invalid(u"--settings takes at most one tab name"_s);
        line.kind = Kind::settings;
        line.argument = rest.value(0);
        return line;
    }
    if (word == u"add") {
        if (rest.size() > 1)
            return invalid(u"add takes one text; quote it, or pipe it to standard input"_s);
        line.kind = Kind::add;
        if (!rest.isEmpty())
            line.argument = rest.first();
        return line;
    }
    if (word == u"list" || word == u"devices") {
        line.kind = word == u"list" ? Kind::list : Kind::devices;
        for (const QString& option : rest) {
            if (option == u"--pinned" && line.kind == Kind::list)
                line.pinnedOnly = true;
            else if (option == u"--json")
                line.json = true;
            else
                return invalid(u"%1 does not know %2"_s.arg(word, option));
        }
        return line;
    }
    if (word == u"--join") {
        if (rest.isEmpty())
            return invalid(u"--join needs the code or the pairing link the other computer shows"_s);
        // A code read off the screen may be typed in groups: "ABC DEF GHJ".
        line.kind = Kind::join;
        line.argument = rest.join(u' ');
        return line;
    }
    if (word == u"--pair") {
        line.kind = Kind::pair;
        bool timed = false;
        for (const QString& option : rest) {
            if (option == u"--no-wait") {
                line.wait = false;
                continue;
            }
            bool isNumber = false;
            const uint seconds = option.toUInt(&isNumber);
            if (!isNumber || seconds == 0 || timed)
                return invalid(u"--pair takes a number of seconds and --no-wait, not %1"_s.arg(
                    option.left(64)));
            line.pairingSeconds = seconds;
            timed = true;
        }
        return line;
    }
    return invalid(u"unknown command %1"_s.arg(word));
}

QString CommandLine::usage() {
    return uR"(Usage: tindrel [COMMAND]

Without a command, starts Tindrel in the system tray (or opens the panel of
the one already running). The commands talk to the running Tindrel:

  --toggle-panel      open the panel, or close it when open
  --show-panel        open the panel
  --pause, --resume   stop or restart recording copies
  --toggle-pause      pause, or resume when paused
  --settings [TAB]    open the settings (general, history, shortcuts, sync,
                      appearance, privacy, storage, about)
  list [--pinned] [--json]
                      the pinned clips, then the history, newest first
  copy N|ID           put clip N of the list (or the clip ID) on the clipboard
  add [TEXT]          record TEXT (or standard input) as if it had been copied
  pin N|ID, unpin N|ID, delete N|ID
                      pin, unpin or delete clip N of the list (or the clip ID)
  clear               clear the history (pinned clips stay)
  quit                end Tindrel (the clips are saved first)

Sync (turn it on first, in the Sync settings):
  --pair [SECONDS] [--no-wait]
                      open a pairing window (3 minutes unless SECONDS), print
                      its code and link, and wait until a computer has paired
                      or the window closes; Ctrl+C closes it
  --join CODE|LINK    pair with the computer that shows this code or link
  devices [--json]    the paired devices and whether they are connected
  pause-device DEVICE, resume-device DEVICE, unpair DEVICE
                      by a paired device's name or id
  help, --help, -h    this text
  --version, -v       the version

Bind "tindrel --toggle-panel" (and "tindrel --toggle-pause") to keys in your
desktop's keyboard settings where Tindrel's own shortcuts cannot be used.
)"_s;
}
