#include "core/sync/SyncPayload.h"

#include "core/util/Overloaded.h"

std::optional<SyncPayload> syncPayloadOf(const SyncMessage& m) {
    switch (m.type) {
    case SyncMessageType::hello:
        if (!m.deviceId)
            return std::nullopt;
        return SyncHello{*m.deviceId, m.deviceName, m.proto.value_or(1), m.capabilities};
    case SyncMessageType::pair:
        return SyncPair{m.deviceId, m.deviceName, m.deviceKey, m.text, m.proto, m.capabilities};
    case SyncMessageType::clip:
        if (!m.text || m.text->isEmpty())
            return std::nullopt;
        return SyncClip{*m.text, m.id, m.originId, m.originName, m.createdAt, m.hash};
    case SyncMessageType::ack:
        return SyncAck{m.id};
    case SyncMessageType::ping:
        return SyncPing{};
    case SyncMessageType::devices:
        if (!m.devices)
            return std::nullopt;
        return SyncRoster{*m.devices};
    case SyncMessageType::pins:
        return SyncPinSnapshot{m.pins.value_or(QList<SyncPinPayload>{}),
                               m.unpinned.value_or(QList<SyncUnpinPayload>{})};
    case SyncMessageType::catchUp:
        return SyncCatchUp{m.since};
    case SyncMessageType::clips:
        if (!m.clips)
            return std::nullopt;
        return SyncClipBatch{*m.clips, m.more.value_or(false)};
    }
    return std::nullopt;
}

SyncMessage syncMessageOf(const SyncPayload& payload) {
    SyncMessage m;
    std::visit(Overloaded{
                   [&](const SyncHello& p) {
                       m.type = SyncMessageType::hello;
                       m.deviceId = p.deviceId;
                       m.deviceName = p.deviceName;
                       m.proto = p.protocol;
                       m.capabilities = p.capabilities;
                   },
                   [&](const SyncPair& p) {
                       m.type = SyncMessageType::pair;
                       m.deviceId = p.deviceId;
                       m.deviceName = p.deviceName;
                       m.deviceKey = p.deviceKey;
                       m.text = p.refusal;
                       m.proto = p.protocol;
                       m.capabilities = p.capabilities;
                   },
                   [&](const SyncClip& p) {
                       m.type = SyncMessageType::clip;
                       m.id = p.id;
                       m.text = p.text;
                       m.originId = p.originId;
                       m.originName = p.originName;
                       m.createdAt = p.createdAt;
                       m.hash = p.hash;
                   },
                   [&](const SyncAck& p) {
                       m.type = SyncMessageType::ack;
                       m.id = p.id;
                   },
                   [&](const SyncPing&) { m.type = SyncMessageType::ping; },
                   [&](const SyncRoster& p) {
                       m.type = SyncMessageType::devices;
                       m.devices = p.devices;
                   },
                   [&](const SyncPinSnapshot& p) {
                       m.type = SyncMessageType::pins;
                       m.pins = p.pins;
                       m.unpinned = p.unpinned;
                   },
                   [&](const SyncCatchUp& p) {
                       m.type = SyncMessageType::catchUp;
                       m.since = p.since;
                   },
                   [&](const SyncClipBatch& p) {
                       m.type = SyncMessageType::clips;
                       m.clips = p.clips;
                       if (p.more)
                           m.more = true;
                   },
               },
               payload);
    return m;
}
