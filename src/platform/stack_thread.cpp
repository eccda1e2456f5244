#include "platform/stack_thread.h"

#include <csignal>
#include <cstdint>
#include <exception>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Below the stack, so that running past it faults there: large enough that
// no single frame of a library steps over it.
constexpr size_t guardBytes = size_t(1) << 20;
// The signal handler's own stack, for when the thread's is used up.
constexpr size_t signalStackBytes = size_t(1) << 16;

// What the fault handler needs: set before the thread starts, cleared after
// it is joined.
uintptr_t guardLow = 0, guardHigh = 0;
const char* overflowText = nullptr;
size_t overflowLength = 0;
struct sigaction previousSegv, previousBus;

struct ThreadWork {
    const std::function<void()>* work;
    std::exception_ptr thrown;
};

// A fault in the guard is the work's stack running out: say so in one line
// and end here. Any other fault goes to whoever handled it before.
void onFault(int signal, siginfo_t* info, void*) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
    if (at >= guardLow && at < guardHigh) {
        ssize_t written = write(STDERR_FILENO, overflowText, overflowLength);
        (void)written;
        _exit(1);
    }
    sigaction(signal, signal == SIGSEGV ? &previousSegv : &previousBus, nullptr);
}

void* runWork(void* argument) {
    ThreadWork& task = *static_cast<ThreadWork*>(argument);
    // The fault handler needs a stack of its own to run when this one is
    // used up. A runtime that gives every thread one (the address checker
    // does) keeps it; otherwise the thread gets one, taken down before the
    // thread ends so that no one else frees it.
    stack_t existing{};
    sigaltstack(nullptr, &existing);
    void* own = nullptr;
    if (existing.ss_flags & SS_DISABLE) {
        own = mmap(nullptr, signalStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
        if (own != MAP_FAILED) {
            stack_t mine{};
            mine.ss_sp = own;
            mine.ss_size = signalStackBytes;
            sigaltstack(&mine, nullptr);
        }
    }
    try {
        (*task.work)();
    } catch (...) {
        task.thrown = std::current_exception();
    }
    if (own && own != MAP_FAILED) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(own, signalStackBytes);
    }
    return nullptr;
}

// Raises the address-space limit, where there is one, by `bytes` (as far as
// the hard limit allows); gives back the limit it replaced, or 0.
rlim_t widenAddressSpace(size_t bytes) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 0;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max - before > bytes ? before + bytes : limit.rlim_max;
    return setrlimit(RLIMIT_AS, &limit) == 0 ? before : 0;
}

void restoreAddressSpace(rlim_t before) {
    struct rlimit limit;
    if (before != 0 && getrlimit(RLIMIT_AS, &limit) == 0) {
        limit.rlim_cur = before;
        setrlimit(RLIMIT_AS, &limit);
    }
}

} // namespace

bool runOnOwnStack(size_t stackBytes, const std::function<void()>& work,
                   const std::string& overflowLine) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    stackBytes = (stackBytes + page - 1) / page * page;
    // Reserved, not committed: only what the work really reaches is ever
    // filled. The address-space limit grows by the reservation, so that it
    // leaves the work's heap the room it had.
    const rlim_t limitBefore = widenAddressSpace(guardBytes + stackBytes);
    void* mapped = mmap(nullptr, guardBytes + stackBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mapped == MAP_FAILED) {
        restoreAddressSpace(limitBefore);
        return false;
    }
    char* low = static_cast<char*>(mapped);
    pthread_attr_t attributes;
    bool ok = mprotect(low, guardBytes, PROT_NONE) == 0 && pthread_attr_init(&attributes) == 0;
    if (ok && pthread_attr_setstack(&attributes, low + guardBytes, stackBytes) != 0) {
        pthread_attr_destroy(&attributes);
        ok = false;
    }
    if (!ok) {
        munmap(mapped, guardBytes + stackBytes);
        restoreAddressSpace(limitBefore);
        return false;
    }
    guardLow = reinterpret_cast<uintptr_t>(low);
    guardHigh = guardLow + guardBytes;
    overflowText = overflowLine.c_str();
    overflowLength = overflowLine.size();
    struct sigaction onOverflow = {};
    onOverflow.sa_sigaction = onFault;
    onOverflow.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&onOverflow.sa_mask);
    sigaction(SIGSEGV, &onOverflow, &previousSegv);
    sigaction(SIGBUS, &onOverflow, &previousBus);

    // The work allocates from the process's main heap: a heap of its own
    // would reserve 64 MiB of address space beyond the stack under the limit
    // (glibc's arena for a new thread), and the work would lose that room.
    mallopt(M_ARENA_MAX, 1);
    ThreadWork task{&work, nullptr};
    pthread_t thread;
    const bool started = pthread_create(&thread, &attributes, runWork, &task) == 0;
    if (started)
        pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);

    sigaction(SIGSEGV, &previousSegv, nullptr);
    sigaction(SIGBUS, &previousBus, nullptr);
    guardLow = guardHigh = 0;
    overflowText = nullptr;
    munmap(mapped, guardBytes + stackBytes);
    restoreAddressSpace(limitBefore);
    if (task.thrown)
        std::rethrow_exception(task.thrown);
    return started;
}
