// Walks a volume's samples in the order they lie in memory, one row of the
// fastest axis at a time, with each row as a pointer of the samples' own
// type, so that the loops over hundreds of millions of samples are typed,
// not a conversion per sample.
#pragma once

#include "samples/sample_volume.h"

#include <cstdint>
#include <type_traits>

// The axes from the fastest in memory to the slowest.
void memoryAxisOrder(const SampleVolume& volume, int axes[3]);

// Calls fn(row, count, stride, outer, middle) for every row: `row` points at
// the first of `count` samples along the fastest axis, `stride` samples
// apart, at index `middle` of the middle axis and `outer` of the slowest.
template <typename Fn> void forEachSampleRow(const SampleVolume& volume, Fn&& fn) {
    int axes[3];
    memoryAxisOrder(volume, axes);
    auto walk = [&](const auto* base) {
        for (int64_t outer = 0; outer < volume.dims[axes[2]]; ++outer)
            for (int64_t middle = 0; middle < volume.dims[axes[1]]; ++middle)
                fn(base + outer * volume.strides[axes[2]] + middle * volume.strides[axes[1]],
                   volume.dims[axes[0]], volume.strides[axes[0]], outer, middle);
    };
    const uint8_t* base = sampleBytes(volume);
    withSampleType(volume.type, [&](auto* tag) {
        walk(reinterpret_cast<const std::remove_pointer_t<decltype(tag)>*>(base));
    });
}
