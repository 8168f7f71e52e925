#pragma once

#include "core/store/PinsState.h"
#include "core/store/StoreContents.h"

// Another device's pin state merged into ours: for each text the latest pin
// or unpin wins, ties going to the unpin. A pure function: the store applies
// the result, emits and logs.
namespace PinMerge {
struct Result {
    StoreContents contents;
    // A pin was added or removed: the state is worth passing on.
    bool pinsChanged = false;
    // Which lists differ from before (a raised pin stamp counts).
    bool pinnedTouched = false;
    bool historyTouched = false;
    // Something the file should keep changed, unpin records included.
    bool needsSave = false;
    // Received pins left out because the pin limit was reached.
    qsizetype overflow = 0;
    // Received pins left out because the pins would outweigh the text budget.
    qsizetype overBudget = 0;
};

// The pins never outweigh textBudget (StoreRules::weight); the caller fits
// the history to what is left.
Result merge(StoreContents current, const PinsState& received, qsizetype pinLimit,
             qsizetype historyLimit, qint64 textBudget);
} // namespace PinMerge
