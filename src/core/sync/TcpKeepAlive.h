#pragma once

class QAbstractSocket;

// TCP keep-alive for sync connections: a peer that vanishes without closing
// (sleep, cable pulled) is noticed after 30 s idle plus 3 unanswered probes
// 10 s apart, instead of after the system default of two hours.
namespace TcpKeepAlive {
inline constexpr int idleSeconds = 30;
inline constexpr int intervalSeconds = 10;
inline constexpr int probeCount = 3;

// Needs a socket with a descriptor (connected or accepted); false if the
// system refused an option.
bool apply(QAbstractSocket& socket);
} // namespace TcpKeepAlive
