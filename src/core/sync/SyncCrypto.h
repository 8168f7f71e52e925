#pragma once

#include "core/sync/SyncCryptoError.h"

#include <QByteArray>
#include <QString>
#include <expected>
#include <optional>

// Sealing, opening and key derivation for sync; also the text hash that keys
// unpin records in the store and identifies clips on the wire. Stateless
// apart from the pairing-key cache; safe to call from any thread.
//
// A sealed message is nonce (12 bytes) || AES-256-GCM ciphertext || tag
// (16 bytes), with no associated data.
namespace SyncCrypto {
inline constexpr qsizetype keySize = 32;
inline constexpr qsizetype nonceSize = 12;
inline constexpr qsizetype tagSize = 16;
inline constexpr qsizetype sealOverhead = nonceSize + tagSize;
// Largest sealed message either end accepts (1 MiB, not 10^6).
inline constexpr qsizetype maxSealedSize = 1048576;

// 32 fresh random bytes, or nothing when the secure generator fails.
std::optional<QByteArray> randomKey();
// Session key of two paired devices: SHA-256 of both device keys in
// ascending byte order, so both sides get the same key.
QByteArray sharedKey(const QByteArray& a, const QByteArray& b);
// PBKDF2 of the normalised code; derived once per code and then cached,
// because it costs 200,000 HMAC rounds. Nothing only if OpenSSL fails.
std::optional<QByteArray> pairingKey(const QString& code);
// Relay room names (64 hex digits) for a paired couple and for pairing.
QString roomId(const QByteArray& key);
QString pairingRoomId(const QByteArray& key);
// Lower-case hex SHA-256 of the text's UTF-8 bytes (64 characters).
QString hash(const QString& text);

std::expected<QByteArray, SyncCryptoError> seal(const QByteArray& plain, const QByteArray& key);
std::expected<QByteArray, SyncCryptoError> open(const QByteArray& sealed, const QByteArray& key);

// PBKDF2-HMAC-SHA-256; nothing for rounds or keyLength below 1.
std::optional<QByteArray> pbkdf2(const QByteArray& password, const QByteArray& salt, int rounds,
                                 int keyLength);

// A device key as stored or received: canonical standard Base64 of exactly
// 32 bytes. Anything else is not a key we can use.
std::optional<QByteArray> decodeKey(const QString& base64);

namespace detail {
// Seal with a caller-chosen nonce, for known-answer tests only: reusing a
// nonce under one key breaks GCM.
std::expected<QByteArray, SyncCryptoError> sealWithNonce(const QByteArray& plain,
                                                         const QByteArray& key,
                                                         const QByteArray& nonce,
                                                         const QByteArray& aad = {});
// How many pairing keys were actually derived (not served from the cache).
int pairingKeyDerivations();
} // namespace detail
} // namespace SyncCrypto
