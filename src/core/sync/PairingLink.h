#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The link a phone scans to join a pairing window:
// tindrel://pair?code=CODE&port=PORT&hosts=A,B[&relay=URL]
namespace PairingLink {
// Nothing unless a code is open and the listener has a port. The relay is
// added only when enabled and set; it is percent-encoded down to letters
// and digits so that it cannot add or break keys of the link.
std::optional<QString> make(const std::optional<QString>& code, std::optional<quint16> port,
                            const QStringList& hosts, bool relayEnabled, const QString& relayURL);
} // namespace PairingLink
