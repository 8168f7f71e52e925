#include "core/sync/QRCode.h"

#include <memory>
#include <qrencode.h>

namespace {
constexpr int quietZone = 4;

struct QRcodeFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};
} // namespace

std::optional<QImage> QRCode::image(const QString& text, int size) {
    const QByteArray data = text.toUtf8();
    if (size <= 0 || data.isEmpty())
        return std::nullopt;
    const std::unique_ptr<QRcode, QRcodeFree> code(QRcode_encodeData(
        static_cast<int>(data.size()), reinterpret_cast<const unsigned char*>(data.constData()), 0,
        QR_ECLEVEL_M));
    if (!code || code->width <= 0)
        return std::nullopt;
    const int modules = code->width + 2 * quietZone;
    if (size < modules)
        return std::nullopt;

    QImage image(size, size, QImage::Format_Grayscale8);
    if (image.isNull())
        return std::nullopt;
    for (int y = 0; y < size; ++y) {
        uchar* row = image.scanLine(y);
        const int my = y * modules / size - quietZone;
        for (int x = 0; x < size; ++x) {
            const int mx = x * modules / size - quietZone;
            const bool inside = mx >= 0 && my >= 0 && mx < code->width && my < code->width;
            // Bit 0 of each module byte is "dark".
            const bool dark = inside && (code->data[my * code->width + mx] & 1);
            row[x] = dark ? 0 : 255;
        }
    }
    return image;
}
