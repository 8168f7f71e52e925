#pragma once

#include <string_view>

// Constants both ends of a sync link must agree on.
namespace SyncProtocol {
// Sent in "protocol" of hello; 2 added device lists, 3 pin snapshots.
inline constexpr int version = 3;
// PBKDF2 salt of the pairing key (no terminator).
inline constexpr std::string_view pairingSalt = "tindrel-pair-v1";
inline constexpr int pairingRounds = 200000;
} // namespace SyncProtocol
