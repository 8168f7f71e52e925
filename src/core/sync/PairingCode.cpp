#include "core/sync/PairingCode.h"

#include "core/sync/SecureRandom.h"

static_assert(PairingCode::alphabet.size() == 32, "byte mod 32 must pick evenly");

std::optional<QString> PairingCode::generate() {
    unsigned char bytes[length];
    if (!SecureRandom::fill(bytes, length))
        return std::nullopt;
    QString code;
    code.reserve(length);
    for (unsigned char b : bytes)
        code.append(QLatin1Char(alphabet[b % alphabet.size()]));
    return code;
}

QString PairingCode::format(const QString& code) {
    if (code.size() != length)
        return code;
    return code.left(3) + u'-' + code.mid(3, 3) + u'-' + code.mid(6);
}

QString PairingCode::normalize(const QString& typed) {
    const QString upper = typed.toUpper();
    QString out;
    out.reserve(upper.size());
    for (QChar c : upper) {
        if (c.isSpace() || c == u'-' || c == u'U')
            continue;
        if (c == u'I' || c == u'L')
            out.append(u'1');
        else if (c == u'O')
            out.append(u'0');
        else
            out.append(c);
    }
    return out;
}
