#pragma once

#include "core/sync/SyncDevicePayload.h"
#include "core/util/Instant.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <optional>

// One paired device as this device remembers it.
struct SyncDevice {
    static constexpr qsizetype maxNameLength = 100; // user-perceived characters
    static constexpr qsizetype maxIdLength = 64;
    static constexpr qsizetype maxCapabilities = 16;
    static constexpr qsizetype maxCapabilityLength = 32;

    QString id;
    QString name;
    QString keyBase64; // the device key, standard Base64
    std::optional<Instant> lastSeen;
    std::optional<QString> platform;
    std::optional<bool> enabled; // absent counts as on
    // What it said it speaks when we last heard: its protocol version and
    // the capabilities beyond protocol 3. A link that carries no hello (the
    // relay) goes by these.
    std::optional<qint64> protocol = std::nullopt;
    std::optional<QStringList> capabilities = std::nullopt;

    bool isEnabled() const { return enabled.value_or(true); }

    // As passed on in a device list; the enabled flag stays private.
    SyncDevicePayload payload() const;
    // A device first heard of through a device list: enabled left absent.
    static SyncDevice fromPayload(const SyncDevicePayload& entry);

    // Stored form: "id", "name", "keyBase64", and "lastSeen" (seconds since
    // 2001), "platform", "enabled", "protocol", "capabilities" when present.
    QJsonObject toJson() const;
    // Nothing when a required key is missing or any key has the wrong type.
    static std::optional<SyncDevice> fromJson(const QJsonValue& value);

    // A name from another device or from the user, made safe to store, log
    // and show: control and bidirectional-override characters removed, cut
    // to maxNameLength characters.
    static QString cleanName(const QString& name);

    friend bool operator==(const SyncDevice&, const SyncDevice&) = default;
};
