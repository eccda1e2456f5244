#include "platform/memory_room.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>

// Limits at or above this are how the kernel writes "none" (cgroup v1 gives
// 2^63 rounded down to a page, for example).
static constexpr uint64_t noLimitAbove = uint64_t(1) << 62;

// The whole of a small file, or empty.
static std::string readSmallFile(const std::string& path) {
    std::string text;
    FILE* f = fopen(path.c_str(), "r");
    if (!f)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (1 << 20))
        text.append(buffer, n);
    fclose(f);
    return text;
}

// The number at the start of `text`; false when there is none ("max", empty).
static bool leadingNumber(const std::string& text, uint64_t* value) {
    unsigned long long v = 0;
    int used = 0;
    if (sscanf(text.c_str(), "%llu%n", &v, &used) != 1 || used == 0)
        return false;
    *value = v;
    return true;
}

// The value after "name " on a line of a memory.stat file, or 0.
static uint64_t statField(const std::string& stat, const char* name) {
    size_t length = strlen(name);
    for (size_t at = 0; at < stat.size();) {
        size_t lineEnd = stat.find('\n', at);
        if (lineEnd == std::string::npos)
            lineEnd = stat.size();
        if (stat.compare(at, length, name) == 0 && at + length < lineEnd &&
            stat[at + length] == ' ') {
            uint64_t value = 0;
            if (leadingNumber(stat.substr(at + length + 1, lineEnd - at - length - 1), &value))
                return value;
        }
        at = lineEnd + 1;
    }
    return 0;
}

uint64_t procFieldBytes(const char* path, const char* name) {
    std::string text = readSmallFile(path);
    std::string key = std::string("\n") + name + ":";
    text.insert(0, "\n");
    size_t at = text.find(key);
    uint64_t kilobytes = 0;
    if (at == std::string::npos || !leadingNumber(text.substr(at + key.size()), &kilobytes))
        return unlimitedRoom;
    return kilobytes * 1024;
}

uint64_t addressSpaceRoom(uint64_t limitBytes, const char* statusPath) {
    if (limitBytes >= noLimitAbove)
        return unlimitedRoom;
    uint64_t mapped = procFieldBytes(statusPath, "VmSize");
    if (mapped == unlimitedRoom)
        mapped = 0;
    return limitBytes > mapped ? limitBytes - mapped : 0;
}

// One level of a control group: its limit less what it uses, leaving out the
// file cache it would drop first (inactive_file), or unlimitedRoom.
static uint64_t levelRoom(const std::string& dir, const char* limitFile, const char* usageFile,
                          const char* inactiveField) {
    uint64_t limit = 0, usage = 0;
    if (!leadingNumber(readSmallFile(dir + "/" + limitFile), &limit) || limit >= noLimitAbove)
        return unlimitedRoom;
    if (!leadingNumber(readSmallFile(dir + "/" + usageFile), &usage))
        usage = 0;
    uint64_t inactive = statField(readSmallFile(dir + "/memory.stat"), inactiveField);
    usage -= std::min(usage, inactive);
    return limit > usage ? limit - usage : 0;
}

// The least room of the group at `root` + `path` and every group above it.
static uint64_t roomUpTheTree(const std::string& root, std::string path, const char* limitFile,
                              const char* usageFile, const char* inactiveField) {
    uint64_t room = unlimitedRoom;
    for (;;) {
        room = std::min(room, levelRoom(root + path, limitFile, usageFile, inactiveField));
        if (path.empty() || path == "/")
            return room;
        size_t slash = path.find_last_of('/');
        path = slash == std::string::npos ? "" : path.substr(0, slash);
    }
}

uint64_t controlGroupRoom(const char* selfCgroupPath, const char* mountRoot) {
    std::string groups = readSmallFile(selfCgroupPath);
    std::string root = mountRoot;
    uint64_t room = unlimitedRoom;
    for (size_t at = 0; at < groups.size();) {
        size_t lineEnd = groups.find('\n', at);
        if (lineEnd == std::string::npos)
            lineEnd = groups.size();
        std::string line = groups.substr(at, lineEnd - at);
        at = lineEnd + 1;
        // "id:controllers:path"; version 2 has no controllers listed.
        size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos)
            continue;
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            // The unified hierarchy is mounted at the root or, beside the
            // version 1 ones, at unified/.
            for (const char* under : {"", "/unified"})
                room = std::min(room, roomUpTheTree(root + under, path, "memory.max",
                                                    "memory.current", "inactive_file"));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            room = std::min(room, roomUpTheTree(root + "/memory", path, "memory.limit_in_bytes",
                                                "memory.usage_in_bytes", "total_inactive_file"));
        }
    }
    return room;
}

uint64_t ownControlGroupRoom() {
    return controlGroupRoom("/proc/self/cgroup", "/sys/fs/cgroup");
}

MemoryRoom measureMemoryRoom() {
    MemoryRoom room = {unlimitedRoom, unlimitedRoom};
    rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        room.addressSpace = addressSpaceRoom(uint64_t(limit.rlim_cur), "/proc/self/status");
    room.physical =
        std::min(procFieldBytes("/proc/meminfo", "MemAvailable"), ownControlGroupRoom());
    return room;
}
