#pragma once

#include <QString>

// How long ago something happened, spelled out: "1 minute ago",
// "3 days ago"; a moment ahead of now (a clock set differently) reads
// "in 2 minutes".
namespace RelativeTime {
QString spelledOut(double secondsAgo);
} // namespace RelativeTime
