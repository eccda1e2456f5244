#include "samples/volume_scan.h"

#include <algorithm>
#include <cstdlib>

void memoryAxisOrder(const SampleVolume& volume, int axes[3]) {
    axes[0] = 0, axes[1] = 1, axes[2] = 2;
    std::sort(axes, axes + 3, [&](int a, int b) {
        const int64_t sa = std::llabs(volume.strides[a]), sb = std::llabs(volume.strides[b]);
        return sa != sb ? sa < sb : a < b;
    });
}
