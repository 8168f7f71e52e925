#include "core/store/BackupMerge.h"

#include "core/store/StoreRules.h"

#include <QSet>
#include <QUuid>
#include <algorithm>

BackupMerge::Result BackupMerge::merge(StoreContents current, const StoreContents& backup,
                                       qsizetype pinLimit, qsizetype historyLimit,
                                       qint64 textBudget, Instant now) {
    Result result;
    StoreContents& s = result.contents;
    s = std::move(current);

    // A backup from another machine, or an edited one, may reuse ids of
    // clips we hold; ids must stay unique because operations find clips by id.
    QSet<QUuid> ids;
    for (const QList<Clip>* list : {&s.pinned, &s.history})
        for (const Clip& clip : *list)
            ids.insert(clip.id());
    const auto takeUniqueId = [&ids](Clip& clip) {
        while (ids.contains(clip.id()))
            clip.setId(QUuid::createUuid());
        ids.insert(clip.id());
    };

    // Walking from the end and inserting each at the front keeps the
    // backup's order, ahead of the pins already here.
    qint64 pinnedWeight = StoreRules::weight(s.pinned);
    for (qsizetype i = backup.pinned.size() - 1; i >= 0; --i) {
        Clip clip = backup.pinned.at(i);
        if (clip.text().isEmpty() || StoreRules::indexOfText(s.pinned, clip) != -1)
            continue;
        if (s.pinned.size() >= pinLimit)
            break;
        if (pinnedWeight + StoreRules::weight(clip) > textBudget)
            continue;
        pinnedWeight += StoreRules::weight(clip);
        clip.setPinnedAt(StoreRules::pinStamp(s.unpinned, clip.textHash(), now));
        s.unpinned.remove(clip.textHash());
        takeUniqueId(clip);
        s.pinned.prepend(std::move(clip));
        result.pinsChanged = true;
        ++result.added;
    }

    QSet<QString> present;
    for (const QList<Clip>* list : {&s.history, &s.pinned})
        for (const Clip& clip : *list)
            present.insert(clip.canonicalText());
    QSet<QUuid> imported;
    for (Clip clip : backup.history) {
        if (clip.text().isEmpty() || present.contains(clip.canonicalText()))
            continue;
        clip.setPinnedAt(std::nullopt);
        takeUniqueId(clip);
        imported.insert(clip.id());
        s.history.append(std::move(clip));
    }
    std::stable_sort(s.history.begin(), s.history.end(),
                     [](const Clip& a, const Clip& b) { return a.createdAt() > b.createdAt(); });
    result.pushedOut = StoreRules::trimHistory(s.history, historyLimit) +
                       StoreRules::fitBudget(s.history, pinnedWeight, textBudget);
    // Imported clips older than everything kept are among those cut at once.
    if (!imported.isEmpty())
        result.added += std::ranges::count_if(
            s.history, [&](const Clip& clip) { return imported.contains(clip.id()); });
    return result;
}
