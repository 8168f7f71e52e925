#pragma once

#include <QLatin1StringView>
#include <QStringView>
#include <optional>

// What a sync message is; travels as its name in "type".
enum class SyncMessageType {
    hello,   // first message on a paired connection: identity and protocol
    pair,    // pairing request and reply, carrying the device key
    clip,    // one copied clip
    ack,     // receipt of a clip
    ping,    // keep-alive
    devices, // the sender's paired devices
    pins,    // the sender's pins and recent unpins
    // Protocol 4, sent only to devices that named the "catch-up" capability:
    catchUp, // "catch-up": asks for the copies made since a time
    clips,   // answers it with those copies, oldest first, in one or more parts
};

inline QLatin1StringView syncMessageTypeName(SyncMessageType type) {
    switch (type) {
    case SyncMessageType::hello:
        return QLatin1StringView("hello");
    case SyncMessageType::pair:
        return QLatin1StringView("pair");
    case SyncMessageType::clip:
        return QLatin1StringView("clip");
    case SyncMessageType::ack:
        return QLatin1StringView("ack");
    case SyncMessageType::ping:
        return QLatin1StringView("ping");
    case SyncMessageType::devices:
        return QLatin1StringView("devices");
    case SyncMessageType::pins:
        return QLatin1StringView("pins");
    case SyncMessageType::catchUp:
        return QLatin1StringView("catch-up");
    case SyncMessageType::clips:
        return QLatin1StringView("clips");
    }
    return QLatin1StringView("ping");
}

// Exact, case-sensitive names only: a type we do not know is not a message.
inline std::optional<SyncMessageType> syncMessageTypeFromName(QStringView name) {
    for (SyncMessageType type :
         {SyncMessageType::hello, SyncMessageType::pair, SyncMessageType::clip,
          SyncMessageType::ack, SyncMessageType::ping, SyncMessageType::devices,
          SyncMessageType::pins, SyncMessageType::catchUp, SyncMessageType::clips}) {
        if (name == syncMessageTypeName(type))
            return type;
    }
    return std::nullopt;
}
