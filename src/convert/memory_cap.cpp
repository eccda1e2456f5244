#include "convert/memory_cap.h"

#include "platform/address_sanitizer.h"

#include <algorithm>
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
static constexpr int64_t mebibyte = int64_t(1) << 20;
static constexpr int64_t capBase = 1024 * mebibyte;
static constexpr int64_t capPerInputByte = 64;
static constexpr int64_t capPerVoxel = 64;

int64_t defaultMemoryCap(int64_t inputBytes, int64_t maxVoxels) {
    int64_t cap = capBase + capPerInputByte * inputBytes + capPerVoxel * maxVoxels;
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        cap = std::min(cap, int64_t(pages) * int64_t(pageSize));
    return cap;
}

int64_t headerClaimLimit(int64_t cap, bool capGiven, int64_t maxVoxels) {
    if (capGiven)
        return cap;
    return std::max(cap - capPerVoxel * maxVoxels, cap / 2);
}

void capAddressSpace(int64_t bytes) {
#ifndef VOXSCOPE_ADDRESS_SANITIZER
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0)
        return;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > rlim_t(bytes)) {
        limit.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_AS, &limit);
    }
#else
    (void)bytes;
#endif
}
