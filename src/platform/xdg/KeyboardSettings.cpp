#include "platform/xdg/KeyboardSettings.h"

#include "platform/xdg/CurrentDesktop.h"

#include <QStandardPaths>

using namespace Qt::StringLiterals;

QStringList KeyboardSettings::command() {
    // GNOME's own names first: Ubuntu and others call themselves
    // "ubuntu:GNOME" and the like.
    const std::pair<QString, QStringList> known[] = {
        {u"GNOME"_s, {u"gnome-control-center"_s, u"keyboard"_s}},
        {u"KDE"_s, {u"systemsettings"_s, u"kcm_keys"_s}},
        {u"XFCE"_s, {u"xfce4-keyboard-settings"_s}},
        {u"MATE"_s, {u"mate-keybinding-properties"_s}},
        {u"X-Cinnamon"_s, {u"cinnamon-settings"_s, u"keyboard"_s}},
    };
    for (const auto& [desktop, program] : known)
        if (CurrentDesktop::is(desktop) &&
            !QStandardPaths::findExecutable(program.first()).isEmpty())
            return program;
    return {};
}
