#include "core/sync/SyncDevice.h"

#include <gtest/gtest.h>

TEST(SyncDevice, CleanNameRemovesControlsAndCutsBetweenCharacters) {
    const QString e = QStringLiteral("e\u0301"); // one character, two code units
    const QString face = QStringLiteral("😀");    // one character, a surrogate pair
    struct Case {
        const char* name;
        QString in;
        QString out;
    };
    const Case cases[] = {
        {"plain", QStringLiteral("Desk ü"), QStringLiteral("Desk ü")},
        {"controls", QStringLiteral("a\nb\tc\u0000d\u007f\u0085e"), QStringLiteral("abcde")},
        {"bidi overrides", QStringLiteral("evil\u202Etxt.exe\u2066x\u2069"),
         QStringLiteral("eviltxt.exex")},
        {"line separators", QStringLiteral("Phone\u2028Desk\u2029"), QStringLiteral("PhoneDesk")},
        {"100 kept", QString(100, u'x'), QString(100, u'x')},
        {"101 cut", QString(101, u'x'), QString(100, u'x')},
        {"combining marks", e.repeated(120), e.repeated(100)},
        {"surrogate pairs", QStringLiteral("a") + face.repeated(110),
         QStringLiteral("a") + face.repeated(99)},
        {"empty", QString(), QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SyncDevice::cleanName(c.in), c.out) << c.name;
}

TEST(SyncDevice, PayloadTimesCountFrom1970StoredTimesFrom2001) {
    SyncDevice device{QStringLiteral("ID"),         QStringLiteral("N"),     QStringLiteral("K"),
                      Instant::fromReference(5.25), QStringLiteral("linux"), false};
    const SyncDevicePayload entry = device.payload();
    EXPECT_EQ(entry.lastSeen, 978307205.25);
    EXPECT_EQ(entry.platform, QStringLiteral("linux"));

    const SyncDevice back = SyncDevice::fromPayload(entry);
    EXPECT_EQ(back.lastSeen, Instant::fromReference(5.25));
    EXPECT_FALSE(back.enabled); // never taken from another device
    EXPECT_TRUE(back.isEnabled());

    EXPECT_EQ(device.toJson().value(QLatin1String("lastSeen")).toDouble(), 5.25);
    EXPECT_EQ(SyncDevice::fromJson(device.toJson()), device);
}
