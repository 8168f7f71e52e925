#include "platform/xdg/KeysymName.h"

#include <xkbcommon/xkbcommon.h>

QString KeysymName::of(quint32 keysym) {
    char name[64];
    if (xkb_keysym_get_name(keysym, name, sizeof name) <= 0 || qstrncmp(name, "0x", 2) == 0)
        return {};
    return QString::fromLatin1(name);
}

QString KeysymName::withModifiers(quint32 keysym, quint32 modifiers,
                                  const std::array<QStringView, 4>& words) {
    const QString name = of(keysym);
    if (name.isEmpty())
        return {};
    // KeyCombo's Ctrl, Alt, Shift and Super bits.
    constexpr std::array<quint32, 4> bits{256, 2048, 512, 4096};
    QString text;
    for (size_t i = 0; i < bits.size(); ++i)
        if (modifiers & bits[i])
            text += words[i];
    return text + name;
}
