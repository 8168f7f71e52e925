#include "core/sync/SyncContext.h"

#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncIdentity.h"

std::optional<QByteArray> SyncContext::sessionKey(const SyncDevice& device) const {
    if (device.id == identity.deviceId())
        return std::nullopt;
    const std::optional<QByteArray> theirs = SyncCrypto::decodeKey(device.keyBase64);
    const QByteArray ours = identity.deviceKey();
    if (!theirs || ours.size() != SyncCrypto::keySize)
        return std::nullopt;
    return SyncCrypto::sharedKey(ours, *theirs);
}

bool SyncContext::isOwnOrigin(const SyncMessage& message) const {
    const QString ownId = identity.deviceId();
    return message.deviceId == ownId || message.originId == ownId;
}
