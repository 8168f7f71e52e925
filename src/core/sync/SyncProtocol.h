#pragma once

#include <QString>
#include <QStringList>
#include <string_view>

// Constants both ends of a sync link must agree on.
namespace SyncProtocol {
// Sent in "protocol" of hello; 2 added device lists, 3 pin snapshots, 4 the
// capabilities a hello lists (and the messages they bring).
inline constexpr int version = 4;
// What a device that names no capabilities is answered with: everything it
// sees is what a protocol-3 device has always seen.
inline constexpr int baseVersion = 3;
// Clips a device missed while it could not be reached come when it is back.
inline constexpr std::string_view catchUp = "catch-up";
// Every message after hello carries a stamp whose number only grows on its
// link, so none can be sent again by someone who recorded it.
inline constexpr std::string_view replayGuard = "replay-guard";
// What this version can do beyond protocol 3, named in hello and pair.
inline QStringList capabilities() {
    return {QString::fromLatin1(catchUp), QString::fromLatin1(replayGuard)};
}
// PBKDF2 salt of the pairing key (no terminator).
inline constexpr std::string_view pairingSalt = "tindrel-pair-v1";
inline constexpr int pairingRounds = 200000;
} // namespace SyncProtocol
