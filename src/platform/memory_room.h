// How much more memory this process can have now: what its address-space
// limit still allows, and what the machine (and the control group the
// process runs in, where that has a limit) can still hand out.
#pragma once

#include <cstdint>

// "No limit known" in the fields below.
constexpr uint64_t unlimitedRoom = UINT64_MAX;

struct MemoryRoom {
    uint64_t addressSpace; // the address-space limit (RLIMIT_AS) less what is mapped now
    uint64_t physical;     // the least of MemAvailable and each control group's room
};

MemoryRoom measureMemoryRoom();

// The room inside the control groups this process runs in (controlGroupRoom
// of /proc/self/cgroup under /sys/fs/cgroup), or unlimitedRoom: the part of
// measureMemoryRoom that the converter's memory cap takes as well.
uint64_t ownControlGroupRoom();

// The parts, each from files of the given names so that tests can hand in
// their own. A file that cannot be read, or holds no such figure, means no
// limit from it.

// The "Name:   N kB" line of a /proc status-style file, in bytes.
uint64_t procFieldBytes(const char* path, const char* name);

// Room under the address-space limit `limitBytes` for a process whose
// /proc/self/status is `statusPath`.
uint64_t addressSpaceRoom(uint64_t limitBytes, const char* statusPath);

// Room inside the control groups that `selfCgroupPath` (a /proc/self/cgroup)
// names, for either version, with the hierarchies mounted under `mountRoot`
// (/sys/fs/cgroup): at each level up to the root, its limit less what it
// uses, not counting file cache it could drop; the least of them.
uint64_t controlGroupRoom(const char* selfCgroupPath, const char* mountRoot);
