#pragma once

#include "platform/KeySynth.h"

#include <QList>
#include <functional>

// Key synthesis that records the chords. The user "holds" a modifier for the
// next heldChecks queries.
class FakeKeySynth final : public KeySynth {
public:
    bool modifiersHeld() override {
        ++modifierQueries;
        if (heldChecks <= 0)
            return false;
        --heldChecks;
        return true;
    }
    bool sendChord(PasteChord chord) override {
        sent.append(chord);
        if (onSend)
            onSend(chord);
        return accepts;
    }
    PastePermission permission() const override { return grant; }
    bool askAgain() override {
        ++askedAgain;
        return grant != PastePermission::notNeeded;
    }

    // What sendChord answers, and the desktop's answer it reports.
    bool accepts = true;
    PastePermission grant = PastePermission::notNeeded;
    int heldChecks = 0;
    int modifierQueries = 0;
    int askedAgain = 0;
    QList<PasteChord> sent;
    std::function<void(PasteChord)> onSend;
};
