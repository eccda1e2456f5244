// A small int16 volume made from a function of its indices, for the tests of
// the step from samples to voxels.
#pragma once

#include "samples/sample_volume.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

// An int16 volume in C order (k fastest), as a NumPy array is stored.
template <typename F>
SampleVolume int16Volume(const int64_t dims[3], const double spacing[3], F value) {
    SampleVolume v;
    std::copy(dims, dims + 3, v.dims);
    std::copy(spacing, spacing + 3, v.spacing);
    v.type = SampleType::int16;
    v.meaning = SampleMeaning::values;
    setSampleOrder(v, false);
    v.storage.resize(size_t(dims[0] * dims[1] * dims[2]) * 2);
    for (int64_t i = 0; i < dims[0]; ++i)
        for (int64_t j = 0; j < dims[1]; ++j)
            for (int64_t k = 0; k < dims[2]; ++k) {
                const int16_t s = int16_t(value(i, j, k));
                memcpy(&v.storage[size_t(((i * dims[1] + j) * dims[2] + k) * 2)], &s, 2);
            }
    return v;
}
