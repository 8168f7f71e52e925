#pragma once

#include <QObject>
#include <chrono>

class QSocketNotifier;
class QTcpSocket;

// Closes a connection the way a careful server does after telling a client
// why (a close frame, an HTTP status): once our last bytes are out, send FIN,
// then read and discard what the client is still sending until it closes too
// or a short grace runs out. Closing outright while its data keeps coming
// makes the kernel answer with a reset, and a reset can destroy our answer
// before the client has read it.
//
// Qt closes its descriptor when it is done with the socket; we keep our own
// duplicate of it so the connection outlives that.
class LingeringClose : public QObject {
    Q_OBJECT
public:
    // Takes over `socket`'s connection once Qt has finished writing to it and
    // closes it. Returns false (and does nothing) when too many are lingering
    // already or the descriptor cannot be duplicated; Qt's close then stands.
    static bool begin(QTcpSocket* socket, QObject* owner, std::chrono::milliseconds grace);
    static int lingering() { return s_count; }
    // Lingering connections at most; each holds a descriptor for the grace.
    static constexpr int kMaxLingering = 256;

    ~LingeringClose() override;

private:
    LingeringClose(int fd, QObject* owner, std::chrono::milliseconds grace);
    void start();
    void drain();
    void finish();

    int m_fd = -1;
    std::chrono::milliseconds m_grace{0};
    bool m_started = false;
    qint64 m_discarded = 0;
    QSocketNotifier* m_notifier = nullptr;
    static inline int s_count = 0;
};
