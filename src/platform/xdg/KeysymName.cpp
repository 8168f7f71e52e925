#include "platform/xdg/KeysymName.h"

#include <xkbcommon/xkbcommon.h>

QString KeysymName::of(quint32 keysym) {
    char name[64];
    if (xkb_keysym_get_name(keysym, name, sizeof name) <= 0 || qstrncmp(name, "0x", 2) == 0)
        return {};
    return QString::fromLatin1(name);
}
