// Reading the room the process has left: /proc fields, the address-space
// limit, and control groups of either version, from files laid out as the
// kernel lays them out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

#include "platform/memory_room.h"

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

std::vector<std::string> scratchDirs;

void removeScratchDirs() {
    for (const std::string& dir : scratchDirs)
        nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// A fresh directory, removed with all it holds when the tests end.
std::string scratchDir() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/voxscope-room-XXXXXX";
    char* made = mkdtemp(&pattern[0]);
    if (!made)
        abort();
    if (scratchDirs.empty())
        atexit(removeScratchDirs);
    scratchDirs.push_back(made);
    return made;
}

void writeFile(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    fputs(text.c_str(), f);
    fclose(f);
}

void makeDirs(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at)
        if (at == path.size() || path[at] == '/')
            mkdir(path.substr(0, at).c_str(), 0755);
}

constexpr uint64_t mebibyte = uint64_t(1) << 20;

TEST(MemoryRoom, ProcFieldsAndTheAddressSpaceLimit) {
    std::string dir = scratchDir();
    writeFile(dir + "/status", "Name:\tvoxscope\nVmPeak:\t  900000 kB\nVmSize:\t  307200 kB\n");
    writeFile(dir + "/meminfo", "MemTotal:       24000000 kB\nMemAvailable:   2000000 kB\n");
    EXPECT_EQ(procFieldBytes((dir + "/status").c_str(), "VmSize"), 307200 * 1024ull);
    EXPECT_EQ(procFieldBytes((dir + "/meminfo").c_str(), "MemAvailable"), 2000000 * 1024ull);
    // A name that is only the end of another is not it.
    EXPECT_EQ(procFieldBytes((dir + "/status").c_str(), "Size"), unlimitedRoom);
    EXPECT_EQ(procFieldBytes((dir + "/nothing").c_str(), "VmSize"), unlimitedRoom);

    EXPECT_EQ(addressSpaceRoom(1000 * mebibyte, (dir + "/status").c_str()), 700 * mebibyte);
    EXPECT_EQ(addressSpaceRoom(100 * mebibyte, (dir + "/status").c_str()), 0u);
    EXPECT_EQ(addressSpaceRoom(UINT64_MAX, (dir + "/status").c_str()), unlimitedRoom);
}

// The least room over the group and the groups above it, less usage that is
// only file cache, for the unified hierarchy (memory.max / memory.current)
// and the older one (memory.limit_in_bytes / memory.usage_in_bytes).
TEST(MemoryRoom, ControlGroupsOfBothVersions) {
    std::string root = scratchDir();
    // Version 2: /a has 4 GiB, /a/b 2 GiB of which 1.5 used, 0.5 of that cache.
    makeDirs(root + "/v2/a/b");
    writeFile(root + "/v2/a/memory.max", "4294967296\n");
    writeFile(root + "/v2/a/memory.current", "1073741824\n");
    writeFile(root + "/v2/a/b/memory.max", "2147483648\n");
    writeFile(root + "/v2/a/b/memory.current", std::to_string(1536 * mebibyte) + "\n");
    writeFile(root + "/v2/a/b/memory.stat",
              "anon 1\ninactive_file " + std::to_string(512 * mebibyte) + "\nactive_file 7\n");
    writeFile(root + "/self-v2", "0::/a/b\n");
    EXPECT_EQ(controlGroupRoom((root + "/self-v2").c_str(), (root + "/v2").c_str()),
              1024 * mebibyte);
    // "max" is no limit; the parent's then holds.
    writeFile(root + "/v2/a/b/memory.max", "max\n");
    EXPECT_EQ(controlGroupRoom((root + "/self-v2").c_str(), (root + "/v2").c_str()),
              3072 * mebibyte);

    // Version 1, beside other controllers; its "no limit" is 2^63 less a page.
    makeDirs(root + "/v1/memory/job/step");
    writeFile(root + "/v1/memory/job/memory.limit_in_bytes", "9223372036854771712\n");
    writeFile(root + "/v1/memory/job/step/memory.limit_in_bytes", "1073741824\n");
    writeFile(root + "/v1/memory/job/step/memory.usage_in_bytes", "805306368\n");
    writeFile(root + "/v1/memory/job/step/memory.stat",
              "cache 9\ntotal_inactive_file " + std::to_string(256 * mebibyte) + "\n");
    writeFile(root + "/self-v1", "9:name=systemd:/\n5:cpu,memory:/job/step\n0::/\n");
    EXPECT_EQ(controlGroupRoom((root + "/self-v1").c_str(), (root + "/v1").c_str()),
              512 * mebibyte);

    // A group using more than its limit has no room; none named, no limit.
    writeFile(root + "/v1/memory/job/step/memory.usage_in_bytes", "2147483648\n");
    writeFile(root + "/v1/memory/job/step/memory.stat", "");
    EXPECT_EQ(controlGroupRoom((root + "/self-v1").c_str(), (root + "/v1").c_str()), 0u);
    EXPECT_EQ(controlGroupRoom((root + "/missing").c_str(), (root + "/v1").c_str()), unlimitedRoom);
}

