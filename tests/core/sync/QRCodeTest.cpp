#include "core/sync/QRCode.h"
#include "core/sync/PairingLink.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {
// Reads the image back with a real QR decoder.
QString scan(const QImage& image) {
    QTemporaryDir dir;
    const QString file = dir.filePath(u"code.png"_s);
    if (!image.save(file))
        return u"<not saved>"_s;
    QProcess zbar;
    zbar.start(u"zbarimg"_s, {u"--raw"_s, u"-q"_s, file});
    if (!zbar.waitForFinished(30000) || zbar.exitCode() != 0)
        return u"<no code found>"_s;
    QString text = QString::fromUtf8(zbar.readAllStandardOutput());
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}
} // namespace

TEST(QRCode, ScansBackToThePairingLink) {
    if (QStandardPaths::findExecutable(u"zbarimg"_s).isEmpty())
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    const QStringList hosts{u"192.168.178.21"_s, u"10.11.12.13"_s};
    const QString links[] = {
        *PairingLink::make(u"7K0M1NP4Q"_s, 54321, hosts, false, {}),
        *PairingLink::make(u"7K0M1NP4Q"_s, 54321, hosts, true,
                           u"wss://relay.example.org:8443/tindrel"_s),
    };
    for (const QString& link : links) {
        for (int size : {148, 296}) {
            const auto image = QRCode::image(link, size);
            ASSERT_TRUE(image) << size;
            EXPECT_EQ(image->size(), QSize(size, size));
            EXPECT_EQ(scan(*image), link) << size;
        }
    }
}

TEST(QRCode, OnlyCrispBlackAndWhiteWithAQuietBorder) {
    const auto image = QRCode::image(u"tindrel://pair?code=X"_s, 148);
    ASSERT_TRUE(image);
    bool sawDark = false;
    for (int y = 0; y < image->height(); ++y) {
        for (int x = 0; x < image->width(); ++x) {
            const int gray = qGray(image->pixel(x, y));
            ASSERT_TRUE(gray == 0 || gray == 255) << x << "," << y;
            sawDark = sawDark || gray == 0;
        }
    }
    EXPECT_TRUE(sawDark);
    for (int i = 0; i < image->width(); ++i) {
        EXPECT_EQ(qGray(image->pixel(i, 0)), 255);
        EXPECT_EQ(qGray(image->pixel(0, i)), 255);
        EXPECT_EQ(qGray(image->pixel(i, image->height() - 1)), 255);
    }
}

TEST(QRCode, NothingWhenNoImageCanBeMade) {
    EXPECT_FALSE(QRCode::image(QString(), 148));
    EXPECT_FALSE(QRCode::image(u"x"_s, 0));
    EXPECT_FALSE(QRCode::image(u"tindrel://pair?code=X"_s, 10)); // below one pixel per module
    EXPECT_FALSE(QRCode::image(QString(4000, u'x'), 1000));      // beyond any QR code at level M
}
