#include "core/sync/SyncMessage.h"
#include "core/sync/SyncCrypto.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <limits>

using namespace Qt::StringLiterals;

namespace {
SyncMessage everyField() {
    SyncMessage m;
    m.type = SyncMessageType::clip;
    m.deviceId = u"D1"_s;
    m.deviceName = u"Desk"_s;
    m.proto = 3;
    m.deviceKey = u"K"_s;
    m.id = u"C1"_s;
    m.text = u"t"_s;
    m.originId = u"O1"_s;
    m.originName = u"Laptop"_s;
    m.createdAt = 1.5;
    m.hash = u"h"_s;
    m.devices = QList<SyncDevicePayload>{
        {u"P1"_s, u"Phone"_s, u"k1"_s, u"linux"_s, 2.25},
        {u"P2"_s, u"Tab"_s, u"k2"_s, std::nullopt, std::nullopt},
    };
    m.pins = QList<SyncPinPayload>{{u"pin"_s, 3.0}};
    m.unpinned = QList<SyncUnpinPayload>{{u"u"_s, 4.0}};
    return m;
}

// The messages protocol 4 added, as a device that speaks it sends them.
SyncMessage catchUpFrom(double since) {
    SyncMessage m;
    m.type = SyncMessageType::catchUp;
    m.since = since;
    return m;
}

SyncMessage stampedAck() {
    SyncMessage m = SyncMessage::ack(u"C"_s);
    m.to = u"B"_s;
    m.via = u"relay"_s;
    m.seq = 1700000000123;
    return m;
}

SyncMessage clipsPart(QList<SyncClipPayload> clips, std::optional<bool> more) {
    SyncMessage m;
    m.type = SyncMessageType::clips;
    m.clips = std::move(clips);
    m.more = more;
    return m;
}

QByteArray keyOf(char first) {
    QByteArray key(32, '\0');
    key[0] = first;
    return key;
}
} // namespace

