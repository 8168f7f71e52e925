#pragma once

#include "core/store/Clip.h"
#include "core/util/Instant.h"

#include <QHash>
#include <QList>
#include <QString>

// The rules every change of the lists follows, shared by the store's own
// operations and by the merges of backups and other devices' pins.
namespace StoreRules {
// How many unpin records survive a trim.
inline constexpr qsizetype kUnpinnedKept = 200;

// The room for text in history and pins together, counted in UTF-16 units as
// held in memory (64 Mi: two copies of the largest capture, 128 MiB of
// memory). Kept when recording, merging and importing, so the file it gives
// always loads and imports again (see kMaxFileBytes).
inline constexpr qint64 kTextBudget = qint64(64) * 1024 * 1024;
// What a clip counts against the budget besides its text and source: enough
// that six bytes per unit also cover its id, times and the JSON around them.
inline constexpr qint64 kClipWeightOverhead = 48;
// One unit is at most six bytes in the file (a control character or a lone
// surrogate, escaped), so a store within the budget is a file of at most
// 6 x budget plus the unpin records (200 of about 100 bytes) and the frame.
// Loading and importing accept a third more than that.
inline constexpr qint64 kMaxFileBytes = 8 * kTextBudget;

// What a clip counts against the budget.
qint64 weight(const Clip& clip);
qint64 weight(const QList<Clip>& clips);

// First clip with the same text (canonically equivalent), or -1.
qsizetype indexOfText(const QList<Clip>& clips, const Clip& probe);

// When a text is pinned now: strictly after its unpin record when that lies
// in the future (another device's clock), so the later action wins.
Instant pinStamp(const QHash<QString, Instant>& unpinned, const QString& textHash, Instant now);
// When a pin is removed now: strictly after its own pin stamp.
Instant removalStamp(const Clip& pin, Instant now);
// Keeps the newest kUnpinnedKept records.
void trimUnpinned(QHash<QString, Instant>& unpinned);
// Drops the oldest clips beyond the limit; returns how many went.
qsizetype trimHistory(QList<Clip>& history, qsizetype limit);
// Drops the oldest history clips until history and pins (which weigh
// pinnedWeight and are never dropped) fit in the budget; returns how many
// went. Pins heavier than the budget alone leave the history empty.
qsizetype fitBudget(QList<Clip>& history, qint64 pinnedWeight, qint64 budget);
} // namespace StoreRules
