// Children started and waited for, and the ending signals passed on to them:
// each case runs in a forked process of its own, so that the handlers it
// installs leave the test program as it was.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/child_process.h"

namespace {

// Runs `body` in a fresh process and returns its wait status.
template <typename Body> int inFreshProcess(Body body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST(ChildProcess, ExitStatusesComeBackAndAFailedStartSaysWhy) {
    const int status = inFreshProcess([] {
        std::string error;
        const pid_t child = startChild([] { return 7; }, &error);
        if (child <= 0)
            return 1;
        const int done = waitForChild(child);
        if (!WIFEXITED(done) || WEXITSTATUS(done) != 7)
            return 2;
        const pid_t program = startProgram("/bin/sh", {"sh", "-c", "exit 5"}, &error);
        const int ran = waitForChild(program);
        if (!WIFEXITED(ran) || WEXITSTATUS(ran) != 5)
            return 3;
        if (startProgram("/nonexistent/program", {"program"}, &error) != -1 ||
            error != "No such file or directory")
            return 4;
        error.clear();
        if (startProgram("no-such-program-on-the-path", {"x"}, &error) != -1 || error.empty())
            return 5;
        return endingSignalReceived() == 0 ? 0 : 6;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ChildProcess, AnEndingSignalReachesTheChildAndIsRemembered) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        const int status = inFreshProcess([sig] {
            passOnEndingSignals();
            std::string error;
            // The child waits to be ended; the parent signals itself once
            // the child is running, as a user's kill would.
            const pid_t child = startProgram("/bin/sh", {"sh", "-c", "exec sleep 60"}, &error);
            if (child <= 0)
                return 1;
            kill(getpid(), sig);
            const int done = waitForChild(child);
            if (!WIFSIGNALED(done) || WTERMSIG(done) != sig)
                return 2;
            if (endingSignalReceived() != sig)
                return 3;
            endBySignal(sig);
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << sig;
        EXPECT_EQ(WTERMSIG(status), sig);
    }
}

TEST(ChildProcess, AnIgnoredSignalStaysIgnoredForTheChildren) {
    const int status = inFreshProcess([] {
        signal(SIGHUP, SIG_IGN);
        passOnEndingSignals();
        std::string error;
        const pid_t child = startChild(
            [] {
                struct sigaction action;
                sigaction(SIGHUP, nullptr, &action);
                return action.sa_handler == SIG_IGN ? 0 : 9;
            },
            &error);
        const int done = waitForChild(child);
        return WIFEXITED(done) ? WEXITSTATUS(done) : 8;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
