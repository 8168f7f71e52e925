#pragma once

#include <csignal>
#include <sys/resource.h>

// Makes every write of this process past `bytes` into a file fail as on a
// full disk (with "File too large" instead of the signal that would end the
// process), without needing root to mount a small file system. Lifted again
// when it goes, so the next test writes as usual.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &m_oldAction);
        getrlimit(RLIMIT_FSIZE, &m_oldLimit);
        const rlimit limited{bytes, m_oldLimit.rlim_max};
        m_active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_oldLimit);
        sigaction(SIGXFSZ, &m_oldAction, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return m_active; }

private:
    struct sigaction m_oldAction {};
    rlimit m_oldLimit{};
    bool m_active = false;
};
