#include "read/mgh_reader.h"

#include "container/byte_order.h"
#include "platform/program_name.h"
#include "read/memory_refusal.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool typeByCode(uint64_t code, SampleType& type) {
    switch (code) {
    case 0:
        type = SampleType::uint8;
        return true;
    case 1:
        type = SampleType::int32;
        return true;
    case 3:
        type = SampleType::float32;
        return true;
    case 4:
        type = SampleType::int16;
        return true;
    default:
        return false;
    }
}

float floatAt(const uint8_t* data, size_t at) {
    const uint32_t bits = uint32_t(readStoredOrder(data + at, 4, true));
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

// FreeSurfer's default when the header says nothing of the patient: the
// coronal slices of a conformed volume, x to the left, y inferior, z anterior.
constexpr double defaultAxes[3][3] = {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}};

// The header's direction cosines (x_r x_a x_s, y_r ...) and spacings, each
// axis's step being its cosines' length times its spacing as FreeSurfer
// and nibabel place samples; false when any is not a usable number.
bool stateAxes(const uint8_t* data, SampleLayout& layout) {
    double axes[3][3], spacing[3];
    for (int a = 0; a < 3; ++a) {
        const double delta = floatAt(data, 30 + 4 * size_t(a));
        double length = 0;
        for (int e = 0; e < 3; ++e) {
            axes[a][e] = floatAt(data, 42 + 12 * size_t(a) + 4 * size_t(e));
            length += axes[a][e] * axes[a][e];
        }
        length = std::sqrt(length);
        spacing[a] = std::fabs(delta) * length;
        if (!(spacing[a] > 0) || !std::isfinite(spacing[a]))
            return false;
        for (int e = 0; e < 3; ++e)
            axes[a][e] /= length;
    }
    for (int a = 0; a < 3; ++a) {
        layout.spacing[a] = spacing[a];
        for (int e = 0; e < 3; ++e)
            layout.directions[a][e] = axes[a][e];
    }
    return true;
}

} // namespace

bool startsWithMgh(const uint8_t* head, size_t size) {
    if (size < 28 || readStoredOrder(head, 4, true) != 1)
        return false;
    for (size_t field = 1; field <= 4; ++field) {
        const uint64_t n = readStoredOrder(head + 4 * field, 4, true);
        if (n < 1 || n > (1u << 24))
            return false;
    }
    SampleType type;
    return typeByCode(readStoredOrder(head + 20, 4, true), type);
}

bool parseMghHeader(const uint8_t* data, size_t size, MghHeader& header, std::string& error) {
    header = MghHeader();
    if (size < mghDataOffset) {
        error = "the MGH header is " + std::to_string(mghDataOffset) + " bytes; the file holds " +
                std::to_string(size);
        return false;
    }
    const int64_t version = int32_t(uint32_t(readStoredOrder(data, 4, true)));
    if (version != 1) {
        error = "the MGH version is " + std::to_string(version) + "; this reads version 1";
        return false;
    }
    int64_t sizes[4];
    for (size_t n = 0; n < 4; ++n) {
        sizes[n] = int32_t(uint32_t(readStoredOrder(data + 4 + 4 * n, 4, true)));
        if (sizes[n] < 1) {
            error = "the MGH " + std::string(n == 3 ? "frame count" : "dimensions") +
                    " must be at least 1 (it says " + std::to_string(sizes[n]) + ")";
            return false;
        }
    }
    const uint64_t code = readStoredOrder(data + 20, 4, true);
    SampleLayout& layout = header.layout;
    if (!typeByCode(code, layout.type)) {
        error = "the MGH type " + std::to_string(int32_t(uint32_t(code))) +
                " is not one this reads (0 uchar, 1 int, 3 float, 4 short)";
        return false;
    }
    for (int a = 0; a < 3; ++a)
        layout.dims[a] = sizes[a];
    header.frames = sizes[3];
    layout.bigEndian = true;
    layout.frame = PatientFrame::ras;
    const bool rasGood = readStoredOrder(data + 28, 2, true) != 0;
    double centre[3] = {0, 0, 0};
    if (rasGood && stateAxes(data, layout)) {
        for (int e = 0; e < 3; ++e) {
            centre[e] = floatAt(data, 78 + 4 * size_t(e));
            if (!std::isfinite(centre[e]))
                centre[e] = 0;
        }
        layout.spacingSource = "the MGH spacing and direction cosines";
        layout.positionSource = "the MGH centre, spacing and direction cosines";
    } else {
        for (int a = 0; a < 3; ++a)
            for (int e = 0; e < 3; ++e)
                layout.directions[a][e] = defaultAxes[a][e];
        layout.spacingSource = layout.positionSource = "the MGH default orientation";
    }
    // The centre is that of sample (width/2, height/2, depth/2).
    for (int e = 0; e < 3; ++e) {
        layout.origin[e] = centre[e];
        for (int a = 0; a < 3; ++a)
            layout.origin[e] -= layout.directions[a][e] * layout.spacing[a] * double(sizes[a]) / 2;
    }
    return true;
}

