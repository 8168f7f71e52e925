#include "core/sync/SyncPayload.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
std::optional<SyncPayload> payloadOf(const char* json) {
    const std::optional<SyncMessage> message = SyncMessage::decode(QByteArray(json));
    return message ? syncPayloadOf(*message) : std::nullopt;
}
} // namespace

// What each type needs, and nothing of another type's keys gets through.
TEST(SyncPayload, EachTypeKeepsItsOwnFieldsAndNeedsWhatItActsOn) {
    const struct {
        const char* json;
        const char* back; // the payload's own wire form; null: no payload
    } cases[] = {
        {R"({"type":"hello","deviceName":"D"})", nullptr},
        {R"({"type":"hello","deviceId":"A","text":"x"})",
         R"({"type":"hello","deviceId":"A","protocol":1})"},
        {R"({"type":"clip","id":"C"})", nullptr},
        {R"({"type":"clip","text":""})", nullptr},
        {R"({"type":"clip","text":"t","deviceKey":"K","pins":[]})",
         R"({"type":"clip","text":"t"})"},
        {R"({"type":"devices"})", nullptr},
        {R"({"type":"pins"})", R"({"type":"pins","pins":[],"unpinned":[]})"},
        {R"({"type":"clips","since":5})", nullptr},
        {R"({"type":"clips","clips":[],"more":false})", R"({"type":"clips","clips":[]})"},
        {R"({"type":"catch-up","clips":[]})", R"({"type":"catch-up"})"},
        {R"({"type":"pair","text":"no room","hash":"h"})", R"({"type":"pair","text":"no room"})"},
    };
    for (const auto& c : cases) {
        const std::optional<SyncPayload> payload = payloadOf(c.json);
        ASSERT_EQ(payload.has_value(), c.back != nullptr) << c.json;
        if (payload) {
            EXPECT_EQ(syncMessageOf(*payload).encode(), QByteArray(c.back)) << c.json;
        }
    }
}
