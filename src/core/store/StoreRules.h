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
} // namespace StoreRules
