#include "core/store/StoreCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {
const QString kHistory = QStringLiteral("history");
const QString kPinned = QStringLiteral("pinned");
const QString kUnpinned = QStringLiteral("unpinned");

QJsonArray toArray(const QList<Clip>& clips) {
    QJsonArray array;
    for (const Clip& clip : clips)
        array.append(clip.toJson());
    return array;
}

std::expected<QList<Clip>, QString> clipsFrom(const QJsonObject& root, const QString& key) {
    const QJsonValue value = root.value(key);
    if (!value.isArray())
        return std::unexpected(QStringLiteral("no \"%1\" list").arg(key));
    const QJsonArray array = value.toArray();
    QList<Clip> clips;
    clips.reserve(array.size());
    for (const QJsonValue& element : array) {
        QString reason;
        std::optional<Clip> clip = Clip::fromJson(element, &reason);
        if (!clip)
            return std::unexpected(QStringLiteral("in \"%1\": %2").arg(key, reason));
        clips.append(std::move(*clip));
    }
    return clips;
}
} // namespace

QByteArray StoreCodec::encode(const StoreContents& contents) {
    QJsonObject unpinned;
    for (auto it = contents.unpinned.cbegin(); it != contents.unpinned.cend(); ++it)
        unpinned.insert(it.key(), it.value().unix());
    // QJsonObject keeps its keys sorted, so the output is sorted at every level.
    const QJsonObject root{
        {kHistory, toArray(contents.history)},
        {kPinned, toArray(contents.pinned)},
        {kUnpinned, unpinned},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::expected<StoreContents, QString> StoreCodec::decode(const QByteArray& bytes,
                                                         Unpinned unpinned) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return std::unexpected(
            QStringLiteral("not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        return std::unexpected(QStringLiteral("not a JSON object"));
    const QJsonObject root = document.object();

    StoreContents contents;
    auto history = clipsFrom(root, kHistory);
    if (!history)
        return std::unexpected(history.error());
    auto pinned = clipsFrom(root, kPinned);
    if (!pinned)
        return std::unexpected(pinned.error());
    contents.history = std::move(*history);
    contents.pinned = std::move(*pinned);

    const QJsonValue records = root.value(kUnpinned);
    if (unpinned == Unpinned::Read && !records.isUndefined() && !records.isNull()) {
        if (!records.isObject())
            return std::unexpected(QStringLiteral("\"unpinned\" is not an object"));
        const QJsonObject map = records.toObject();
        contents.unpinned.reserve(map.size());
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (!it.value().isDouble())
                return std::unexpected(QStringLiteral("an \"unpinned\" stamp is not a number"));
            contents.unpinned.insert(it.key(), Instant::fromUnix(it.value().toDouble()));
        }
    }
    return contents;
}