TEST(SyncMessageEncode, WritesOnlyPresentKeysInTheAgreedOrder) {
    struct Case {
        const char* name;
        SyncMessage message;
        const char* json;
    };
    const Case cases[] = {
        {"ping", SyncMessage::ping(), R"({"type":"ping"})"},
        {"hello", SyncMessage::hello(u"A"_s, u"Desk"_s),
         R"({"type":"hello","deviceId":"A","deviceName":"Desk","protocol":3})"},
        {"ack", SyncMessage::ack(u"C"_s), R"({"type":"ack","id":"C"})"},
        {"protocol-4 hello", SyncMessage::hello(u"A"_s, u"Desk"_s, QStringList{u"catch-up"_s}),
         R"({"type":"hello","deviceId":"A","deviceName":"Desk","capabilities":["catch-up"],)"
         R"("protocol":4})"},
        {"catch-up", catchUpFrom(1700000000.5), R"({"type":"catch-up","since":1700000000.5})"},
        {"clips", clipsPart({{u"C"_s, u"t"_s, 1.5}}, true),
         R"({"type":"clips","clips":[{"id":"C","text":"t","createdAt":1.5}],"more":true})"},
        {"stamped", stampedAck(),
         R"({"type":"ack","id":"C","to":"B","via":"relay","seq":1700000000123})"},
        {"every field", everyField(),
         R"({"type":"clip","deviceId":"D1","deviceName":"Desk","deviceKey":"K","id":"C1",)"
         R"("text":"t","originId":"O1","originName":"Laptop","createdAt":1.5,"hash":"h",)"
         R"("devices":[{"id":"P1","name":"Phone","key":"k1","platform":"linux","lastSeen":2.25},)"
         R"({"id":"P2","name":"Tab","key":"k2"}],"pins":[{"text":"pin","pinnedAt":3}],)"
         R"("unpinned":[{"hash":"u","at":4}],"protocol":3})"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.message.encode(), QByteArray(c.json)) << c.name;
}

TEST(SyncMessageEncode, EscapesTextThatAnyJsonReaderRestores) {
    const QString texts[] = {
        u"quote \" backslash \\ slash /"_s,
        u"lines\n\r\ttab\b\f"_s,
        QString(QChar(0)) + QChar(1) + QChar(0x1f) + QChar(0x7f),
        u"é 漢字 😀 \u2028"_s,
        // Halves of a pair on their own, which UTF-8 cannot hold.
        u"a"_s + QChar(0xd800) + u"b"_s + QChar(0xdfff),
        QString(QChar(0xdc00)) + u"😀"_s + QChar(0xd83d),
    };
    for (const QString& text : texts) {
        SyncMessage m;
        m.type = SyncMessageType::clip;
        m.text = text;
        const QByteArray json = m.encode();
        // Qt's reader stands in for the other side's.
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(json, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << json.constData();
        EXPECT_EQ(document[QLatin1String("text")].toString(), text);
        EXPECT_EQ(SyncMessage::decode(json), m);
    }
}

TEST(SyncMessageDecode, RoundTripsEveryTypeAndExactDoubles) {
    for (SyncMessageType type : {SyncMessageType::hello, SyncMessageType::pair,
                                 SyncMessageType::clip, SyncMessageType::ack, SyncMessageType::ping,
                                 SyncMessageType::devices, SyncMessageType::pins}) {
        SyncMessage m = everyField();
        m.type = type;
        EXPECT_EQ(SyncMessage::decode(m.encode()), m) << m.encode().constData();
    }
    for (const SyncMessage& m :
         {catchUpFrom(1.25), clipsPart({}, std::nullopt),
          clipsPart({{u"A"_s, u"one\ntwo"_s, 2.5}, {u"B"_s, u"\u00e9"_s, 3.0}}, false),
          SyncMessage::hello(u"A"_s, u"D"_s, QStringList{u"catch-up"_s, u"later"_s}), stampedAck()})
        EXPECT_EQ(SyncMessage::decode(m.encode()), m) << m.encode().constData();
    const double times[] = {0.0,
                            5e-324,
                            0.1,
                            1700000000.123456789,
                            1733412345.6789012,
                            978307200.0000001,
                            99999999999.99998,
                            1e11};
    for (double t : times) {
        SyncMessage m = everyField();
        m.createdAt = t;
        (*m.pins)[0].pinnedAt = t;
        (*m.unpinned)[0].at = t;
        (*m.devices)[0].lastSeen = t;
        const auto back = SyncMessage::decode(m.encode());
        ASSERT_TRUE(back) << m.encode().constData();
        EXPECT_EQ(back->createdAt, t);
        EXPECT_EQ(back->pins->at(0).pinnedAt, t);
        EXPECT_EQ(back->unpinned->at(0).at, t);
        EXPECT_EQ(back->devices->at(0).lastSeen, t);
    }
}

TEST(SyncMessageEncode, SendsOnlyTimesTheReceiverAccepts) {
    // A time out of range would make the whole snapshot unreadable on the
    // other side; it goes out as the nearest time that is not.
    const struct {
        double stored, sent;
    } cases[] = {
        {-5.0, 0.0},
        {1e11 + 0.001, 1e11},
        {1e300, 1e11},
        {std::numeric_limits<double>::infinity(), 1e11},
        {-std::numeric_limits<double>::infinity(), 0.0},
        {std::numeric_limits<double>::quiet_NaN(), 0.0},
    };
    for (const auto& c : cases) {
        SyncMessage m = everyField();
        m.createdAt = c.stored;
        (*m.pins)[0].pinnedAt = c.stored;
        (*m.unpinned)[0].at = c.stored;
        (*m.devices)[0].lastSeen = c.stored;
        const auto back = SyncMessage::decode(m.encode());
        ASSERT_TRUE(back) << m.encode().constData();
        EXPECT_EQ(back->createdAt, c.sent);
        EXPECT_EQ(back->pins->at(0).pinnedAt, c.sent);
        EXPECT_EQ(back->unpinned->at(0).at, c.sent);
        EXPECT_EQ(back->devices->at(0).lastSeen, c.sent);
    }
}

TEST(SyncMessageDecode, ReadsWhatOtherWritersSend) {
    struct Case {
        const char* json;
        SyncMessage expected;
    };
    SyncMessage oldHello;
    oldHello.type = SyncMessageType::hello;
    oldHello.deviceId = u"A"_s;
    SyncMessage pins;
    pins.type = SyncMessageType::pins;
    pins.pins = QList<SyncPinPayload>{{u"x/y"_s, 12.5}};
    pins.unpinned = QList<SyncUnpinPayload>{};
    SyncMessage roster;
    roster.type = SyncMessageType::devices;
    roster.devices = QList<SyncDevicePayload>{{u"P"_s, u"N"_s, u"K"_s, std::nullopt, 7.0}};
    SyncMessage clip;
    clip.type = SyncMessageType::clip;
    clip.text = u"é😀"_s;
    clip.createdAt = 1700000000.25;
    const Case cases[] = {
        // A hello from a version-1 peer carries no protocol.
        {R"({"deviceId":"A","type":"hello"})", oldHello},
        {R"({"type":"hello","deviceId":"A","protocol":null,"future":{"x":[1]}})", oldHello},
        {R"({"unpinned":[],"pins":[{"pinnedAt":12.5,"text":"x\/y","extra":true}],"type":"pins"})",
         pins},
        {R"({"type":"devices","devices":[{"id":"P","name":"N","key":"K","platform":null,"lastSeen":7}]})",
         roster},
        {R"({"type":"clip","text":"\u00e9\ud83d\ude00","createdAt":1.70000000025e9,"hash":null})",
         clip},
        {" \n{\"type\":\"ping\"}\n", SyncMessage::ping()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SyncMessage::decode(QByteArray(c.json)), c.expected) << c.json;
}

TEST(SyncMessageDecode, AnyFaultFailsTheWholeMessage) {
    const char* cases[] = {
        "",
        "not json",
        R"(["type","ping"])",
        R"({"type":"ping"} trailing)",
        R"({"deviceId":"A"})",
        R"({"type":null})",
        R"({"type":"bye","deviceId":"A"})",
        R"({"type":"Ping"})",
        R"({"type":3})",
        R"({"type":"clip","text":5})",
        R"({"type":"clip","id":["C"]})",
        R"({"type":"hello","protocol":"3"})",
        R"({"type":"hello","protocol":3.5})",
        R"({"type":"clip","createdAt":"1700000000"})",
        R"({"type":"devices","devices":{}})",
        R"({"type":"devices","devices":[{"id":"P","name":"N"}]})",
        R"({"type":"devices","devices":[{"id":"P","name":"N","key":null}]})",
        R"({"type":"devices","devices":[{"id":"P","name":"N","key":"K","platform":1}]})",
        R"({"type":"devices","devices":[{"id":"P","name":"N","key":"K","lastSeen":"now"}]})",
        R"({"type":"devices","devices":["P"]})",
        R"({"type":"pins","pins":[{"text":"x"}]})",
        R"({"type":"pins","pins":[{"pinnedAt":1}]})",
        R"({"type":"pins","pins":[{"text":"x","pinnedAt":1}],"unpinned":[{"hash":"h","at":"1"}]})",
        "{\"type\":\"clip\",\"text\":\"\xff\xfe\"}",
        R"({"type":"hello","capabilities":"catch-up"})",
        R"({"type":"hello","capabilities":[1]})",
        R"({"type":"catch-up","since":"yesterday"})",
        R"({"type":"clips","clips":[{"id":"C","text":"t"}]})",
        R"({"type":"clips","clips":[{"text":"t","createdAt":1}]})",
        R"({"type":"clips","clips":[],"more":"yes"})",
        R"({"type":"ack","id":"C","seq":"1"})",
        R"({"type":"ack","id":"C","seq":1.5})",
        R"({"type":"ack","id":"C","to":7})",
    };
    for (const char* json : cases)
        EXPECT_FALSE(SyncMessage::decode(QByteArray(json))) << json;
}

TEST(SyncMessageDecode, ATimeNoDeviceProducesCostsOnlyTheEntryCarryingIt) {
    // One peer with a broken clock must not make every message it sends
    // unreadable (which would also end a paired connection).
    SyncMessage clip;
    clip.type = SyncMessageType::clip;
    clip.text = u"kept"_s;
    SyncMessage pins;
    pins.type = SyncMessageType::pins;
    pins.pins = QList<SyncPinPayload>{{u"good"_s, 5.0}};
    pins.unpinned = QList<SyncUnpinPayload>{{u"g"_s, 6.0}};
    SyncMessage roster;
    roster.type = SyncMessageType::devices;
    roster.devices = QList<SyncDevicePayload>{{u"Q"_s, u"N"_s, u"K"_s, std::nullopt, 7.0}};
    const struct {
        const char* json;
        SyncMessage expected;
    } cases[] = {
        {R"({"type":"clip","text":"kept","createdAt":-1})", clip},
        {R"({"type":"clip","text":"kept","createdAt":100000000000.1})", clip},
        {R"({"type":"clip","text":"kept","createdAt":1e300})", clip},
        {R"({"type":"pins","pins":[{"text":"bad","pinnedAt":1e300},{"text":"good","pinnedAt":5}],)"
         R"("unpinned":[{"hash":"b","at":-0.5},{"hash":"g","at":6}]})",
         pins},
        {R"({"type":"devices","devices":[{"id":"P","name":"N","key":"K","lastSeen":-3},)"
         R"({"id":"Q","name":"N","key":"K","lastSeen":7}]})",
         roster},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SyncMessage::decode(QByteArray(c.json)), c.expected) << c.json;

    // A protocol beyond 32 bits is a large version, not a broken hello.
    SyncMessage hello;
    hello.type = SyncMessageType::hello;
    hello.proto = 1'000'000'000'000;
    EXPECT_EQ(SyncMessage::decode(R"({"type":"hello","protocol":1e12})"), hello);
    hello.proto = std::numeric_limits<qint64>::max();
    EXPECT_EQ(SyncMessage::decode(R"({"type":"hello","protocol":1e30})"), hello);
    EXPECT_EQ(SyncMessage::decode(hello.encode()), hello);
}

TEST(SyncMessageDecode, KeepsALeadingByteOrderMarkInEveryText) {
    const QString bom(QChar(0xfeff));
    SyncMessage m;
    m.type = SyncMessageType::pins;
    m.text = bom + u"clip"_s;
    m.hash = SyncCrypto::hash(*m.text);
    m.pins = QList<SyncPinPayload>{{bom, 1.0}, {bom + bom + u"x\n"_s, 2.0}};
    m.unpinned = QList<SyncUnpinPayload>{};
    // Raw in the UTF-8, as we and other writers send it.
    ASSERT_TRUE(m.encode().contains("\"text\":\"\xEF\xBB\xBF"));
    const auto back = SyncMessage::decode(m.encode());
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, m);
    EXPECT_EQ(SyncCrypto::hash(*back->text), *m.hash);
    // One before the document is no part of the message format: refused,
    // not skipped.
    EXPECT_FALSE(SyncMessage::decode("\xEF\xBB\xBF" + m.encode()));
    EXPECT_FALSE(SyncMessage::decode("\xEF\xBB\xBF{\"type\":\"ping\"}"));
}

TEST(SyncMessageEncode, WritesTimesAsPlainDecimals) {
    const struct {
        double time;
        const char* json;
    } cases[] = {
        {1765000000.0, "1765000000"},
        {1700000000.25, "1700000000.25"},
        {1e11, "100000000000"},
        {0.000001, "0.000001"},
        {0.0, "0"},
    };
    for (const auto& c : cases) {
        SyncMessage m;
        m.type = SyncMessageType::clip;
        m.createdAt = c.time;
        EXPECT_EQ(m.encode(), QByteArray(R"({"type":"clip","createdAt":)") + c.json + '}');
    }
}

TEST(SyncMessageSeal, FillsTheLargestFrameExactly) {
    const QByteArray key = keyOf(1);
    SyncMessage m;
    m.type = SyncMessageType::clip;
    m.text = QString();
    const qsizetype overhead = m.encode().size();
    m.text = QString(1048548 - overhead, u'a');
    ASSERT_EQ(m.encode().size(), 1048548);

    const auto sealed = m.seal(key);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(sealed->size(), 1048576);
    EXPECT_EQ(SyncMessage::open(*sealed, key), m);

    m.text->append(u'a');
    const auto tooLarge = m.seal(key);
    ASSERT_FALSE(tooLarge);
    EXPECT_EQ(tooLarge.error(), SyncCryptoError::frameTooLarge);
}

TEST(SyncMessageSeal, OpenTellsUnreadableFromUndecryptable) {
    const QByteArray key = keyOf(2);
    const auto unknownType = SyncCrypto::seal(QByteArray(R"({"type":"bye"})"), key);
    ASSERT_TRUE(unknownType);
    const auto undecodable = SyncMessage::open(*unknownType, key);
    ASSERT_FALSE(undecodable);
    EXPECT_EQ(undecodable.error(), SyncCryptoError::decodingFailed);

    const auto sealed = SyncMessage::ping().seal(key);
    ASSERT_TRUE(sealed);
    const auto wrongKey = SyncMessage::open(*sealed, keyOf(3));
    ASSERT_FALSE(wrongKey);
    EXPECT_EQ(wrongKey.error(), SyncCryptoError::decryptionFailed);
    EXPECT_EQ(SyncMessage::open(*sealed, key), SyncMessage::ping());
}
