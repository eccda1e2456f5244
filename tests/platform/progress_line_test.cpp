// The progress line: its text, and on a real terminal (a pseudo-terminal in
// place of stderr) that it shows after the quiet second, rewrites itself in
// place and is erased when stopped; with stderr not a terminal it stays
// silent.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "platform/progress_line.h"

namespace {

TEST(ProgressLine, SaysWhatHowFarAndHowLong) {
    EXPECT_EQ(progressText("vxlconv", "reading a.vxl", 0, 0, 1.7), "vxlconv: reading a.vxl (1 s)");
    EXPECT_EQ(progressText("vxlconv", "merging faces", 2, 6, 12.2),
              "vxlconv: merging faces 33% (12 s)");
    EXPECT_EQ(progressText("vxlconv", "writing", 7, 5, 3), "vxlconv: writing 100% (3 s)");
    EXPECT_EQ(progressText("vxlconv", "", 5000000000, 10000000000, 2),
              "vxlconv: working 50% (2 s)");
}

// Everything the terminal shows until `until` appears or ten seconds pass.
std::string readUntil(int terminal, const std::string& until) {
    std::string seen;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.find(until) == std::string::npos && std::chrono::steady_clock::now() < end) {
        pollfd p = {terminal, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[256];
            const ssize_t n = read(terminal, buffer, sizeof buffer);
            if (n > 0)
                seen.append(buffer, size_t(n));
        }
    }
    return seen;
}

TEST(ProgressLine, ShowsOnATerminalAndIsErasedWhenStopped) {
    const int main = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(main, 0);
    ASSERT_EQ(grantpt(main), 0);
    ASSERT_EQ(unlockpt(main), 0);
    const int side = open(ptsname(main), O_RDWR | O_NOCTTY);
    ASSERT_GE(side, 0);
    const int savedStderr = dup(STDERR_FILENO);
    ASSERT_EQ(dup2(side, STDERR_FILENO), STDERR_FILENO);

    startProgress("tester");
    progressPhase("counting sheep");
    progressAmount(1, 4);
    const std::string shown = readUntil(main, "\033[K\r");
    progressAmount(3, 4);
    const std::string later = readUntil(main, "75%");
    stopProgress();
    const std::string erased = readUntil(main, "\r\033[K");
    stopProgress(); // a second stop does nothing

    dup2(savedStderr, STDERR_FILENO);
    close(savedStderr);
    close(side);
    close(main);
    // The first line comes after the quiet second, rewritten in place.
    EXPECT_EQ(shown.rfind("\rtester: counting sheep 25% (", 0), 0u) << shown;
    EXPECT_EQ(shown.find("(0 s)"), std::string::npos) << shown;
    EXPECT_NE(later.find("tester: counting sheep 75%"), std::string::npos) << later;
    EXPECT_EQ(erased.substr(erased.size() - 4), "\r\033[K");

    // Not a terminal: nothing starts, nothing is written.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const int saved = dup(STDERR_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    startProgress("tester");
    progressPhase("quiet");
    stopProgress();
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(pipeEnds[1]);
    char byte;
    EXPECT_EQ(read(pipeEnds[0], &byte, 1), 0);
    close(pipeEnds[0]);
}

} // namespace
