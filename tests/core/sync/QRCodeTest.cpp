#include "core/sync/QRCode.h"
#include "core/sync/PairingLink.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
// Reads the image back with a real QR decoder.
QString scan(const QImage& image) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("code.png"));
    if (!image.save(file))
        return QStringLiteral("<not saved>");
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), file});
    if (!zbar.waitForFinished(30000) || zbar.exitCode() != 0)
        return QStringLiteral("<no code found>");
    QString text = QString::fromUtf8(zbar.readAllStandardOutput());
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}
} // namespace

TEST(QRCode, ScansBackToThePairingLink) {
    if (QStandardPaths::findExecutable(QStringLiteral("zbarimg")).isEmpty())
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    const QStringList hosts{QStringLiteral("192.168.178.21"), QStringLiteral("10.11.12.13")};
    const QString links[] = {
        *PairingLink::make(QStringLiteral("7K0M1NP4Q"), 54321, hosts, false, {}),
        *PairingLink::make(QStringLiteral("7K0M1NP4Q"), 54321, hosts, true,
                           QStringLiteral("wss://relay.example.org:8443/tindrel")),
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
    const auto image = QRCode::image(QStringLiteral("tindrel://pair?code=X"), 148);
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
    EXPECT_FALSE(QRCode::image(QStringLiteral("x"), 0));
    EXPECT_FALSE(
        QRCode::image(QStringLiteral("tindrel://pair?code=X"), 10)); // below one pixel per module
    EXPECT_FALSE(QRCode::image(QString(4000, u'x'), 1000)); // beyond any QR code at level M
}
