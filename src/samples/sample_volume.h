// A regular 3-D array of samples as the grid readers (binvox, NumPy, NRRD,
// NIfTI) decode it, before anything decides which samples are voxels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

enum class SampleType {
    boolean,
    int8,
    uint8,
    int16,
    uint16,
    int32,
    uint32,
    int64,
    uint64,
    float32,
    float64
};

// The C++ type of each sample type, in the order of SampleType (bool
// samples are bytes).
using SampleCTypes = std::tuple<uint8_t, int8_t, uint8_t, int16_t, uint16_t, int32_t, uint32_t,
                                int64_t, uint64_t, float, double>;

// Calls fn with a null pointer of the C++ type that holds a sample of
// `type`, and returns what it returns: the one place where a sample type
// becomes a C++ type.
template <size_t N = 0, typename Fn> decltype(auto) withSampleType(SampleType type, Fn&& fn) {
    if constexpr (N + 1 < std::tuple_size_v<SampleCTypes>) {
        if (size_t(type) != N)
            return withSampleType<N + 1>(type, std::forward<Fn>(fn));
    }
    return fn(static_cast<std::tuple_element_t<N, SampleCTypes>*>(nullptr));
}

// Bytes one sample of `type` takes.
size_t sampleTypeSize(SampleType type);
bool sampleTypeIsFloat(SampleType type);
// How the type is named in messages ("uint8", "float32", ...).
const char* sampleTypeName(SampleType type);

// The patient frame a file states its directions and origin in: none (an
// array with no anatomy), RAS (NIfTI: +x the patient's right, +y anterior,
// +z superior), LPS or LAS (NRRD may state either).
enum class PatientFrame { none, ras, lps, las };

// How the samples were meant to be coloured when nothing else is asked for:
// occupancy grids by height, label grids by label, measured values by value.
enum class SampleMeaning { occupancy, labels, values };

struct SampleVolume {
    int64_t dims[3] = {0, 0, 0};         // samples along i, j, k (the x, y, z axes)
    int64_t strides[3] = {0, 0, 0};      // samples between neighbours along i, j, k (< 0: flipped)
    double spacing[3] = {1.0, 1.0, 1.0}; // distance between sample centres per axis
    double origin[3] = {0.0, 0.0, 0.0};  // centre of sample (0, 0, 0)
    // The unit direction of each index axis in `frame` (directions[a] for
    // axis a), origin in that frame too; volume_orientation turns the volume
    // to the display frame before anything else looks at positions.
    PatientFrame frame = PatientFrame::none;
    double directions[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    // Where the header gave them, for messages: the field the spacing came
    // from, and the fields the positions came from.
    std::string spacingSource = "the spacing";
    std::string positionSource = "the array's shape";
    SampleType type = SampleType::uint8;
    SampleMeaning meaning = SampleMeaning::occupancy;
    // Colour samples: 3 (RGB) or 4 (RGBA) 8-bit channels, channelStride
    // samples apart; each sample's colour is its voxel's, and a black (RGB)
    // or fully transparent (RGBA) sample is empty. 1: plain samples.
    int channels = 1;
    int64_t channelStride = 0;
    // A stored value v stands for slope * v + intercept (NIfTI's scaling).
    double slope = 1.0;
    double intercept = 0.0;
    // The samples, in this machine's byte order, from storage[offset] on. The
    // buffer is often the file itself, so that a big array is not copied.
    std::vector<uint8_t> storage;
    size_t offset = 0;
    // When set, the samples are read from here instead: the caller's buffer
    // (a whole .npy file already in memory), which outlives the volume's use.
    const uint8_t* borrowed = nullptr;
};

// Where the first sample is.
inline const uint8_t* sampleBytes(const SampleVolume& volume) {
    return volume.borrowed ? volume.borrowed : volume.storage.data() + volume.offset;
}

// How a volume file's header says its samples lie: what NRRD and NIfTI
// headers share.
struct SampleLayout {
    SampleType type = SampleType::uint8;
    int64_t dims[3] = {1, 1, 1};
    double spacing[3] = {1.0, 1.0, 1.0};
    double origin[3] = {0.0, 0.0, 0.0};
    PatientFrame frame = PatientFrame::none;
    double directions[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::string spacingSource = "the spacing";
    std::string positionSource = "the spacing";
    bool bigEndian = false;
    // A fourth stored axis besides the three of space: its size and place
    // among the four (0 the fastest); colour channels, else a series of
    // which the first volume is taken.
    int64_t extraSize = 1;
    int extraAxis = 3;
    bool extraIsColor = false;
};

// Makes `out` the volume of `layout`'s samples without the samples: dims,
// strides (the first axis fastest), type, spacing and placement.
void describeSamples(const SampleLayout& layout, SampleVolume& out);

// Makes `out` the volume of `layout`'s samples held in `bytes` from `offset`
// on, the first axis fastest (as NRRD and NIfTI store them), turned into
// this machine's byte order. The caller has checked that the bytes hold
// them, every sample of the extra axis too; `out.meaning` is values, or
// occupancy for colours.
void takeSamples(const SampleLayout& layout, std::vector<uint8_t> bytes, size_t offset,
                 SampleVolume& out);

// The number of samples, or -1 when the product of `dims` (each at least 1)
// times `itemSize` would pass `maxBytes`, so that a header's claim can be
// refused before anything is allocated for it.
int64_t checkedSampleCount(const int64_t dims[3], size_t itemSize, int64_t maxBytes);

// The bytes `dims` samples of `itemSize` take, however far beyond 64 bits:
// what a refused header claimed.
long double claimedSampleBytes(const int64_t dims[3], size_t itemSize);

// Sets C order (the last index fastest) or Fortran order (the first fastest).
void setSampleOrder(SampleVolume& volume, bool fortranOrder);

// Makes `volume` (its dims and type set) one of colours: `channels` 8-bit
// channels after each sample's three indices (C order: the channel
// fastest; Fortran order: the slowest), as an (X, Y, Z, 3 or 4) array holds
// them.
void setColorChannels(SampleVolume& volume, int channels, bool fortranOrder);

// Turns `count` samples of `size` bytes each, starting at `data`, into this
// machine's byte order when they were written in the other one.
void toNativeByteOrder(uint8_t* data, size_t count, size_t size, bool bigEndian);

// Moves the samples to the start of the buffer when they do not start on a
// multiple of their size there (an NRRD header of any length comes before
// them), so that they can be read as an array of their type.
void alignSampleStorage(SampleVolume& volume);

// The sample at (i, j, k) as a number, scaling applied.
double sampleValue(const SampleVolume& volume, int64_t i, int64_t j, int64_t k);
