#include "core/util/Utf8.h"

#include <QJsonParseError>
#include <QStringDecoder>

namespace {
constexpr char kBom[] = "\xEF\xBB\xBF";
} // namespace

QString Utf8::decode(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

QJsonDocument Utf8::parseJson(const QByteArray& json, QJsonParseError* error) {
    // In valid UTF-8 these three bytes are always the character U+FEFF (0xEF
    // is never a continuation byte). Written as the escape \ufeff it means
    // the same to JSON, and Qt's parser keeps an escaped one.
    qsizetype at = json.indexOf(kBom, 1);
    if (at == -1)
        return QJsonDocument::fromJson(json, error);
    QByteArray escaped;
    escaped.reserve(json.size() + 64);
    qsizetype done = 0;
    for (; at != -1; at = json.indexOf(kBom, at + 3)) {
        // After an odd number of backslashes the character is itself being
        // escaped, which JSON does not allow: leave that for the parser to
        // refuse rather than turn it into a valid escaped backslash.
        qsizetype slashes = 0;
        while (at - slashes > 0 && json.at(at - slashes - 1) == '\\')
            ++slashes;
        if (slashes % 2 == 1)
            continue;
        escaped.append(json.constData() + done, at - done);
        escaped.append("\\ufeff");
        done = at + 3;
    }
    escaped.append(json.constData() + done, json.size() - done);
    return QJsonDocument::fromJson(escaped, error);
}

qsizetype Utf8::size(QStringView text) {
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80)
            bytes += 1;
        else if (c < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                 QChar::isLowSurrogate(text[i + 1].unicode())) {
            bytes += 4;
            ++i;
        } else
            bytes += 3;
    }
    return bytes;
}
