#include "core/sync/SyncMessage.h"

#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncProtocol.h"
#include "core/util/JsonText.h"
#include "core/util/Utf8.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {
// Wire times beyond this (about the year 5138) or before 1970 are not times
// a device could have produced; they would only break date arithmetic.
constexpr double latestWireTime = 1.0e11;

bool isWireTime(double seconds) {
    return std::isfinite(seconds) && seconds >= 0.0 && seconds <= latestWireTime;
}

// What we send must pass that same check on the other side: a single stray
// time (a hand-edited store, an unpin stamped just past a peer's latest time)
// would otherwise make every snapshot we send unreadable.
double toWireTime(double seconds) {
    return std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, latestWireTime);
}

// --- encoding: written by hand so the keys come out in the agreed order ---

constexpr char hexDigits[] = "0123456789abcdef";

void appendUtf8(QByteArray& out, QStringView text) {
    const QByteArray utf8 = text.toUtf8();
    out.reserve(out.size() + utf8.size() + 2);
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hexDigits[byte >> 4];
                out += hexDigits[byte & 0xf];
            } else {
                out += c;
            }
        }
    }
}

void appendString(QByteArray& out, const QString& text) {
    out += '"';
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        if (!QChar::isSurrogate(unit))
            continue;
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            ++i; // a pair: UTF-8 holds it
            continue;
        }
        // A lone surrogate has no UTF-8 form and would go out as "?"; as an
        // escape every JSON reader gives it back, as the store file does.
        appendUtf8(out, QStringView(text).sliced(run, i - run));
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += hexDigits[(unit >> shift) & 0xf];
        run = i + 1;
    }
    appendUtf8(out, QStringView(text).sliced(run));
    out += '"';
}

