// Linked into every test of the Tsan build only (see tindrel_add_test).
//
// QProcess starts a program with clone(CLONE_VM | CLONE_VFORK): the child
// runs on the parent's memory, and on the parent thread's thread-local state,
// until it execs. The ThreadSanitizer runtime of GCC 12 handles every clone()
// as a fork and runs its after-fork bookkeeping in the child, on that shared
// state: afterwards it misses the locks the parent thread takes (threads
// started later race with it on everything those locks guard, the sync log's
// queue first) or kills the next thread start as one after a multithreaded
// fork. Such a child only execs, so it goes straight to the C library; any
// other clone still goes through TSan.

#include <cstdarg>
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

extern "C" int __clone(int (*fn)(void*), void* stack, int flags, void* arg, ...);

extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
    va_list more;
    va_start(more, arg);
    pid_t* parentTid = va_arg(more, pid_t*);
    void* tls = va_arg(more, void*);
    pid_t* childTid = va_arg(more, pid_t*);
    va_end(more);
    constexpr int vforkLike = CLONE_VM | CLONE_VFORK;
    if ((flags & vforkLike) == vforkLike)
        return __clone(fn, stack, flags, arg, parentTid, tls, childTid);
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto intercepted = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    return intercepted(fn, stack, flags, arg, parentTid, tls, childTid);
}
