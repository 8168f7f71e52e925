#pragma once

// moc cannot parse <compare> (C++20 concepts); it only skips over Instant.
#ifndef Q_MOC_RUN
#include <compare>
#endif

// A point in time as seconds (with fraction) since 2001-01-01 00:00:00 UTC,
// the epoch the store file uses, so stored clip dates round-trip exactly.
// Wire times and unpin records count from 1970; convert at the edges.
struct Instant {
    static constexpr double unixOffset = 978307200.0; // 1970 -> 2001, in seconds

    double sinceReference = 0.0;

    static constexpr Instant fromReference(double seconds) { return Instant{seconds}; }
    static constexpr Instant fromUnix(double seconds) { return Instant{seconds - unixOffset}; }
    static constexpr Instant distantPast() { return Instant{-1.0e300}; }

    constexpr double unix() const { return sinceReference + unixOffset; }
    constexpr Instant plus(double seconds) const { return Instant{sinceReference + seconds}; }

    constexpr auto operator<=>(const Instant&) const = default;
};
