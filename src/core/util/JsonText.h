#pragma once

#include <QByteArray>

// Writing JSON numbers so that every reader takes them as they are meant
// (reading keeps U+FEFF through Utf8::parseJson).
namespace JsonText {
// A finite number as plain decimal digits, never with an exponent, with as
// many fractional digits as it takes to read back the same double. Not every
// reader takes "1.765e+09" for a number of seconds.
void appendDecimal(QByteArray& out, double value);
QByteArray decimal(double value);
} // namespace JsonText
