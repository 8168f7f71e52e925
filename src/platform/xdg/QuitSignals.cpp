#include "platform/xdg/QuitSignals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr std::array<int, 3> handledSignals = {SIGTERM, SIGINT, SIGHUP};
int pipeFds[2] = {-1, -1};
std::array<struct sigaction, handledSignals.size()> previous{};

extern "C" void onPosixSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // Nothing more is allowed here: one write to the pipe.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[0], &number, 1);
    errno = saved;
}
} // namespace

QuitSignals::QuitSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal)) {
    if (pipeFds[0] != -1 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeFds) != 0)
        return;
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(pipeFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        while (::read(pipeFds[1], &number, 1) == 1)
            if (m_onSignal)
                m_onSignal(number);
    });
    ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);

    struct sigaction action {};
    action.sa_handler = onPosixSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < handledSignals.size(); ++i)
        ::sigaction(handledSignals[i], &action, &previous[i]);
}

QuitSignals::~QuitSignals() {
    if (!m_notifier)
        return;
    for (size_t i = 0; i < handledSignals.size(); ++i)
        ::sigaction(handledSignals[i], &previous[i], nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}
