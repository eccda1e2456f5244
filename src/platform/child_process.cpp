#include "platform/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Read and written by the signal handler: plain integers only.
volatile sig_atomic_t runningChild = 0;
volatile sig_atomic_t receivedSignal = 0;

// The actions before passOnEndingSignals, which children get back.
struct sigaction previousActions[sizeof endingSignals / sizeof endingSignals[0]];
bool passingOn = false;

void passOn(int sig) {
    const int saved = errno;
    receivedSignal = sig;
    if (runningChild > 0)
        kill(pid_t(runningChild), sig);
    errno = saved;
}

// Holds the ending signals while a child is made, so that none arrives
// between the fork and the parent knowing the child's id.
struct EndingSignalsHeld {
    sigset_t previous;
    EndingSignalsHeld() {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (int sig : endingSignals)
            sigaddset(&blocked, sig);
        sigprocmask(SIG_BLOCK, &blocked, &previous);
    }
    ~EndingSignalsHeld() {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
};

// In a new child: the signals act as they did before this process caught
// them, and none is held.
void restoreSignalsInChild(const sigset_t& mask) {
    if (passingOn)
        for (size_t i = 0; i < sizeof endingSignals / sizeof endingSignals[0]; ++i)
            sigaction(endingSignals[i], &previousActions[i], nullptr);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
}

} // namespace

void passOnEndingSignals() {
    if (passingOn)
        return;
    passingOn = true;
    for (size_t i = 0; i < sizeof endingSignals / sizeof endingSignals[0]; ++i) {
        sigaction(endingSignals[i], nullptr, &previousActions[i]);
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (previousActions[i].sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = passOn;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(endingSignals[i], &action, nullptr);
    }
}

int endingSignalReceived() {
    return receivedSignal;
}

pid_t startChild(const std::function<int()>& body, std::string* error) {
    fflush(nullptr);
    EndingSignalsHeld held;
    const pid_t child = fork();
    if (child < 0) {
        *error = strerror(errno);
        return -1;
    }
    if (child == 0) {
        runningChild = 0;
        restoreSignalsInChild(held.previous);
        exit(body());
    }
    runningChild = child;
    return child;
}

pid_t startProgram(const std::string& file, const std::vector<std::string>& argv,
                   std::string* error) {
    // The child reports a failed exec through this pipe; a successful one
    // closes it unwritten.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        *error = strerror(errno);
        return -1;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    fflush(nullptr);
    pid_t child = -1;
    {
        EndingSignalsHeld held;
        child = fork();
        if (child == 0) {
            close(report[0]);
            runningChild = 0;
            restoreSignalsInChild(held.previous);
            execvp(file.c_str(), args.data());
            const int why = errno;
            ssize_t written = write(report[1], &why, sizeof why);
            (void)written;
            _exit(127);
        }
        if (child > 0)
            runningChild = child;
    }
    const int forkErrno = errno;
    close(report[1]);
    if (child < 0) {
        close(report[0]);
        *error = strerror(forkErrno);
        return -1;
    }
    int why = 0;
    ssize_t got;
    do
        got = read(report[0], &why, sizeof why);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == ssize_t(sizeof why)) {
        waitForChild(child);
        *error = strerror(why);
        return -1;
    }
    return child;
}

int waitForChild(pid_t child) {
    // Waited for without being reaped first, so that its id cannot be
    // reused by another process while a signal may still be passed on to it.
    siginfo_t info;
    while (waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    EndingSignalsHeld held;
    if (runningChild == child)
        runningChild = 0;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            status = 0;
            break;
        }
    }
    return status;
}

void endBySignal(int sig) {
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}
