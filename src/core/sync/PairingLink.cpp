#include "core/sync/PairingLink.h"

#include <QUrl>

std::optional<QString> PairingLink::make(const std::optional<QString>& code,
                                         std::optional<quint16> port, const QStringList& hosts,
                                         bool relayEnabled, const QString& relayURL) {
    if (!code || !port || *port == 0)
        return std::nullopt;
    QString link = QStringLiteral("tindrel://pair?code=") + *code + QStringLiteral("&port=") +
                   QString::number(*port) + QStringLiteral("&hosts=") + hosts.join(u',');
    if (relayEnabled && !relayURL.isEmpty()) {
        // toPercentEncoding keeps the unreserved marks by default; encode
        // them too so only ASCII letters and digits stay literal.
        const QByteArray encoded = QUrl::toPercentEncoding(relayURL, {}, "-._~");
        link += QStringLiteral("&relay=") + QString::fromLatin1(encoded);
    }
    return link;
}
