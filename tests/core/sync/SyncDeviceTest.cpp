#include "core/sync/SyncDevice.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(SyncDevice, CleanNameRemovesControlsAndCutsBetweenCharacters) {
    const QString e = u"e\u0301"_s; // one character, two code units
    const QString face = u"😀"_s;    // one character, a surrogate pair
    struct Case {
        const char* name;
        QString in;
        QString out;
    };
    const Case cases[] = {
        {"plain", u"Desk ü"_s, u"Desk ü"_s},
        {"controls", u"a\nb\tc\u0000d\u007f\u0085e"_s, u"abcde"_s},
        {"bidi overrides", u"evil\u202Etxt.exe\u2066x\u2069"_s, u"eviltxt.exex"_s},
        {"line separators", u"Phone\u2028Desk\u2029"_s, u"PhoneDesk"_s},
        {"100 kept", QString(100, u'x'), QString(100, u'x')},
        {"101 cut", QString(101, u'x'), QString(100, u'x')},
        {"combining marks", e.repeated(120), e.repeated(100)},
        {"surrogate pairs", u"a"_s + face.repeated(110), u"a"_s + face.repeated(99)},
        {"empty", QString(), QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SyncDevice::cleanName(c.in), c.out) << c.name;
}

TEST(SyncDevice, PayloadTimesCountFrom1970StoredTimesFrom2001) {
    SyncDevice device{u"ID"_s, u"N"_s, u"K"_s, Instant::fromReference(5.25), u"linux"_s, false};
    const SyncDevicePayload entry = device.payload();
    EXPECT_EQ(entry.lastSeen, 978307205.25);
    EXPECT_EQ(entry.platform, u"linux"_s);

    const SyncDevice back = SyncDevice::fromPayload(entry);
    EXPECT_EQ(back.lastSeen, Instant::fromReference(5.25));
    EXPECT_FALSE(back.enabled); // never taken from another device
    EXPECT_TRUE(back.isEnabled());

    EXPECT_EQ(device.toJson().value(QLatin1String("lastSeen")).toDouble(), 5.25);
    EXPECT_EQ(SyncDevice::fromJson(device.toJson()), device);
}
