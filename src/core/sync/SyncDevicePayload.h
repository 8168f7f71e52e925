#pragma once

#include <QString>
#include <optional>

// One paired device as passed on in a device list.
struct SyncDevicePayload {
    QString id;
    QString name;
    QString key; // the device key, standard Base64
    std::optional<QString> platform;
    std::optional<double> lastSeen; // seconds since 1970-01-01 UTC

    friend bool operator==(const SyncDevicePayload&, const SyncDevicePayload&) = default;
};
