#pragma once

#include <QList>
#include <QString>

// One pin as devices exchange it: its text and when it was pinned.
struct PinRecord {
    QString text;
    double pinnedAt = 0.0; // seconds since 1970-01-01 UTC

    friend bool operator==(const PinRecord&, const PinRecord&) = default;
};

// One removed pin as devices exchange it: the text hash and when.
struct UnpinRecord {
    QString hash;
    double at = 0.0; // seconds since 1970-01-01 UTC

    friend bool operator==(const UnpinRecord&, const UnpinRecord&) = default;
};

// A device's whole pin state: what it has pinned and what it unpinned
// lately. Stamps stay in seconds since 1970 as they travel, so a tie with a
// stamp that made the round trip through a peer stays a tie.
struct PinsState {
    QList<PinRecord> pins;
    QList<UnpinRecord> unpinned;
};