// A figure from /proc read here without the code under test: the "Name: N kB"
// line of `path`, in bytes, or 0 when there is none.
uint64_t procKilobytes(const char* path, const char* name) {
    FILE* f = fopen(path, "r");
    if (!f)
        return 0;
    char line[256];
    unsigned long long kilobytes = 0;
    const size_t length = strlen(name);
    while (fgets(line, sizeof line, f))
        if (strncmp(line, name, length) == 0 && line[length] == ':' &&
            sscanf(line + length + 1, "%llu", &kilobytes) == 1)
            break;
    fclose(f);
    return uint64_t(kilobytes) * 1024;
}

// The room measured for this very process comes from its own figures: the
// address-space limit it runs under less what it has mapped, and the least of
// the machine's available memory and its control group's room, not some other
// limit or field (the hard limit, MemFree, MemTotal) that would let the viewer
// open a model it then cannot draw, or refuse one it can.
TEST(MemoryRoom, ThisProcessIsMeasuredByItsOwnLimitAndTheMachinesAvailableMemory) {
    // Other processes take and give back memory between two readings; this
    // much drift either way is allowed.
    const uint64_t drift = 64 * mebibyte;

    const uint64_t availableBefore = procKilobytes("/proc/meminfo", "MemAvailable");
    const uint64_t groupBefore = controlGroupRoom("/proc/self/cgroup", "/sys/fs/cgroup");
    const MemoryRoom unlimited = measureMemoryRoom();
    const uint64_t availableAfter = procKilobytes("/proc/meminfo", "MemAvailable");
    const uint64_t groupAfter = controlGroupRoom("/proc/self/cgroup", "/sys/fs/cgroup");
    ASSERT_GT(availableBefore, 0u) << "no MemAvailable in /proc/meminfo";
    const uint64_t lowest = std::min({availableBefore, availableAfter, groupBefore, groupAfter});
    const uint64_t highest =
        std::max(std::min(availableBefore, groupBefore), std::min(availableAfter, groupAfter));
    EXPECT_GE(unlimited.physical, lowest - std::min(lowest, drift));
    EXPECT_LE(unlimited.physical, highest + drift);

    // Under an address-space limit of what is mapped now plus 1 GiB, about
    // 1 GiB is left; the limit is put back afterwards.
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    if (saved.rlim_cur == RLIM_INFINITY) {
        EXPECT_EQ(unlimited.addressSpace, unlimitedRoom);
    }
    const uint64_t mapped = procKilobytes("/proc/self/status", "VmSize");
    ASSERT_GT(mapped, 0u) << "no VmSize in /proc/self/status";
    const uint64_t limit = mapped + 1024 * mebibyte;
    if (saved.rlim_max != RLIM_INFINITY && limit > saved.rlim_max)
        GTEST_SKIP() << "the hard address-space limit leaves no 1 GiB to set";
    rlimit lowered = {rlim_t(limit), saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
    const MemoryRoom limited = measureMemoryRoom();
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
    EXPECT_GE(limited.addressSpace, 1024 * mebibyte - drift);
    EXPECT_LE(limited.addressSpace, 1024 * mebibyte + drift);
}

} // namespace
