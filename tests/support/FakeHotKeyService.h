#pragma once

#include "platform/HotKeyService.h"

#include <QMap>
#include <QSet>
#include <optional>
#include <utility>

// Key grabs in memory. Combos in `taken` are held by "another program" and
// refused with BadAccess, as is a combo another id holds already; press()
// plays the desktop delivering a key press.
class FakeHotKeyService final : public HotKeyService {
public:
    using Combo = std::pair<quint32, quint32>; // keysym, modifiers

    int registerHotKey(quint32 id, quint32 keyCode, quint32 modifiers) override {
        attempts.append(id);
        grabs.remove(id);
        if (taken.contains({keyCode, modifiers}) || grabs.values().contains({keyCode, modifiers}))
            return 10;
        grabs.insert(id, {keyCode, modifiers});
        return 0;
    }
    void unregisterHotKey(quint32 id) override { grabs.remove(id); }
    bool isAvailable() const override { return available; }
    QString problem() const override { return why; }
    // Plays the desktop turning out to offer no global shortcuts (or again).
    void setAvailable(bool value) {
        available = value;
        if (!available)
            grabs.clear();
        if (onAvailabilityChanged)
            onAvailabilityChanged();
    }

    // Presses the combo: reaches onPressed only when some id holds it.
    bool press(Combo combo) {
        for (auto it = grabs.cbegin(); it != grabs.cend(); ++it) {
            if (it.value() == combo && onPressed) {
                onPressed(it.key());
                return true;
            }
        }
        return false;
    }

    // Plays the desktop's own settings giving the holder of `from` other
    // keys (none: no keys); false when no id holds it.
    bool rebind(Combo from, std::optional<Combo> to) {
        for (auto it = grabs.begin(); it != grabs.end(); ++it) {
            if (it.value() != from)
                continue;
            if (to)
                it.value() = *to;
            const quint32 id = it.key();
            if (!to)
                grabs.erase(it);
            if (onRebound)
                onRebound(id, to ? to->first : 0, to ? to->second : 0);
            return true;
        }
        return false;
    }

    QMap<quint32, Combo> grabs;
    QSet<Combo> taken;
    bool available = true;
    QString why;
    QList<quint32> attempts; // every id asked for, in order
};
