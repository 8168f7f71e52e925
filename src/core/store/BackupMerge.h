#pragma once

#include "core/store/StoreContents.h"

// A backup merged into the store without overwriting or removing anything
// the store holds. A pure function: the store applies the result, emits and
// saves.
namespace BackupMerge {
struct Result {
    StoreContents contents;
    bool pinsChanged = false;
    // Backup clips the store holds now (pins and history), never negative.
    qsizetype added = 0;
    // Older clips, ours or imported, that the history limit or the text
    // budget cut off the end.
    qsizetype pushedOut = 0;
};

// Backup pins go ahead of ours in the backup's order, as far as the pin limit
// allows; backup history clips whose text we lack join history, which is
// then sorted newest first and cut to the limit and to what the pins leave of
// textBudget (StoreRules::weight). A backup pin that would make the pins
// outweigh the budget is left out, as one beyond the pin limit is.
Result merge(StoreContents current, const StoreContents& backup, qsizetype pinLimit,
             qsizetype historyLimit, qint64 textBudget, Instant now);
} // namespace BackupMerge
