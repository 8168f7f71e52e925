#include "core/sync/PairingLink.h"

#include <QUrl>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

std::optional<QString> PairingLink::make(const std::optional<QString>& code,
                                         std::optional<quint16> port, const QStringList& hosts,
                                         bool relayEnabled, const QString& relayURL) {
    if (!code || !port || *port == 0)
        return std::nullopt;
    QString link = u"tindrel://pair?code="_s + *code + u"&port="_s + QString::number(*port) +
                   u"&hosts="_s + hosts.join(u',');
    if (relayEnabled && !relayURL.isEmpty()) {
        // toPercentEncoding keeps the unreserved marks by default; encode
        // them too so only ASCII letters and digits stay literal.
        const QByteArray encoded = QUrl::toPercentEncoding(relayURL, {}, "-._~");
        link += u"&relay="_s + QString::fromLatin1(encoded);
    }
    return link;
}

std::optional<PairingLink::Target> PairingLink::parse(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(u"tindrel", Qt::CaseInsensitive) != 0 ||
        url.host().compare(u"pair", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QUrlQuery query(url);
    Target target;
    target.code = query.queryItemValue(u"code"_s, QUrl::FullyDecoded);
    if (target.code.isEmpty())
        return std::nullopt;
    bool ok = false;
    const uint port = query.queryItemValue(u"port"_s).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    target.port = static_cast<quint16>(port);
    const QString hosts = query.queryItemValue(u"hosts"_s, QUrl::FullyDecoded);
    for (const QString& host : hosts.split(u',', Qt::SkipEmptyParts)) {
        const QHostAddress address(host);
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            return std::nullopt;
        target.hosts.append(address);
    }
    target.relay = query.queryItemValue(u"relay"_s, QUrl::FullyDecoded);
    if (target.hosts.isEmpty() && target.relay.isEmpty())
        return std::nullopt;
    return target;
}
