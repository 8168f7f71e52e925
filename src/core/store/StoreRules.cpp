#include "core/store/StoreRules.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {
// Makes a later action on the same text strictly later than an earlier one.
constexpr double kStampStep = 0.001;
} // namespace

qsizetype StoreRules::indexOfText(const QList<Clip>& clips, const Clip& probe) {
    for (qsizetype i = 0; i < clips.size(); ++i)
        if (clips.at(i).hasSameText(probe))
            return i;
    return -1;
}

Instant StoreRules::pinStamp(const QHash<QString, Instant>& unpinned, const QString& textHash,
                             Instant now) {
    const auto entry = unpinned.constFind(textHash);
    if (entry != unpinned.cend() && *entry >= now)
        return entry->plus(kStampStep);
    return now;
}

Instant StoreRules::removalStamp(const Clip& pin, Instant now) {
    if (pin.pinnedAt() && *pin.pinnedAt() >= now)
        return pin.pinnedAt()->plus(kStampStep);
    return now;
}

void StoreRules::trimUnpinned(QHash<QString, Instant>& unpinned) {
    if (unpinned.size() <= kUnpinnedKept)
        return;
    std::vector<std::pair<Instant, QString>> entries;
    entries.reserve(static_cast<size_t>(unpinned.size()));
    for (auto it = unpinned.cbegin(); it != unpinned.cend(); ++it)
        entries.emplace_back(it.value(), it.key());
    const auto newestFirst = [](const auto& a, const auto& b) { return a.first > b.first; };
    std::nth_element(entries.begin(), entries.begin() + kUnpinnedKept, entries.end(), newestFirst);
    for (auto it = entries.begin() + kUnpinnedKept; it != entries.end(); ++it)
        unpinned.remove(it->second);
}

qsizetype StoreRules::trimHistory(QList<Clip>& history, qsizetype limit) {
    limit = std::max<qsizetype>(limit, 0);
    const qsizetype excess = history.size() - limit;
    if (excess <= 0)
        return 0;
    history.resize(limit);
    return excess;
}

qint64 StoreRules::weight(const Clip& clip) {
    return clip.text().size() + (clip.sourceApp() ? clip.sourceApp()->size() : 0) +
           kClipWeightOverhead;
}

qint64 StoreRules::weight(const QList<Clip>& clips) {
    qint64 total = 0;
    for (const Clip& clip : clips)
        total += weight(clip);
    return total;
}

qsizetype StoreRules::fitBudget(QList<Clip>& history, qint64 pinnedWeight, qint64 budget) {
    qint64 total = pinnedWeight + weight(history);
    qsizetype keep = history.size();
    while (keep > 0 && total > budget)
        total -= weight(history.at(--keep));
    const qsizetype dropped = history.size() - keep;
    history.resize(keep);
    return dropped;
}