void appendInt(QByteArray& out, qint64 value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

class ObjectWriter {
public:
    explicit ObjectWriter(QByteArray& out) : m_out(out) { m_out += '{'; }
    void finish() { m_out += '}'; }

    QByteArray& key(const char* name) {
        if (!m_first)
            m_out += ',';
        m_first = false;
        m_out += '"';
        m_out += name;
        m_out += "\":";
        return m_out;
    }
    void string(const char* name, const QString& value) { appendString(key(name), value); }
    void string(const char* name, const std::optional<QString>& value) {
        if (value)
            string(name, *value);
    }
    void time(const char* name, double seconds) {
        JsonText::appendDecimal(key(name), toWireTime(seconds));
    }
    void time(const char* name, const std::optional<double>& seconds) {
        if (seconds)
            time(name, *seconds);
    }
    void boolean(const char* name, const std::optional<bool>& value) {
        if (value)
            key(name) += *value ? "true" : "false";
    }
    void strings(const char* name, const std::optional<QStringList>& values) {
        if (!values)
            return;
        QByteArray& out = key(name);
        out += '[';
        for (qsizetype i = 0; i < values->size(); ++i) {
            if (i > 0)
                out += ',';
            appendString(out, values->at(i));
        }
        out += ']';
    }
    template <typename T, typename WriteEntry>
    void list(const char* name, const std::optional<QList<T>>& entries, WriteEntry write) {
        if (!entries)
            return;
        QByteArray& out = key(name);
        out += '[';
        for (qsizetype i = 0; i < entries->size(); ++i) {
            if (i > 0)
                out += ',';
            ObjectWriter entry(out);
            write(entry, entries->at(i));
            entry.finish();
        }
        out += ']';
    }

private:
    QByteArray& m_out;
    bool m_first = true;
};

// --- decoding: any wrong type fails the whole message; a time no device
// could have produced only costs the list entry that carries it ---

class ObjectReader {
public:
    explicit ObjectReader(QJsonObject object) : m_object(std::move(object)) {}
    bool ok() const { return m_ok; }
    // A required time was out of range: the entry is to be left out.
    bool badTime() const { return m_badTime; }

    std::optional<QString> optionalString(const char* name) {
        const QJsonValue value = m_object.value(QLatin1StringView(name));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        if (!value.isString())
            return fail<QString>();
        return value.toString();
    }
    QString requiredString(const char* name) {
        const QJsonValue value = m_object.value(QLatin1StringView(name));
        if (!value.isString())
            return fail<QString>().value_or(QString());
        return value.toString();
    }
    std::optional<double> optionalTime(const char* name) {
        const QJsonValue value = m_object.value(QLatin1StringView(name));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        if (!value.isDouble())
            return fail<double>();
        if (!isWireTime(value.toDouble())) {
            m_badTime = true;
            return std::nullopt;
        }
        return value.toDouble();
    }
    double requiredTime(const char* name) {
        const QJsonValue value = m_object.value(QLatin1StringView(name));
        if (!value.isDouble())
            return fail<double>().value_or(0.0);
        if (!isWireTime(value.toDouble())) {
            m_badTime = true;
            return 0.0;
        }
        return value.toDouble();
    }
    // Whole numbers only; beyond 64 bits they read as the largest one.
    std::optional<qint64> optionalInteger(const char* name) {
        const QJsonValue value = m_object.value(QLatin1StringView(name));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        const double number = value.toDouble();
        if (!value.isDouble() || !std::isfinite(number) || number != std::trunc(number))
            return fail<qint64>();
        // 2^63 is the first double outside qint64.
        constexpr double limit = 9223372036854775808.0;
        if (number >= limit)
            return std::numeric_limits<qint64>::max();
        if (number < -limit)
            return std::numeric_limits<qint64>::min();
        return static_cast<qint64>(number);
    }
    std::optional<bool> optionalBool(const char* name) {
        const QJsonValue value = m_object.value(QLatin1StringView(name));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        if (!value.isBool())
            return fail<bool>();
        return value.toBool();
    }
    std::optional<QStringList> optionalStrings(const char* name) {
        const QJsonValue value = m_object.value(QLatin1StringView(name));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        if (!value.isArray())
            return fail<QStringList>();
        QStringList strings;
        for (const QJsonValue& item : value.toArray()) {
            if (!item.isString())
                return fail<QStringList>();
            strings.append(item.toString());
        }
        return strings;
    }
    template <typename T, typename ReadEntry>
    std::optional<QList<T>> optionalList(const char* name, ReadEntry read) {
        const QJsonValue value = m_object.value(QLatin1StringView(name));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        if (!value.isArray())
            return fail<QList<T>>();
        const QJsonArray array = value.toArray();
        QList<T> entries;
        entries.reserve(array.size());
        for (const QJsonValue& item : array) {
            if (!item.isObject())
                return fail<QList<T>>();
            ObjectReader entry(item.toObject());
            T decoded = read(entry);
            if (!entry.ok())
                return fail<QList<T>>();
            if (!entry.badTime())
                entries.append(std::move(decoded));
        }
        return entries;
    }

private:
    template <typename T> std::optional<T> fail() {
        m_ok = false;
        return std::nullopt;
    }

    QJsonObject m_object;
    bool m_ok = true;
    bool m_badTime = false;
};
} // namespace

SyncMessage SyncMessage::ping() {
    return SyncMessage{};
}

SyncMessage SyncMessage::hello(const QString& deviceId, const QString& deviceName,
                               std::optional<QStringList> capabilities) {
    SyncMessage message;
    message.type = SyncMessageType::hello;
    message.deviceId = deviceId;
    message.deviceName = deviceName;
    message.proto = capabilities ? SyncProtocol::version : SyncProtocol::baseVersion;
    message.capabilities = std::move(capabilities);
    return message;
}

SyncMessage SyncMessage::pair(const QString& deviceId, const QString& deviceName,
                              const QString& deviceKeyBase64) {
    SyncMessage message;
    message.type = SyncMessageType::pair;
    message.deviceId = deviceId;
    message.deviceName = deviceName;
    message.deviceKey = deviceKeyBase64;
    return message;
}

SyncMessage SyncMessage::ack(const QString& clipId) {
    SyncMessage message;
    message.type = SyncMessageType::ack;
    message.id = clipId;
    return message;
}

