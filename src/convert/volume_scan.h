// Walks a volume's samples in the order they lie in memory, one row of the
// fastest axis at a time, with each row as a pointer of the samples' own
// type, so that the loops over hundreds of millions of samples are typed,
// not a conversion per sample.
#pragma once

#include "convert/sample_volume.h"

#include <cstdint>

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
    const uint8_t* base = volume.storage.data() + volume.offset;
    switch (volume.type) {
    case SampleType::boolean:
    case SampleType::uint8:
        walk(base);
        break;
    case SampleType::int8:
        walk(reinterpret_cast<const int8_t*>(base));
        break;
    case SampleType::int16:
        walk(reinterpret_cast<const int16_t*>(base));
        break;
    case SampleType::uint16:
        walk(reinterpret_cast<const uint16_t*>(base));
        break;
    case SampleType::int32:
        walk(reinterpret_cast<const int32_t*>(base));
        break;
    case SampleType::uint32:
        walk(reinterpret_cast<const uint32_t*>(base));
        break;
    case SampleType::int64:
        walk(reinterpret_cast<const int64_t*>(base));
        break;
    case SampleType::uint64:
        walk(reinterpret_cast<const uint64_t*>(base));
        break;
    case SampleType::float32:
        walk(reinterpret_cast<const float*>(base));
        break;
    case SampleType::float64:
        walk(reinterpret_cast<const double*>(base));
        break;
    }
}
