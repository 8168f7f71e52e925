#include "core/sync/SyncCrypto.h"

#include "core/sync/PairingCode.h"
#include "core/sync/SecureRandom.h"
#include "core/sync/SyncProtocol.h"

#include <QList>
#include <QMutex>
#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <string_view>
#include <utility>

namespace {
constexpr std::string_view roomLabel = "tindrel-room-v1";
constexpr std::string_view pairingRoomLabel = "tindrel-pair-room-v1";

const unsigned char* bytesOf(const QByteArray& data) {
    return reinterpret_cast<const unsigned char*>(data.constData());
}
unsigned char* bytesOf(QByteArray& data) {
    return reinterpret_cast<unsigned char*>(data.data());
}

QByteArray sha256(const QByteArray& data) {
    QByteArray digest(SHA256_DIGEST_LENGTH, Qt::Uninitialized);
    SHA256(bytesOf(data), static_cast<size_t>(data.size()), bytesOf(digest));
    return digest;
}

QString labelledRoom(std::string_view label, const QByteArray& key) {
    QByteArray input(label.data(), static_cast<qsizetype>(label.size()));
    input.append(key);
    return QString::fromLatin1(sha256(input).toHex());
}

// Fetched once: the implicit fetch behind EVP_aes_256_gcm() costs a provider
// lookup on every init, which shows on small messages.
const EVP_CIPHER* gcmCipher() {
    static const EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
    return cipher;
}

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

// Writes ciphertext and tag behind the nonce already at the front of `out`.
bool gcmEncrypt(const QByteArray& plain, const QByteArray& key, const QByteArray& aad,
                QByteArray& out) {
    CipherContext ctx(EVP_CIPHER_CTX_new());
    const EVP_CIPHER* cipher = gcmCipher();
    if (!ctx || !cipher)
        return false;
    unsigned char* nonce = bytesOf(out);
    unsigned char* body = nonce + SyncCrypto::nonceSize;
    int written = 0;
    int finalWritten = 0;
    if (EVP_EncryptInit_ex2(ctx.get(), cipher, bytesOf(key), nonce, nullptr) != 1)
        return false;
    if (!aad.isEmpty() && EVP_EncryptUpdate(ctx.get(), nullptr, &written, bytesOf(aad),
                                            static_cast<int>(aad.size())) != 1)
        return false;
    if (EVP_EncryptUpdate(ctx.get(), body, &written, bytesOf(plain),
                          static_cast<int>(plain.size())) != 1)
        return false;
    if (EVP_EncryptFinal_ex(ctx.get(), body + written, &finalWritten) != 1)
        return false;
    if (written + finalWritten != plain.size())
        return false;
    return EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, SyncCrypto::tagSize,
                               body + plain.size()) == 1;
}

// A small cache: a pairing window has one code, and a host sees at most a
// few codes in a session. Bounded so a stream of wrong codes cannot grow it.
struct PairingKeyCache {
    static constexpr qsizetype capacity = 8;
    QMutex mutex;
    QList<std::pair<QString, QByteArray>> entries; // most recent first
};
PairingKeyCache& pairingKeyCache() {
    static PairingKeyCache cache;
    return cache;
}
std::atomic<int> derivations{0};

// Sealed and opened buffers are reused per thread once every caller has let
// go of them: a fresh megabyte per message costs more in page faults than
// the cipher itself. A buffer much larger than needed is not reused, so a
// small result never pins a megabyte.
QByteArray& reusableBuffer(QByteArray& slot, qsizetype size) {
    const qsizetype roomy = std::max<qsizetype>(2 * size, 64 * 1024);
    if (slot.isDetached() && slot.capacity() >= size && slot.capacity() <= roomy)
        slot.resize(size);
    else
        slot = QByteArray(size, Qt::Uninitialized);
    return slot;
}
thread_local QByteArray sealBuffer;
thread_local QByteArray openBuffer;
} // namespace

std::optional<QByteArray> SyncCrypto::randomKey() {
    return SecureRandom::bytes(keySize);
}

QByteArray SyncCrypto::sharedKey(const QByteArray& a, const QByteArray& b) {
    const bool aFirst =
        std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        });
    return sha256(aFirst ? a + b : b + a);
}

std::optional<QByteArray> SyncCrypto::pairingKey(const QString& code) {
    const QString normalized = PairingCode::normalize(code);
    PairingKeyCache& cache = pairingKeyCache();
    {
        QMutexLocker lock(&cache.mutex);
        for (qsizetype i = 0; i < cache.entries.size(); ++i) {
            if (cache.entries[i].first == normalized) {
                cache.entries.move(i, 0);
                return cache.entries.front().second;
            }
        }
    }
    // Derived outside the lock: other threads keep their cached keys meanwhile.
    const QByteArray salt(SyncProtocol::pairingSalt.data(),
                          static_cast<qsizetype>(SyncProtocol::pairingSalt.size()));
    std::optional<QByteArray> key =
        pbkdf2(normalized.toUtf8(), salt, SyncProtocol::pairingRounds, keySize);
    if (!key)
        return std::nullopt;
    derivations.fetch_add(1, std::memory_order_relaxed);
    QMutexLocker lock(&cache.mutex);
    cache.entries.prepend({normalized, *key});
    if (cache.entries.size() > PairingKeyCache::capacity)
        cache.entries.removeLast();
    return key;
}

