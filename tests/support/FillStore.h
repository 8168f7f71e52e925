#pragma once

#include "core/store/ClipStore.h"

#include <QStringList>
#include <gtest/gtest.h>

// Fills a store through its own operations: pins end up in the listed order,
// history newest first.
inline void fillStore(ClipStore& store, const QStringList& pins, const QStringList& history) {
    for (auto it = pins.rbegin(); it != pins.rend(); ++it) {
        store.record(*it);
        ASSERT_TRUE(store.pin(store.history().front()));
    }
    for (auto it = history.rbegin(); it != history.rend(); ++it)
        store.record(*it);
}
