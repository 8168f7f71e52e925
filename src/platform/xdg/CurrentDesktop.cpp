#include "platform/xdg/CurrentDesktop.h"

#include <QStringList>

bool CurrentDesktop::is(const QString& name) {
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP")
        .split(u':')
        .contains(name, Qt::CaseInsensitive);
}
