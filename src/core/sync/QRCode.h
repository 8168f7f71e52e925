#pragma once

#include <QImage>
#include <QString>
#include <optional>

// QR images of pairing links.
namespace QRCode {
// A size x size black-on-white image of the text's UTF-8 bytes at error
// correction level M, modules scaled by nearest neighbour so edges stay
// sharp. Includes the four-module quiet zone scanners need. Nothing when
// the text does not fit a QR code or size is too small for its modules.
std::optional<QImage> image(const QString& text, int size);
} // namespace QRCode
