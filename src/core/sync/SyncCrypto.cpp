#include "core/sync/SyncCrypto.h"

#include <openssl/sha.h>

QString SyncCrypto::hash(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.constData()),
           static_cast<size_t>(bytes.size()), digest);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), SHA256_DIGEST_LENGTH).toHex());
}
