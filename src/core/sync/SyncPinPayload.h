#pragma once

#include <QString>

// One pinned clip as it travels between devices.
struct SyncPinPayload {
    QString text;
    double pinnedAt = 0.0; // seconds since 1970-01-01 UTC

    friend bool operator==(const SyncPinPayload&, const SyncPinPayload&) = default;
};