QString SyncCrypto::roomId(const QByteArray& key) {
    return labelledRoom(roomLabel, key);
}

QString SyncCrypto::pairingRoomId(const QByteArray& key) {
    return labelledRoom(pairingRoomLabel, key);
}

QString SyncCrypto::hash(const QString& text) {
    return QString::fromLatin1(sha256(text.toUtf8()).toHex());
}

std::expected<QByteArray, SyncCryptoError> SyncCrypto::seal(const QByteArray& plain,
                                                            const QByteArray& key) {
    if (plain.size() > maxSealedSize - sealOverhead)
        return std::unexpected(SyncCryptoError::frameTooLarge);
    if (key.size() != keySize)
        return std::unexpected(SyncCryptoError::malformed);
    QByteArray& out = reusableBuffer(sealBuffer, plain.size() + sealOverhead);
    // Never seal under a nonce we did not get from the generator.
    if (!SecureRandom::fill(bytesOf(out), nonceSize) || !gcmEncrypt(plain, key, {}, out))
        return std::unexpected(SyncCryptoError::malformed);
    return out;
}

std::expected<QByteArray, SyncCryptoError> SyncCrypto::open(const QByteArray& sealed,
                                                            const QByteArray& key) {
    const qsizetype bodySize = sealed.size() - sealOverhead;
    if (bodySize < 0 || key.size() != keySize || sealed.size() > INT_MAX)
        return std::unexpected(SyncCryptoError::decryptionFailed);
    CipherContext ctx(EVP_CIPHER_CTX_new());
    const EVP_CIPHER* cipher = gcmCipher();
    if (!ctx || !cipher)
        return std::unexpected(SyncCryptoError::decryptionFailed);
    const unsigned char* nonce = bytesOf(sealed);
    const unsigned char* body = nonce + nonceSize;
    // The tag is const in the sealed bytes but OpenSSL's ctrl takes void*.
    unsigned char tag[tagSize];
    std::copy_n(body + bodySize, tagSize, tag);
    QByteArray& plain = reusableBuffer(openBuffer, bodySize);
    int written = 0;
    int finalWritten = 0;
    const bool ok = EVP_DecryptInit_ex2(ctx.get(), cipher, bytesOf(key), nonce, nullptr) == 1 &&
                    EVP_DecryptUpdate(ctx.get(), bytesOf(plain), &written, body,
                                      static_cast<int>(bodySize)) == 1 &&
                    EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, tagSize, tag) == 1 &&
                    EVP_DecryptFinal_ex(ctx.get(), bytesOf(plain) + written, &finalWritten) == 1 &&
                    written + finalWritten == bodySize;
    if (!ok)
        return std::unexpected(SyncCryptoError::decryptionFailed);
    return plain;
}

std::optional<QByteArray> SyncCrypto::pbkdf2(const QByteArray& password, const QByteArray& salt,
                                             int rounds, int keyLength) {
    if (rounds < 1 || keyLength < 1)
        return std::nullopt;
    QByteArray out(keyLength, Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC(password.constData(), static_cast<int>(password.size()), bytesOf(salt),
                          static_cast<int>(salt.size()), rounds, EVP_sha256(), keyLength,
                          bytesOf(out)) != 1)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> SyncCrypto::decodeKey(const QString& base64) {
    const QByteArray text = base64.toLatin1();
    auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != keySize)
        return std::nullopt;
    // Only the canonical spelling, so one key has one stored form.
    if (decoded.decoded.toBase64() != text)
        return std::nullopt;
    return decoded.decoded;
}

std::expected<QByteArray, SyncCryptoError>
SyncCrypto::detail::sealWithNonce(const QByteArray& plain, const QByteArray& key,
                                  const QByteArray& nonce, const QByteArray& aad) {
    if (plain.size() > maxSealedSize - sealOverhead)
        return std::unexpected(SyncCryptoError::frameTooLarge);
    if (key.size() != keySize || nonce.size() != nonceSize)
        return std::unexpected(SyncCryptoError::malformed);
    QByteArray out(plain.size() + sealOverhead, Qt::Uninitialized);
    std::copy_n(nonce.constData(), nonceSize, out.data());
    if (!gcmEncrypt(plain, key, aad, out))
        return std::unexpected(SyncCryptoError::malformed);
    return out;
}

int SyncCrypto::detail::pairingKeyDerivations() {
    return derivations.load(std::memory_order_relaxed);
}
