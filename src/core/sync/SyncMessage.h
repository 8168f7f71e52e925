#pragma once

#include "core/sync/SyncClipPayload.h"
#include "core/sync/SyncCryptoError.h"
#include "core/sync/SyncDevicePayload.h"
#include "core/sync/SyncMessageType.h"
#include "core/sync/SyncPinPayload.h"
#include "core/sync/SyncUnpinPayload.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <expected>
#include <optional>

// The one record two devices exchange, as JSON inside a sealed frame.
// Every field but the type is optional; absent fields are left out of the
// JSON. Times count seconds since 1970-01-01 UTC.
struct SyncMessage {
    SyncMessageType type = SyncMessageType::ping;
    std::optional<QString> deviceId;
    std::optional<QString> deviceName;
    std::optional<qint64> proto; // "protocol"; a hello without it speaks version 1
    std::optional<QString> deviceKey;
    std::optional<QString> id;
    std::optional<QString> text;
    std::optional<QString> originId;
    std::optional<QString> originName;
    std::optional<double> createdAt;
    std::optional<QString> hash;
    std::optional<QList<SyncDevicePayload>> devices;
    std::optional<QList<SyncPinPayload>> pins;
    std::optional<QList<SyncUnpinPayload>> unpinned;
    // Protocol 4: what the sender of a hello (or pair) can do beyond
    // protocol 3; a catch-up's time and its answer's clips, and whether
    // more parts of that answer follow.
    std::optional<QStringList> capabilities;
    std::optional<double> since;
    std::optional<QList<SyncClipPayload>> clips;
    std::optional<bool> more;
    // The stamp of a device that named "replay-guard": who the message is
    // for, the kind of link it was sent on ("direct" or "relay") and a number
    // that only grows on that link. Any other message is sent without it.
    std::optional<QString> to;
    std::optional<QString> via;
    std::optional<qint64> seq;

    // What a stamp can add to an encoded message: whatever fills a sealed
    // frame to the brim leaves this much free.
    static constexpr qsizetype stampRoom = 512;

    static SyncMessage ping();
    // Announces this device and the protocol version we speak: protocol 3
    // alone, or 4 with what we can do beyond it.
    static SyncMessage hello(const QString& deviceId, const QString& deviceName,
                             std::optional<QStringList> capabilities = std::nullopt);
    static SyncMessage pair(const QString& deviceId, const QString& deviceName,
                            const QString& deviceKeyBase64);
    static SyncMessage ack(const QString& clipId);

    // UTF-8 JSON with the keys in a fixed order; never fails.
    QByteArray encode() const;
    // Nothing when the bytes are not a message: not a JSON object (a
    // byte-order mark before it included), a missing or unknown type, a key
    // of the wrong JSON type, or a list entry without one of its required
    // keys. A time that is not within 0 ... 10^11 s only
    // drops what carries it: the list entry, or a clip's createdAt (the clip
    // stays). Unknown keys are ignored; null counts as absent where a key may be.
    static std::optional<SyncMessage> decode(const QByteArray& json);

    // encode() sealed under the key (SyncCrypto::seal).
    std::expected<QByteArray, SyncCryptoError> seal(const QByteArray& key) const;
    // SyncCrypto::open, then decode(); an authentic frame that does not
    // decode fails with decodingFailed.
    static std::expected<SyncMessage, SyncCryptoError> open(const QByteArray& sealed,
                                                            const QByteArray& key);

    friend bool operator==(const SyncMessage&, const SyncMessage&) = default;
};
