#include "core/util/JsonText.h"

#include <charconv>
#include <cmath>

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
