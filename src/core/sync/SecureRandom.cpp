#include "core/sync/SecureRandom.h"

#include <atomic>
#include <climits>
#include <openssl/rand.h>

namespace {
std::atomic<bool> failing{false};
}

bool SecureRandom::fill(unsigned char* out, qsizetype size) {
    if (size < 0 || size > INT_MAX || failing.load(std::memory_order_relaxed))
        return false;
    if (size == 0)
        return true;
    return RAND_bytes(out, static_cast<int>(size)) == 1;
}

std::optional<QByteArray> SecureRandom::bytes(qsizetype size) {
    QByteArray out(size, Qt::Uninitialized);
    if (!fill(reinterpret_cast<unsigned char*>(out.data()), size))
        return std::nullopt;
    return out;
}

void SecureRandom::setFailingForTesting(bool value) {
    failing.store(value, std::memory_order_relaxed);
}