QByteArray SyncMessage::encode() const {
    QByteArray out;
    ObjectWriter object(out);
    object.string("type", QString(syncMessageTypeName(type)));
    object.string("deviceId", deviceId);
    object.string("deviceName", deviceName);
    object.string("deviceKey", deviceKey);
    object.string("id", id);
    object.string("text", text);
    object.string("originId", originId);
    object.string("originName", originName);
    object.time("createdAt", createdAt);
    object.string("hash", hash);
    object.list("devices", devices, [](ObjectWriter& entry, const SyncDevicePayload& device) {
        entry.string("id", device.id);
        entry.string("name", device.name);
        entry.string("key", device.key);
        entry.string("platform", device.platform);
        entry.time("lastSeen", device.lastSeen);
    });
    object.list("pins", pins, [](ObjectWriter& entry, const SyncPinPayload& pin) {
        entry.string("text", pin.text);
        entry.time("pinnedAt", pin.pinnedAt);
    });
    object.list("unpinned", unpinned, [](ObjectWriter& entry, const SyncUnpinPayload& unpin) {
        entry.string("hash", unpin.hash);
        entry.time("at", unpin.at);
    });
    object.list("clips", clips, [](ObjectWriter& entry, const SyncClipPayload& clip) {
        entry.string("id", clip.id);
        entry.string("text", clip.text);
        entry.time("createdAt", clip.createdAt);
    });
    object.time("since", since);
    object.boolean("more", more);
    object.strings("capabilities", capabilities);
    if (proto)
        appendInt(object.key("protocol"), *proto);
    object.string("to", to);
    object.string("via", via);
    if (seq)
        appendInt(object.key("seq"), *seq);
    object.finish();
    return out;
}

std::optional<SyncMessage> SyncMessage::decode(const QByteArray& json) {
    // The bytes are the JSON text and nothing else; a byte-order mark in
    // front is not something a conforming writer puts there.
    if (json.startsWith("\xEF\xBB\xBF"))
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = Utf8::parseJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue typeValue = object.value(QLatin1StringView("type"));
    if (!typeValue.isString())
        return std::nullopt;
    const std::optional<SyncMessageType> type = syncMessageTypeFromName(typeValue.toString());
    if (!type)
        return std::nullopt;

    ObjectReader reader(object);
    SyncMessage message;
    message.type = *type;
    message.deviceId = reader.optionalString("deviceId");
    message.deviceName = reader.optionalString("deviceName");
    message.proto = reader.optionalInteger("protocol");
    message.deviceKey = reader.optionalString("deviceKey");
    message.id = reader.optionalString("id");
    message.text = reader.optionalString("text");
    message.originId = reader.optionalString("originId");
    message.originName = reader.optionalString("originName");
    message.createdAt = reader.optionalTime("createdAt");
    message.hash = reader.optionalString("hash");
    message.devices = reader.optionalList<SyncDevicePayload>("devices", [](ObjectReader& entry) {
        SyncDevicePayload device;
        device.id = entry.requiredString("id");
        device.name = entry.requiredString("name");
        device.key = entry.requiredString("key");
        device.platform = entry.optionalString("platform");
        device.lastSeen = entry.optionalTime("lastSeen");
        return device;
    });
    message.pins = reader.optionalList<SyncPinPayload>("pins", [](ObjectReader& entry) {
        SyncPinPayload pin;
        pin.text = entry.requiredString("text");
        pin.pinnedAt = entry.requiredTime("pinnedAt");
        return pin;
    });
    message.unpinned = reader.optionalList<SyncUnpinPayload>("unpinned", [](ObjectReader& entry) {
        SyncUnpinPayload unpin;
        unpin.hash = entry.requiredString("hash");
        unpin.at = entry.requiredTime("at");
        return unpin;
    });
    message.clips = reader.optionalList<SyncClipPayload>("clips", [](ObjectReader& entry) {
        SyncClipPayload clip;
        clip.id = entry.requiredString("id");
        clip.text = entry.requiredString("text");
        clip.createdAt = entry.requiredTime("createdAt");
        return clip;
    });
    message.since = reader.optionalTime("since");
    message.more = reader.optionalBool("more");
    message.capabilities = reader.optionalStrings("capabilities");
    message.to = reader.optionalString("to");
    message.via = reader.optionalString("via");
    message.seq = reader.optionalInteger("seq");
    if (!reader.ok())
        return std::nullopt;
    return message;
}

std::expected<QByteArray, SyncCryptoError> SyncMessage::seal(const QByteArray& key) const {
    return SyncCrypto::seal(encode(), key);
}

std::expected<SyncMessage, SyncCryptoError> SyncMessage::open(const QByteArray& sealed,
                                                              const QByteArray& key) {
    const auto plain = SyncCrypto::open(sealed, key);
    if (!plain)
        return std::unexpected(plain.error());
    std::optional<SyncMessage> message = decode(*plain);
    if (!message)
        return std::unexpected(SyncCryptoError::decodingFailed);
    return std::move(*message);
}
