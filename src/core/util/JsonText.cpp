#include "core/util/JsonText.h"

#include <charconv>
#include <cmath>

namespace {
constexpr char kBom[] = "\xEF\xBB\xBF";
} // namespace

QJsonDocument JsonText::parse(const QByteArray& json, QJsonParseError* error) {
    // Outside a string a U+FEFF is not JSON; inside one, the escape means the
    // same character and Qt keeps it.
    const qsizetype from = json.startsWith(kBom) ? 3 : 0;
    if (json.indexOf(kBom, from) < 0)
        return QJsonDocument::fromJson(json, error);
    QByteArray escaped = json.mid(from);
    escaped.replace(QByteArrayView(kBom), QByteArrayView("\\ufeff"));
    return QJsonDocument::fromJson(escaped, error);
}

void JsonText::appendDecimal(QByteArray& out, double value) {
    if (!std::isfinite(value))
        value = 0.0;
    // The longest fixed form of a double is about 330 characters (5e-324).
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    out.append(buffer, result.ptr - buffer);
}

QByteArray JsonText::decimal(double value) {
    QByteArray out;
    appendDecimal(out, value);
    return out;
}
