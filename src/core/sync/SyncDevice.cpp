#include "core/sync/SyncDevice.h"

#include <QJsonArray>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

SyncDevicePayload SyncDevice::payload() const {
    SyncDevicePayload entry;
    entry.id = id;
    entry.name = name;
    entry.key = keyBase64;
    entry.platform = platform;
    if (lastSeen)
        entry.lastSeen = lastSeen->unix();
    return entry;
}

SyncDevice SyncDevice::fromPayload(const SyncDevicePayload& entry) {
    SyncDevice device;
    device.id = entry.id;
    device.name = entry.name;
    device.keyBase64 = entry.key;
    device.platform = entry.platform;
    if (entry.lastSeen)
        device.lastSeen = Instant::fromUnix(*entry.lastSeen);
    return device;
}

QJsonObject SyncDevice::toJson() const {
    QJsonObject object{
        {u"id"_s, id},
        {u"name"_s, name},
        {u"keyBase64"_s, keyBase64},
    };
    if (lastSeen)
        object.insert(u"lastSeen"_s, lastSeen->sinceReference);
    if (platform)
        object.insert(u"platform"_s, *platform);
    if (enabled)
        object.insert(u"enabled"_s, *enabled);
    if (protocol)
        object.insert(u"protocol"_s, *protocol);
    if (capabilities)
        object.insert(u"capabilities"_s, QJsonArray::fromStringList(*capabilities));
    return object;
}

std::optional<SyncDevice> SyncDevice::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(QLatin1StringView("id"));
    const QJsonValue name = object.value(QLatin1StringView("name"));
    const QJsonValue key = object.value(QLatin1StringView("keyBase64"));
    if (!id.isString() || !name.isString() || !key.isString())
        return std::nullopt;
    SyncDevice device{id.toString(), name.toString(), key.toString(), {}, {}, {}};

    const QJsonValue lastSeen = object.value(QLatin1StringView("lastSeen"));
    if (lastSeen.isDouble())
        device.lastSeen = Instant::fromReference(lastSeen.toDouble());
    else if (!lastSeen.isUndefined() && !lastSeen.isNull())
        return std::nullopt;
    const QJsonValue platform = object.value(QLatin1StringView("platform"));
    if (platform.isString())
        device.platform = platform.toString();
    else if (!platform.isUndefined() && !platform.isNull())
        return std::nullopt;
    const QJsonValue enabled = object.value(QLatin1StringView("enabled"));
    if (enabled.isBool())
        device.enabled = enabled.toBool();
    else if (!enabled.isUndefined() && !enabled.isNull())
        return std::nullopt;
    // Only ever a hint for what to send: a value that does not read is
    // left out rather than costing the device.
    const QJsonValue protocol = object.value(QLatin1StringView("protocol"));
    if (protocol.isDouble() && protocol.toDouble() >= 1 && protocol.toDouble() < 1e9)
        device.protocol = qint64(protocol.toDouble());
    const QJsonValue capabilities = object.value(QLatin1StringView("capabilities"));
    if (capabilities.isArray()) {
        QStringList names;
        for (const QJsonValue& entry : capabilities.toArray())
            if (entry.isString() && names.size() < maxCapabilities)
                names.append(entry.toString().left(maxCapabilityLength));
        device.capabilities = names;
    }
    return device;
}

QString SyncDevice::cleanName(const QString& name) {
    QString kept;
    kept.reserve(name.size());
    for (QChar c : name) {
        const char16_t u = c.unicode();
        const bool bidiControl = (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
        // Line and paragraph separators would break a name over lines too.
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph || bidiControl)
            continue;
        kept.append(c);
    }
    // Cut between user-perceived characters, never inside one.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, kept);
    qsizetype count = 0;
    while (graphemes.toNextBoundary() != -1) {
        if (++count == maxNameLength)
            return kept.left(graphemes.position());
    }
    return kept;
}
