#pragma once

// Why sealing or opening a sync message failed. Callers drop the message
// either way; the cases exist for logs and tests.
enum class SyncCryptoError {
    frameTooLarge,    // the sealed message would exceed the frame limit
    decryptionFailed, // too short, altered, or sealed with another key
    malformed,        // nothing sealable: bad key size, or no nonce to be had
    decodingFailed,   // authentic, but the JSON inside is not a message we understand
};
