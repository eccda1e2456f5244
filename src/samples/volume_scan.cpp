#include "samples/volume_scan.h"

#include <algorithm>

void memoryAxisOrder(const SampleVolume& volume, int axes[3]) {
    axes[0] = 0, axes[1] = 1, axes[2] = 2;
    std::sort(axes, axes + 3, [&](int a, int b) {
        return volume.strides[a] != volume.strides[b] ? volume.strides[a] < volume.strides[b]
                                                      : a < b;
    });
}
