#pragma once

#include <QByteArray>
#include <QString>

// Sealing, opening and key derivation for sync; also the text hash that keys
// unpin records in the store and identifies clips on the wire.
namespace SyncCrypto {
// Lower-case hex SHA-256 of the text's UTF-8 bytes (64 characters).
QString hash(const QString& text);
} // namespace SyncCrypto
