#include "core/sync/SyncCrypto.h"
#include "core/sync/PairingCode.h"
#include "core/sync/SecureRandom.h"

#include <QList>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
QByteArray hex(const char* digits) {
    return QByteArray::fromHex(QByteArray(digits));
}
QByteArray latin(const char* text) {
    return QByteArray(text);
}
QByteArray keyOf(unsigned char first) {
    QByteArray key(SyncCrypto::keySize, '\0');
    key[0] = static_cast<char>(first);
    return key;
}
} // namespace

// RFC 7914 section 11; the second needs two output blocks and many rounds.
TEST(SyncCryptoPbkdf2, MatchesPublishedVectors) {
    struct Case {
        const char* password;
        const char* salt;
        int rounds;
        const char* derived;
    };
    const Case cases[] = {
        {"passwd", "salt", 1,
         "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
        {"Password", "NaCl", 80000,
         "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
         "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        const auto derived = SyncCrypto::pbkdf2(latin(c.password), latin(c.salt), c.rounds, 64);
        ASSERT_TRUE(derived);
        EXPECT_EQ(derived->toHex(), QByteArray(c.derived));
        // A shorter key is a prefix of the longer one, not a different key.
        EXPECT_EQ(SyncCrypto::pbkdf2(latin(c.password), latin(c.salt), c.rounds, 20),
                  derived->left(20));
    }
    EXPECT_FALSE(SyncCrypto::pbkdf2(latin("p"), latin("s"), 0, 32));
    EXPECT_FALSE(SyncCrypto::pbkdf2(latin("p"), latin("s"), 1, 0));
}

// The GCM test cases 13-16 for 256-bit keys (McGrew and Viega's GCM paper).
TEST(SyncCryptoSeal, MatchesPublishedGcmVectors) {
    const char* k15 = "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308";
    const char* iv15 = "cafebabefacedbaddecaf888";
    const char* p15 = "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                      "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255";
    const char* c15 = "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
                      "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad";
    struct Case {
        int number;
        QByteArray key, nonce, plain, aad, cipher, tag;
    };
    const QByteArray zeroKey(32, '\0');
    const QByteArray zeroNonce(12, '\0');
    const Case cases[] = {
        {13, zeroKey, zeroNonce, {}, {}, {}, hex("530f8afbc74536b9a963b4f1c4cb738b")},
        {14,
         zeroKey,
         zeroNonce,
         QByteArray(16, '\0'),
         {},
         hex("cea7403d4d606b6e074ec5d3baf39d18"),
         hex("d0d1c8a799996bf0265b98b5d48ab919")},
        {15, hex(k15), hex(iv15), hex(p15), {}, hex(c15), hex("b094dac5d93471bdec1a502270e3cc6c")},
        {16, hex(k15), hex(iv15), hex(p15).left(60),
         hex("feedfacedeadbeeffeedfacedeadbeefabaddad2"), hex(c15).left(60),
         hex("76fc6ece0f4e1768cddf8853bb2d551b")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        const auto sealed = SyncCrypto::detail::sealWithNonce(c.plain, c.key, c.nonce, c.aad);
        ASSERT_TRUE(sealed);
        EXPECT_EQ(sealed->toHex(), (c.nonce + c.cipher + c.tag).toHex());
        if (c.aad.isEmpty()) {
            EXPECT_EQ(SyncCrypto::open(*sealed, c.key), c.plain);
        }
    }
}

TEST(SyncCryptoHash, IsLowerHexSha256OfUtf8) {
    struct Case {
        QString text;
        const char* digest;
    };
    const Case cases[] = {
        {QString(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {u"abc"_s, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {u"é"_s, "4a99557e4033c3539de2eb65472017cad5f9557f7a0625a09f1c3f6e2ba69c4c"},
        {u"a😀"_s, "28e66175821bf0ad8d7c8008061930de7daf248c28814ad41a0541449257bcf7"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SyncCrypto::hash(c.text), QLatin1String(c.digest)) << c.text.toStdString();
    EXPECT_NE(SyncCrypto::hash(u"ABC"_s), SyncCrypto::hash(u"abc"_s));
    EXPECT_NE(SyncCrypto::hash(u"abc "_s), SyncCrypto::hash(u"abc"_s));
}

TEST(SyncCryptoSeal, AcceptsExactlyTheLargestFrame) {
    const QByteArray key = keyOf(7);
    const qsizetype largest = SyncCrypto::maxSealedSize - SyncCrypto::sealOverhead;
    ASSERT_EQ(largest, 1048548);

    const QByteArray plain(largest, 'x');
    const auto sealed = SyncCrypto::seal(plain, key);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(sealed->size(), 1048576);
    EXPECT_EQ(SyncCrypto::open(*sealed, key), plain);

    const auto tooLarge = SyncCrypto::seal(plain + 'x', key);
    ASSERT_FALSE(tooLarge);
    EXPECT_EQ(tooLarge.error(), SyncCryptoError::frameTooLarge);
}

TEST(SyncCryptoSeal, FreshNonceEverySealBothOpen) {
    const QByteArray key = keyOf(1);
    const QByteArray plain("{\"type\":\"ping\"}");
    const auto first = SyncCrypto::seal(plain, key);
    const auto second = SyncCrypto::seal(plain, key);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->size(), plain.size() + 28);
    EXPECT_NE(first->left(12), second->left(12));
    EXPECT_EQ(SyncCrypto::open(*first, key), plain);
    EXPECT_EQ(SyncCrypto::open(*second, key), plain);
}

// Buffers are recycled between calls; nothing a caller still holds may change.
TEST(SyncCryptoSeal, ResultsStayIntactWhileCallersHoldThem) {
    const QByteArray key = keyOf(6);
    const QByteArray big(600000, 'b');
    const QByteArray small("small");
    QList<QByteArray> sealed;
    QList<QByteArray> opened;
    for (int round = 0; round < 3; ++round) {
        for (const QByteArray& plain : {big, small, big}) {
            sealed.append(*SyncCrypto::seal(plain, key));
            opened.append(*SyncCrypto::open(sealed.last(), key));
        }
    }
    for (qsizetype i = 0; i < sealed.size(); ++i) {
        const QByteArray& expected = i % 3 == 1 ? small : big;
        EXPECT_EQ(opened[i], expected) << i;
        EXPECT_EQ(SyncCrypto::open(sealed[i], key), expected) << i;
    }
    // Changing a result is the caller's own business.
    QByteArray mine = *SyncCrypto::seal(small, key);
    mine.fill('\0');
    EXPECT_EQ(SyncCrypto::open(*SyncCrypto::seal(small, key), key), small);

    // A small result after a large one does not keep a large allocation.
    sealed.clear();
    opened.clear();
    (void)SyncCrypto::seal(big, key);
    EXPECT_LE(SyncCrypto::seal(small, key)->capacity(), 64 * 1024);
}

TEST(SyncCryptoOpen, RejectsEveryAlterationTruncationAndForeignKey) {
    const QByteArray key = keyOf(2);
    const auto sealed = SyncCrypto::seal(QByteArray("hello, world"), key);
    ASSERT_TRUE(sealed);

    const auto failsToDecrypt = [&](const QByteArray& data, const QByteArray& withKey) {
        const auto opened = SyncCrypto::open(data, withKey);
        return !opened && opened.error() == SyncCryptoError::decryptionFailed;
    };
    for (qsizetype bit = 0; bit < sealed->size() * 8; ++bit) {
        QByteArray flipped = *sealed;
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
        EXPECT_TRUE(failsToDecrypt(flipped, key)) << "bit " << bit;
    }
    for (qsizetype size = 0; size < sealed->size(); ++size)
        EXPECT_TRUE(failsToDecrypt(sealed->left(size), key)) << "size " << size;
    EXPECT_TRUE(failsToDecrypt(QByteArray(27, '\0'), key));
    EXPECT_TRUE(failsToDecrypt(*sealed, keyOf(3)));
    EXPECT_TRUE(failsToDecrypt(*sealed, key.left(16)));
    // The empty message is still authenticated.
    const auto empty = SyncCrypto::seal({}, key);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 28);
    EXPECT_EQ(SyncCrypto::open(*empty, key), QByteArray());
    EXPECT_TRUE(failsToDecrypt(*empty, keyOf(4)));
}

TEST(SyncCryptoKeys, SharedKeyIsOrderFreeAndComparesBytesUnsigned) {
    QByteArray high(32, '\0');
    high[0] = static_cast<char>(0x80);
    QByteArray low(32, '\0');
    low[0] = 0x7f;
    struct Case {
        QByteArray a, b;
        const char* digest; // SHA-256 of the smaller followed by the larger
    };
    const Case cases[] = {
        {high, low, "144a0bc59513b24066f79545d561ac853ffacf8ae2c65abe30c46cbb6ab7217d"},
        {latin("abc"), latin("ab"),
         "dc140e8b13ca3cb919c4277d32faea9a02102e0faa967818cca2967838fba612"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SyncCrypto::sharedKey(c.a, c.b).toHex(), QByteArray(c.digest));
        EXPECT_EQ(SyncCrypto::sharedKey(c.b, c.a).toHex(), QByteArray(c.digest));
    }
    const QByteArray same = keyOf(9);
    EXPECT_EQ(SyncCrypto::sharedKey(same, same).size(), 32);
}

TEST(SyncCryptoKeys, RoomIdsUseTheirOwnLabels) {
    QByteArray key;
    for (char i = 0; i < 32; ++i)
        key.append(i);
    EXPECT_EQ(SyncCrypto::roomId(key),
              QLatin1String("89c2c660e598f9c07379f41dc8046ad0add1806b93f749175533dfe6da82de0c"));
    EXPECT_EQ(SyncCrypto::pairingRoomId(key),
              QLatin1String("412c059b184a5346bb3ee4dd84efbdf6fa40dc75ddb1ae3769ebefb17b7a4bc2"));
}

TEST(SyncCryptoKeys, PairingKeyIgnoresHowTheCodeWasTyped) {
    const QByteArray expected =
        hex("9b105ede660ca097e461423cb6d3ed31117d7e189bce6f9e6e73211497874a01");
    const char* typings[] = {
        "7K0M1NP4Q",   "7K0-M1N-P4Q", "7k0-m1n-p4q",   " 7K0 M1N P4Q ",
        "7KO-MIN-P4Q", "7ko mln p4q", "7K0\tM1N\nP4Q", "7K0UM1NP4Q",
    };
    for (const char* typed : typings)
        EXPECT_EQ(SyncCrypto::pairingKey(QLatin1String(typed)), expected) << typed;
    EXPECT_NE(SyncCrypto::pairingKey(u"7K0M1NP4R"_s), expected);
}

TEST(SyncCryptoKeys, PairingKeyIsDerivedOncePerCode) {
    const auto code = PairingCode::generate(); // never seen before in this process
    ASSERT_TRUE(code);
    const int before = SyncCrypto::detail::pairingKeyDerivations();
    const auto key = SyncCrypto::pairingKey(*code);
    ASSERT_TRUE(key);
    for (const QString& typed :
         {*code, PairingCode::format(*code).toLower(), u' ' + PairingCode::format(*code) + u' '})
        EXPECT_EQ(SyncCrypto::pairingKey(typed), key);
    EXPECT_EQ(SyncCrypto::detail::pairingKeyDerivations() - before, 1);
}

TEST(SyncCryptoKeys, DecodeKeyAcceptsOnlyCanonicalBase64OfThirtyTwoBytes) {
    const QString valid = QString::fromLatin1(keyOf(0xfe).toBase64());
    ASSERT_EQ(valid.size(), 44);
    struct Case {
        QString text;
        bool accepted;
    };
    const Case cases[] = {
        {valid, true},
        {valid.chopped(1), false},                                    // padding missing
        {QString::fromLatin1(QByteArray(31, 'k').toBase64()), false}, // 31 bytes
        {QString::fromLatin1(QByteArray(33, 'k').toBase64()), false}, // 33 bytes
        {QString(43, u'A') + u'=', true},
        {QString(42, u'A') + u"B="_s, false}, // stray bits in the padding
        {QString(43, u'A') + u'!', false},
        {u' ' + valid, false},
        {QString(), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SyncCrypto::decodeKey(c.text).has_value(), c.accepted) << c.text.toStdString();
    EXPECT_EQ(SyncCrypto::decodeKey(valid), keyOf(0xfe));
}

class FailingRandom : public ::testing::Test {
protected:
    void SetUp() override { SecureRandom::setFailingForTesting(true); }
    void TearDown() override { SecureRandom::setFailingForTesting(false); }
};

TEST_F(FailingRandom, NoKeyNoCodeAndNoSealWithoutRandomBytes) {
    EXPECT_FALSE(SyncCrypto::randomKey());
    EXPECT_FALSE(PairingCode::generate());
    const auto sealed = SyncCrypto::seal(QByteArray("x"), keyOf(5));
    ASSERT_FALSE(sealed);
    EXPECT_EQ(sealed.error(), SyncCryptoError::malformed);

    SecureRandom::setFailingForTesting(false);
    const auto key = SyncCrypto::randomKey();
    ASSERT_TRUE(key);
    EXPECT_EQ(key->size(), 32);
    EXPECT_NE(*key, SyncCrypto::randomKey());
}
