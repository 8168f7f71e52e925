#include "FrameWatch.h"
#include "RelayClients.h"

#include <gtest/gtest.h>

namespace {

constexpr qint64 kLimit = 1'048'576;
constexpr int kText = 0x1, kBinary = 0x2, kContinue = 0x0, kPing = 0x9;

using Verdict = FrameWatch::Verdict;

// Feeds the stream whole and one byte at a time: a header split across reads
// must be judged the same.
void expectVerdict(const QByteArray& stream, Verdict expected, const char* name) {
    FrameWatch whole(kLimit);
    EXPECT_EQ(whole.feed(stream.constData(), stream.size()), expected) << name;
    FrameWatch bytewise(kLimit);
    Verdict verdict = Verdict::Fine;
    for (qsizetype i = 0; i < stream.size() && verdict == Verdict::Fine; ++i)
        verdict = bytewise.feed(stream.constData() + i, 1);
    EXPECT_EQ(verdict, expected) << name << " (byte by byte)";
}

} // namespace

TEST(FrameWatch, JudgesEachFrameHeader) {
    const QByteArray small(100, 'x');
    QByteArray controlTooLong = clientFrame(kPing, QByteArray(126, 'p'));
    QByteArray reservedBit = clientFrame(kBinary, small);
    reservedBit[0] = static_cast<char>(reservedBit[0] | 0x40);
    const struct {
        const char* name;
        QByteArray stream;
        Verdict verdict;
    } cases[] = {
        {"binary", clientFrame(kBinary, small), Verdict::Fine},
        {"fragments then a ping between them",
         clientFrame(kBinary, small, false) + clientFrame(kPing, "p") +
             clientFrame(kContinue, small),
         Verdict::Fine},
        {"exactly the limit in one frame", clientFrameHeader(kBinary, kLimit), Verdict::Fine},
        {"unmasked", clientFrame(kBinary, small, true, false), Verdict::Unmasked},
        {"unmasked after a good one",
         clientFrame(kBinary, small) + clientFrame(kPing, {}, true, false), Verdict::Unmasked},
        {"one byte over in one frame", clientFrameHeader(kBinary, kLimit + 1), Verdict::TooLarge},
        {"over the limit across fragments",
         clientFrame(kBinary, QByteArray(kLimit / 2, 'a'), false) +
             clientFrameHeader(kContinue, kLimit / 2 + 1),
         Verdict::TooLarge},
        {"a 64-bit length with its top bit",
         QByteArray::fromHex("82ff8000000000000000") + QByteArray(4, '\0'), Verdict::Broken},
        {"continuation of nothing", clientFrame(kContinue, small), Verdict::Broken},
        {"new message inside a fragmented one",
         clientFrame(kBinary, small, false) + clientFrame(kText, small), Verdict::Broken},
        {"reserved opcode", clientFrame(0x3, small), Verdict::Broken},
        {"control frame over 125 bytes", controlTooLong, Verdict::Broken},
        {"fragmented ping", clientFrame(kPing, "p", false), Verdict::Broken},
        {"reserved bit", reservedBit, Verdict::Broken},
    };
    for (const auto& c : cases)
        expectVerdict(c.stream, c.verdict, c.name);
}

TEST(FrameWatch, CountsTheMessageStillArriving) {
    FrameWatch watch(kLimit);
    const QByteArray header = clientFrameHeader(kBinary, 1000);
    ASSERT_EQ(watch.feed(header.constData(), header.size()), Verdict::Fine);
    // Payload passed over unseen counts like payload looked at.
    EXPECT_EQ(watch.skippable(5000), 1000);
    watch.skip(400);
    EXPECT_EQ(watch.heldBytes(), 400);
    watch.skip(600);
    EXPECT_EQ(watch.heldBytes(), 0) << "a whole message is Qt's to deliver, not held";
    EXPECT_EQ(watch.skippable(5000), 0);

    // Fragments already complete wait in a buffer that grows by doubling.
    const QByteArray first = clientFrame(kBinary, QByteArray(300, 'a'), false);
    const QByteArray second = clientFrameHeader(kContinue, 200, true);
    ASSERT_EQ(watch.feed(first.constData(), first.size()), Verdict::Fine);
    ASSERT_EQ(watch.feed(second.constData(), second.size()), Verdict::Fine);
    watch.skip(100);
    EXPECT_EQ(watch.heldBytes(), 2 * 300 + 100);
    watch.skip(100);
    EXPECT_EQ(watch.heldBytes(), 0);

    // Text is decoded as it comes, to twice its size and more.
    const QByteArray text = clientFrameHeader(kText, 50);
    ASSERT_EQ(watch.feed(text.constData(), text.size()), Verdict::Fine);
    watch.skip(10);
    EXPECT_EQ(watch.heldBytes(), 30);
}
