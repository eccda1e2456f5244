#include "convert/memory_cap.h"

#include "platform/address_sanitizer.h"
#include "platform/heap_cap.h"
#include "platform/memory_room.h"

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

// A damaged file can make a reader ask for far more memory than the model
// could need (a vertex count of billions in a file of a few hundred bytes).
// The system grants such a request on paper and the reader then fills it for
// minutes, into swap or the out-of-memory killer. So the address space is
// capped at what a conversion of this input can reasonably take: a base for
// the program and its libraries, a multiple of the file's size for what is
// read from it, room for the voxels allowed, and never more than the
// machine's memory. A request beyond it fails at once and is reported.
// Inside a control group with a memory limit, the kernel would end the
// program without a word once the group is full, so the cap is kept within
// what the group can still give as well.
static constexpr int64_t mebibyte = int64_t(1) << 20;
static constexpr int64_t capBase = 1024 * mebibyte;
static constexpr int64_t capPerInputByte = 64;
static constexpr int64_t capPerVoxel = 64;

int64_t memoryCapWithin(int64_t inputBytes, int64_t maxVoxels, uint64_t machineBytes,
                        uint64_t groupRoom) {
    uint64_t cap = uint64_t(capBase + capPerInputByte * inputBytes + capPerVoxel * maxVoxels);
    cap = std::min({cap, machineBytes, groupRoom, uint64_t(INT64_MAX)});
    return std::max<int64_t>(int64_t(cap), 1);
}

int64_t defaultMemoryCap(int64_t inputBytes, int64_t maxVoxels) {
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGE_SIZE);
    uint64_t machine =
        pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : unlimitedRoom;
    return memoryCapWithin(inputBytes, maxVoxels, machine, ownControlGroupRoom());
}

int64_t headerClaimLimit(int64_t cap, bool capGiven, int64_t maxVoxels) {
    if (capGiven)
        return cap;
    return std::max(cap - capPerVoxel * maxVoxels, cap / 2);
}

#ifndef VOXSCOPE_ADDRESS_SANITIZER
namespace {

// The soft limit before the first capAddressSpace lowered it, while it is
// lowered.
bool capped = false;
rlim_t limitBeforeCap = RLIM_INFINITY;

} // namespace
#endif

void capAddressSpace(int64_t bytes) {
#ifndef VOXSCOPE_ADDRESS_SANITIZER
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0)
        return;
    // What is mapped already (the program's code and its libraries, which
    // grow with every library a reader links) is not the conversion's to
    // count: the cap is the room beyond it.
    FILE* statm = fopen("/proc/self/statm", "r");
    unsigned long long pages = 0;
    if (statm && fscanf(statm, "%llu", &pages) == 1 && pages < (1ull << 40) / 4096)
        bytes += int64_t(pages * uint64_t(sysconf(_SC_PAGE_SIZE)));
    if (statm)
        fclose(statm);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > rlim_t(bytes)) {
        if (!capped)
            limitBeforeCap = limit.rlim_cur;
        capped = true;
        limit.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_AS, &limit);
    }
#else
    setHeapCap(bytes);
#endif
}

void liftAddressSpaceCap() {
#ifndef VOXSCOPE_ADDRESS_SANITIZER
    struct rlimit limit;
    if (!capped || getrlimit(RLIMIT_AS, &limit) != 0)
        return;
    // Only the soft limit was lowered, so the hard limit still allows this.
    limit.rlim_cur = limitBeforeCap;
    if (setrlimit(RLIMIT_AS, &limit) == 0)
        capped = false;
#else
    setHeapCap(0);
#endif
}