int64_t mghDataEnd(const MghHeader& header, int64_t maxBytes) {
    const size_t item = sampleTypeSize(header.layout.type);
    const int64_t count = checkedSampleCount(header.layout.dims, item, maxBytes);
    if (count < 0 || count * int64_t(item) > maxBytes - int64_t(mghDataOffset))
        return -1;
    return int64_t(mghDataOffset) + count * int64_t(item);
}

namespace {

std::string mghMemoryRefusal(const MghHeader& header, int64_t maxBytes) {
    return memoryRefusal(
        "the MGH volume",
        claimedSampleBytes(header.layout.dims, sampleTypeSize(header.layout.type)) + mghDataOffset,
        maxBytes);
}

bool readMghSamples(const uint8_t* data, size_t size, const ReadOptions& options, SampleVolume& out,
                    std::string& reason) {
    MghHeader header;
    if (!parseMghHeader(data, size, header, reason))
        return false;
    const int64_t end = mghDataEnd(header, options.maxBytes);
    if (end < 0) {
        reason = mghMemoryRefusal(header, options.maxBytes);
        return false;
    }
    if (int64_t(size) < end) {
        reason = "the MGH data holds " + std::to_string(size - mghDataOffset) +
                 " bytes; its dimensions and type need " +
                 std::to_string(end - int64_t(mghDataOffset));
        return false;
    }
    takeSamples(header.layout, std::vector<uint8_t>(data, data + end), mghDataOffset, out);
    // Said once the volume is read, so that a refusal stays one line.
    if (header.frames > 1)
        fprintf(stderr, "%s: note: %s holds a series of volumes; the first is read\n", programName,
                options.path);
    return true;
}

// An .mgz is inflated only as far as its first frame reaches.
bool mghStreamEnd(const uint8_t* head, size_t size, int64_t maxBytes, int64_t& end,
                  std::string& reason) {
    end = 0;
    MghHeader header;
    std::string ignored;
    if (!startsWithMgh(head, size) || !parseMghHeader(head, size, header, ignored))
        return true;
    end = mghDataEnd(header, maxBytes);
    if (end < 0) {
        reason = mghMemoryRefusal(header, maxBytes);
        return false;
    }
    return true;
}

} // namespace

const char mghHelp[] = "FreeSurfer volumes (.mgh, .mgz; uchar, int, short or float), placed by "
                       "their direction cosines and centre when the header says they are "
                       "valid, else in FreeSurfer's coronal default: need --threshold, grey by "
                       "value. A series of frames gives its first.";

extern const InputFormat mghInput = {"MGH",          {".mgh", ".mgz"}, startsWithMgh, nullptr,
                                     readMghSamples, ColorMode::grey,  mghStreamEnd,  nullptr,
                                     "MGH",          mghHelp};
