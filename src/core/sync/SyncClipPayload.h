#pragma once

#include <QString>

// One clip of a catch-up: a copy the other device missed while we could not
// reach it. Every key is required.
struct SyncClipPayload {
    QString id;             // "id": the clip's UUID, upper-case
    QString text;           // "text"
    double createdAt = 0.0; // "createdAt": seconds since 1970-01-01 UTC

    friend bool operator==(const SyncClipPayload&, const SyncClipPayload&) = default;
};
