#pragma once

#include <QString>

// One removed pin as it travels between devices: the removed text's hash
// and when it was removed.
struct SyncUnpinPayload {
    QString hash;
    double at = 0.0; // seconds since 1970-01-01 UTC

    friend bool operator==(const SyncUnpinPayload&, const SyncUnpinPayload&) = default;
};
