#pragma once

#include <QByteArray>
#include <optional>

// The system's cryptographically secure generator. Every key, nonce and
// pairing code comes from here, and every caller learns when it failed:
// a key or nonce made of whatever was in memory would be worse than none.
namespace SecureRandom {
bool fill(unsigned char* out, qsizetype size);
std::optional<QByteArray> bytes(qsizetype size);

// Lets tests see what happens when the generator fails.
void setFailingForTesting(bool failing);
} // namespace SecureRandom
