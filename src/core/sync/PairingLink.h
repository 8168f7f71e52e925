#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The link another computer opens to join a pairing window:
// tindrel://pair?code=CODE&port=PORT&hosts=A,B[&relay=URL]
namespace PairingLink {
// Nothing unless a code is open and the listener has a port. The relay is
// added only when enabled and set; it is percent-encoded down to letters
// and digits so that it cannot add or break keys of the link.
std::optional<QString> make(const std::optional<QString>& code, std::optional<quint16> port,
                            const QStringList& hosts, bool relayEnabled, const QString& relayURL);

// What a pasted link tells a joiner: the code, where the host listens, and
// the relay it also waits on (empty when none).
struct Target {
    QString code;
    quint16 port = 0;
    QList<QHostAddress> hosts;
    QString relay;
};

// Nothing when the text is not such a link, or names no code, no usable
// port, a host that is not an IPv4 address, or nowhere to reach the host.
std::optional<Target> parse(const QString& text);
} // namespace PairingLink
