#include "core/sync/SyncPinsAdapter.h"

namespace {
template <typename To, typename From, typename Convert>
QList<To> mapped(const QList<From>& from, Convert convert) {
    QList<To> to;
    to.reserve(from.size());
    for (const From& item : from)
        to.append(convert(item));
    return to;
}
} // namespace

QList<SyncPinPayload> SyncPinsAdapter::toWire(const QList<PinRecord>& pins) {
    return mapped<SyncPinPayload>(pins, [](const PinRecord& pin) {
        return SyncPinPayload{pin.text, pin.pinnedAt};
    });
}

QList<SyncUnpinPayload> SyncPinsAdapter::toWire(const QList<UnpinRecord>& unpinned) {
    return mapped<SyncUnpinPayload>(unpinned, [](const UnpinRecord& unpin) {
        return SyncUnpinPayload{unpin.hash, unpin.at};
    });
}

QList<PinRecord> SyncPinsAdapter::fromWire(const QList<SyncPinPayload>& pins) {
    return mapped<PinRecord>(pins, [](const SyncPinPayload& pin) {
        return PinRecord{pin.text, pin.pinnedAt};
    });
}

QList<UnpinRecord> SyncPinsAdapter::fromWire(const QList<SyncUnpinPayload>& unpinned) {
    return mapped<UnpinRecord>(unpinned, [](const SyncUnpinPayload& unpin) {
        return UnpinRecord{unpin.hash, unpin.at};
    });
}
