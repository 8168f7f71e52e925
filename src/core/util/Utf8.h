#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonDocument>
#include <QString>
#include <QStringView>

class QJsonParseError;

// UTF-8 bytes to text, keeping every character. Qt's own decoding drops a
// U+FEFF at the start of a text as if it were a byte-order mark, both in
// QString::fromUtf8 and inside JSON strings; a clip that starts with one
// would then change on its way through the store or to a peer.
namespace Utf8 {
// Like QString::fromUtf8 (invalid sequences become U+FFFD), but a leading
// U+FEFF stays.
QString decode(QByteArrayView bytes);
// Like QJsonDocument::fromJson, but strings that start with U+FEFF keep it.
// A byte-order mark before the document itself is still skipped.
QJsonDocument parseJson(const QByteArray& json, QJsonParseError* error = nullptr);
// The bytes a text takes as UTF-8, without building them; a lone surrogate
// counts as the three bytes of U+FFFD it becomes.
qsizetype size(QStringView text);
} // namespace Utf8
