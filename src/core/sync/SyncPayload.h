#pragma once

#include "core/sync/SyncMessage.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// What one sync message says, by its type. On the wire every type may carry
// every key (SyncMessage is that record); here each type has its own fields
// and nothing else, and a message that lacks what its type needs is no
// payload at all, so the parts of sync never look at a key that is not theirs.

// First message on a paired connection, and on a relay link to a device
// known to speak protocol 4.
struct SyncHello {
    QString deviceId;
    std::optional<QString> deviceName;
    qint64 protocol = 1; // a hello without one speaks version 1
    std::optional<QStringList> capabilities;
    friend bool operator==(const SyncHello&, const SyncHello&) = default;
};

// A pairing request or answer; without a key but with a reason, a refusal.
struct SyncPair {
    std::optional<QString> deviceId;
    std::optional<QString> deviceName;
    std::optional<QString> deviceKey;
    std::optional<QString> refusal; // "text"
    std::optional<qint64> protocol;
    std::optional<QStringList> capabilities;
    friend bool operator==(const SyncPair&, const SyncPair&) = default;
};

// One copied clip.
struct SyncClip {
    QString text;
    std::optional<QString> id;
    std::optional<QString> originId;
    std::optional<QString> originName;
    std::optional<double> createdAt;
    std::optional<QString> hash;
    friend bool operator==(const SyncClip&, const SyncClip&) = default;
};

struct SyncAck {
    std::optional<QString> id;
    friend bool operator==(const SyncAck&, const SyncAck&) = default;
};

struct SyncPing {
    friend bool operator==(const SyncPing&, const SyncPing&) = default;
};

struct SyncRoster {
    QList<SyncDevicePayload> devices;
    friend bool operator==(const SyncRoster&, const SyncRoster&) = default;
};

struct SyncPinSnapshot {
    QList<SyncPinPayload> pins;
    QList<SyncUnpinPayload> unpinned;
    friend bool operator==(const SyncPinSnapshot&, const SyncPinSnapshot&) = default;
};

// Asks for the copies made after `since` (none: since the asker was last seen).
struct SyncCatchUp {
    std::optional<double> since;
    friend bool operator==(const SyncCatchUp&, const SyncCatchUp&) = default;
};

// One part of the answer, oldest first; more parts follow while `more`.
struct SyncClipBatch {
    QList<SyncClipPayload> clips;
    bool more = false;
    friend bool operator==(const SyncClipBatch&, const SyncClipBatch&) = default;
};

using SyncPayload = std::variant<SyncHello, SyncPair, SyncClip, SyncAck, SyncPing, SyncRoster,
                                 SyncPinSnapshot, SyncCatchUp, SyncClipBatch>;

// Nothing when the message lacks what its type needs: a hello without its
// device id, a clip without text, a device list or batch without its list.
std::optional<SyncPayload> syncPayloadOf(const SyncMessage& message);
// The wire record, only the payload's own keys set.
SyncMessage syncMessageOf(const SyncPayload& payload);
