#include "samples/sample_volume.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

size_t sampleTypeSize(SampleType type) {
    return withSampleType(type, [](auto* tag) { return sizeof(*tag); });
}

bool sampleTypeIsFloat(SampleType type) {
    return type == SampleType::float32 || type == SampleType::float64;
}

const char* sampleTypeName(SampleType type) {
    static const char* const names[] = {"bool",   "int8",  "uint8",  "int16",   "uint16", "int32",
                                        "uint32", "int64", "uint64", "float32", "float64"};
    return names[int(type)];
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

long double claimedSampleBytes(const int64_t dims[3], size_t itemSize) {
    return static_cast<long double>(dims[0]) * dims[1] * dims[2] * itemSize;
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

void setColorChannels(SampleVolume& volume, int channels, bool fortranOrder) {
    setSampleOrder(volume, fortranOrder);
    volume.channels = channels;
    volume.meaning = SampleMeaning::occupancy;
    if (fortranOrder) {
        volume.channelStride = volume.dims[0] * volume.dims[1] * volume.dims[2];
        return;
    }
    for (int64_t& stride : volume.strides)
        stride *= channels;
    volume.channelStride = 1;
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

void describeSamples(const SampleLayout& layout, SampleVolume& out) {
    out = SampleVolume();
    out.type = layout.type;
    out.meaning = SampleMeaning::values;
    for (int a = 0; a < 3; ++a) {
        out.dims[a] = layout.dims[a];
        out.spacing[a] = layout.spacing[a];
        out.origin[a] = layout.origin[a];
        for (int b = 0; b < 3; ++b)
            out.directions[a][b] = layout.directions[a][b];
    }
    out.frame = layout.frame;
    out.spacingSource = layout.spacingSource;
    out.positionSource = layout.positionSource;
    // Strides over the four stored axes, the extra one among them.
    int64_t stride = 1, extraStride = 0;
    for (int stored = 0, a = 0; stored < 4; ++stored) {
        if (stored == layout.extraAxis) {
            extraStride = stride;
            stride *= layout.extraSize;
            continue;
        }
        if (a < 3) {
            out.strides[a] = stride;
            stride *= out.dims[a++];
        }
    }
    if (layout.extraIsColor) {
        out.channels = int(layout.extraSize);
        out.channelStride = extraStride;
        out.meaning = SampleMeaning::occupancy;
    }
}

void takeSamples(const SampleLayout& layout, std::vector<uint8_t> bytes, size_t offset,
                 SampleVolume& out) {
    describeSamples(layout, out);
    out.storage = std::move(bytes);
    out.offset = offset;
    const size_t count = size_t(out.dims[0] * out.dims[1] * out.dims[2] * layout.extraSize);
    toNativeByteOrder(out.storage.data() + offset, count, sampleTypeSize(out.type),
                      layout.bigEndian);
    alignSampleStorage(out);
}

double sampleValue(const SampleVolume& volume, int64_t i, int64_t j, int64_t k) {
    int64_t index = i * volume.strides[0] + j * volume.strides[1] + k * volume.strides[2];
    const uint8_t* at = sampleBytes(volume) + index * sampleTypeSize(volume.type);
    double value = withSampleType(volume.type, [&](auto* tag) {
        std::remove_pointer_t<decltype(tag)> sample;
        memcpy(&sample, at, sizeof sample);
        return double(sample);
    });
    return volume.slope * value + volume.intercept;
}
