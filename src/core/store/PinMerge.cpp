#include "core/store/PinMerge.h"

#include "core/store/StoreRules.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// A pin without a stamp counts as pinned at the earliest possible instant.
double pinnedAtOrEarliest(const Clip& pin) {
    return pin.pinnedAt().value_or(Instant::distantPast()).unix();
}

// Unpin records first: each removes a local pin that is not later.
void applyUnpins(PinMerge::Result& r, const QList<UnpinRecord>& records, qsizetype historyLimit) {
    StoreContents& s = r.contents;
    for (const UnpinRecord& record : records) {
        // A stamp that is not a number cannot be ordered against anything.
        if (!std::isfinite(record.at))
            continue;
        const auto entry = s.unpinned.constFind(record.hash);
        if (entry == s.unpinned.cend() || entry->unix() < record.at) {
            s.unpinned.insert(record.hash, Instant::fromUnix(record.at));
            r.needsSave = true;
        }
        const auto pin = std::find_if(s.pinned.begin(), s.pinned.end(),
                                      [&](const Clip& c) { return c.textHash() == record.hash; });
        if (pin == s.pinned.end() || pinnedAtOrEarliest(*pin) > record.at)
            continue;
        Clip removed = *pin;
        s.pinned.erase(pin);
        removed.setPinnedAt(std::nullopt);
        if (StoreRules::indexOfText(s.history, removed) == -1) {
            s.history.prepend(std::move(removed));
            StoreRules::trimHistory(s.history, historyLimit);
            r.historyTouched = true;
        }
        r.pinsChanged = r.needsSave = r.pinnedTouched = true;
    }
}

// Then pins, latest first, each applied unless a local unpin is as late.
void applyPins(PinMerge::Result& r, const QList<PinRecord>& pins, qsizetype pinLimit,
               qint64 textBudget) {
    StoreContents& s = r.contents;
    qint64 pinnedWeight = StoreRules::weight(s.pinned);
    struct Incoming {
        Clip clip;
        double at;
    };
    std::vector<Incoming> incoming;
    incoming.reserve(static_cast<size_t>(pins.size()));
    for (const PinRecord& pin : pins)
        if (std::isfinite(pin.pinnedAt) && !pin.text.isEmpty())
            incoming.push_back(
                {Clip::make(pin.text, Instant::fromUnix(pin.pinnedAt)), pin.pinnedAt});
    std::stable_sort(incoming.begin(), incoming.end(),
                     [](const Incoming& a, const Incoming& b) { return a.at > b.at; });

    QList<Clip> added;
    for (const Incoming& pin : incoming) {
        const QString& hash = pin.clip.textHash();
        const auto entry = s.unpinned.constFind(hash);
        if (entry != s.unpinned.cend() && entry->unix() >= pin.at)
            continue;
        const Instant at = Instant::fromUnix(pin.at);
        const qsizetype local = StoreRules::indexOfText(s.pinned, pin.clip);
        if (local != -1) {
            Clip& existing = s.pinned[local];
            if (pinnedAtOrEarliest(existing) < pin.at) {
                existing.setPinnedAt(at);
                // Otherwise the newer stamp is lost at the next start.
                r.needsSave = r.pinnedTouched = true;
            }
            continue;
        }
        // The same text twice in one state: the later one was taken already.
        if (StoreRules::indexOfText(added, pin.clip) != -1)
            continue;
        if (s.pinned.size() + added.size() >= pinLimit) {
            ++r.overflow;
            continue;
        }
        Clip newPin = pin.clip;
        const qsizetype inHistory = StoreRules::indexOfText(s.history, pin.clip);
        if (inHistory != -1)
            newPin = s.history.at(inHistory);
        newPin.setPinnedAt(at);
        if (pinnedWeight + StoreRules::weight(newPin) > textBudget) {
            ++r.overBudget;
            continue;
        }
        if (inHistory != -1) {
            s.history.removeIf([&](const Clip& c) { return c.hasSameText(pin.clip); });
            r.historyTouched = true;
        }
        pinnedWeight += StoreRules::weight(newPin);
        added.append(std::move(newPin));
        s.unpinned.remove(hash);
        r.pinsChanged = r.needsSave = r.pinnedTouched = true;
    }
    if (!added.isEmpty())
        s.pinned = added + s.pinned;
}
} // namespace

PinMerge::Result PinMerge::merge(StoreContents current, const PinsState& received,
                                 qsizetype pinLimit, qsizetype historyLimit, qint64 textBudget) {
    Result result;
    result.contents = std::move(current);
    applyUnpins(result, received.unpinned, historyLimit);
    applyPins(result, received.pins, pinLimit, textBudget);
    StoreRules::trimUnpinned(result.contents.unpinned);
    return result;
}
