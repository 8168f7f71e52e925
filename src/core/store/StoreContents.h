#pragma once

#include "core/store/Clip.h"
#include "core/util/Instant.h"

#include <QHash>
#include <QList>
#include <QString>

// The store's three collections, as the store file (and a backup) holds them.
struct StoreContents {
    QList<Clip> history;
    QList<Clip> pinned;
    // Text hash -> when that text was last unpinned.
    QHash<QString, Instant> unpinned;
};
