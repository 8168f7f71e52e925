#pragma once

#include "core/store/PinsState.h"
#include "core/sync/SyncPinPayload.h"
#include "core/sync/SyncUnpinPayload.h"

#include <QList>

// The store's pin state in the wire's payload types and back; the store
// itself knows nothing of the wire.
namespace SyncPinsAdapter {
QList<SyncPinPayload> toWire(const QList<PinRecord>& pins);
QList<SyncUnpinPayload> toWire(const QList<UnpinRecord>& unpinned);
QList<PinRecord> fromWire(const QList<SyncPinPayload>& pins);
QList<UnpinRecord> fromWire(const QList<SyncUnpinPayload>& unpinned);
} // namespace SyncPinsAdapter
