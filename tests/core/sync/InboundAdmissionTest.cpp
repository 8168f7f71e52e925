#include "core/sync/InboundAdmission.h"

#include <gtest/gtest.h>

// Which waiting callers make room for a new one.

using namespace Qt::StringLiterals;

namespace {
QList<QHostAddress> addresses(std::initializer_list<const char*> texts) {
    QList<QHostAddress> out;
    for (const char* text : texts)
        out.append(QHostAddress(QString::fromLatin1(text)));
    return out;
}
} // namespace

TEST(InboundAdmissionTest, EachAddressKeepsItsShareAndTheOldestMakesRoom) {
    const InboundAdmission::Limits limits{4, 2};
    struct Case {
        const char* what;
        QList<QHostAddress> waiting;
        const char* newcomer;
        QList<qsizetype> evicted;
    };
    const Case cases[] = {
        {"room for everyone", addresses({"10.0.0.1", "10.0.0.2"}), "10.0.0.3", {}},
        {"an address over its share loses its own oldest",
         addresses({"10.0.0.1", "10.0.0.2", "10.0.0.1"}),
         "10.0.0.1",
         {0}},
        {"full with others: the oldest of all goes",
         addresses({"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}),
         "10.0.0.5",
         {0}},
        {"full, and over its share: one of its own is enough",
         addresses({"10.0.0.2", "10.0.0.1", "10.0.0.3", "10.0.0.1"}),
         "10.0.0.1",
         {1}},
        {"a mapped IPv4 address is that address",
         addresses({"::ffff:10.0.0.1", "10.0.0.2", "10.0.0.1"}),
         "10.0.0.1",
         {0}},
        {"one IPv6 /64 is one address",
         addresses({"2001:db8::1", "2001:db8::2:1"}),
         "2001:db8::3",
         {0}},
        {"another /64 is another address",
         addresses({"2001:db8::1", "2001:db8::2:1"}),
         "2001:db8:0:1::1",
         {}},
        {"shrunk limits: as many go as needed",
         addresses({"10.0.0.1", "10.0.0.1", "10.0.0.1", "10.0.0.2", "10.0.0.3"}),
         "10.0.0.1",
         {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(InboundAdmission::evictions(
                      c.waiting, QHostAddress(QString::fromLatin1(c.newcomer)), limits),
                  c.evicted);
    }
}
