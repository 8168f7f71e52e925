#pragma once

#include <QByteArray>
#include <QJsonDocument>

// Reading and writing JSON so that what goes in comes out unchanged.
namespace JsonText {
// QJsonDocument::fromJson, except that a U+FEFF at the start of a string
// stays in it: Qt's UTF-8 decoder takes it for a byte-order mark and drops it,
// which changes the text (and so its hash) without a trace. A byte-order
// mark before the document is still skipped.
QJsonDocument parse(const QByteArray& json, QJsonParseError* error = nullptr);

// A finite number as plain decimal digits, never with an exponent, with as
// many fractional digits as it takes to read back the same double. Not every
// reader takes "1.765e+09" for a number of seconds.
void appendDecimal(QByteArray& out, double value);
QByteArray decimal(double value);
} // namespace JsonText
