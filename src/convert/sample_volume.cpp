#include "convert/sample_volume.h"

#include "convert/volume_scan.h"

#include <algorithm>
#include <cstring>

size_t sampleTypeSize(SampleType type) {
    switch (type) {
    case SampleType::boolean:
    case SampleType::int8:
    case SampleType::uint8:
        return 1;
    case SampleType::int16:
    case SampleType::uint16:
        return 2;
    case SampleType::int32:
    case SampleType::uint32:
    case SampleType::float32:
        return 4;
    case SampleType::int64:
    case SampleType::uint64:
    case SampleType::float64:
        return 8;
    }
    return 1;
}

bool sampleTypeIsFloat(SampleType type) {
    return type == SampleType::float32 || type == SampleType::float64;
}

const char* sampleTypeName(SampleType type) {
    switch (type) {
    case SampleType::boolean:
        return "bool";
    case SampleType::int8:
        return "int8";
    case SampleType::uint8:
        return "uint8";
    case SampleType::int16:
        return "int16";
    case SampleType::uint16:
        return "uint16";
    case SampleType::int32:
        return "int32";
    case SampleType::uint32:
        return "uint32";
    case SampleType::int64:
        return "int64";
    case SampleType::uint64:
        return "uint64";
    case SampleType::float32:
        return "float32";
    case SampleType::float64:
        return "float64";
    }
    return "unknown";
}

int64_t checkedSampleCount(const int64_t dims[3], size_t itemSize, int64_t maxBytes) {
    int64_t count = 1;
    for (int axis = 0; axis < 3; ++axis) {
        if (dims[axis] < 1 || dims[axis] > maxBytes)
            return -1;
        if (count > maxBytes / dims[axis])
            return -1;
        count *= dims[axis];
    }
    if (count > maxBytes / int64_t(itemSize))
        return -1;
    return count;
}

void setSampleOrder(SampleVolume& volume, bool fortranOrder) {
    if (fortranOrder) {
        volume.strides[0] = 1;
        volume.strides[1] = volume.dims[0];
        volume.strides[2] = volume.dims[0] * volume.dims[1];
    } else {
        volume.strides[2] = 1;
        volume.strides[1] = volume.dims[2];
        volume.strides[0] = volume.dims[2] * volume.dims[1];
    }
}

void toNativeByteOrder(uint8_t* data, size_t count, size_t size, bool bigEndian) {
    const bool machineBig = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    if (size == 1 || bigEndian == machineBig)
        return;
    for (size_t n = 0; n < count; ++n, data += size)
        std::reverse(data, data + size);
}

void alignSampleStorage(SampleVolume& volume) {
    size_t item = sampleTypeSize(volume.type);
    if (volume.offset % item == 0)
        return;
    size_t bytes = volume.storage.size() - volume.offset;
    memmove(volume.storage.data(), volume.storage.data() + volume.offset, bytes);
    volume.storage.resize(bytes);
    volume.offset = 0;
}

template <typename T> static double load(const uint8_t* at) {
    T value;
    memcpy(&value, at, sizeof value);
    return double(value);
}

double sampleValue(const SampleVolume& volume, int64_t i, int64_t j, int64_t k) {
    int64_t index = i * volume.strides[0] + j * volume.strides[1] + k * volume.strides[2];
    const uint8_t* at = volume.storage.data() + volume.offset + index * sampleTypeSize(volume.type);
    double value = 0;
    switch (volume.type) {
    case SampleType::boolean:
        value = *at != 0;
        break;
    case SampleType::int8:
        value = load<int8_t>(at);
        break;
    case SampleType::uint8:
        value = *at;
        break;
    case SampleType::int16:
        value = load<int16_t>(at);
        break;
    case SampleType::uint16:
        value = load<uint16_t>(at);
        break;
    case SampleType::int32:
        value = load<int32_t>(at);
        break;
    case SampleType::uint32:
        value = load<uint32_t>(at);
        break;
    case SampleType::int64:
        value = load<int64_t>(at);
        break;
    case SampleType::uint64:
        value = load<uint64_t>(at);
        break;
    case SampleType::float32:
        value = load<float>(at);
        break;
    case SampleType::float64:
        value = load<double>(at);
        break;
    }
    return volume.slope * value + volume.intercept;
}

void memoryAxisOrder(const SampleVolume& volume, int axes[3]) {
    axes[0] = 0, axes[1] = 1, axes[2] = 2;
    std::sort(axes, axes + 3, [&](int a, int b) {
        return volume.strides[a] != volume.strides[b] ? volume.strides[a] < volume.strides[b]
                                                      : a < b;
    });
}
