// Reading the room the process has left: /proc fields, the address-space
// limit, and control groups of either version, from files laid out as the
// kernel lays them out.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <string>
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

TEST(MemoryRoom, ThisProcessHasSomeRoom) {
    MemoryRoom room = measureMemoryRoom();
    EXPECT_GT(room.physical, 16 * mebibyte);
    EXPECT_GT(room.addressSpace, 16 * mebibyte);
}

} // namespace
