#include "read/dicom_reader.h"

#include "platform/program_name.h"
#include "read/child_read.h"
#include "read/data_file.h"
#include "read/dicom_elements.h"
#include "read/dicom_files.h"
#include "read/memory_refusal.h"
#include "read/slice_stack.h"

#include <gdcmDataSet.h>
#include <gdcmFileMetaInformation.h>
#include <gdcmImage.h>
#include <gdcmImageReader.h>
#include <gdcmReader.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmTrace.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder of more entries than this is not a scan: it is refused rather
// than read for minutes.
constexpr size_t mostEntries = 200000;

const gdcm::Tag pixelDataTag(0x7fe0, 0x0010);

// One image file's header: what places its frames and what its pixels are.
struct DicomHeader {
    std::string path, series;
    int64_t rows = 0, columns = 0, frames = 1;
    int samplesPerPixel = 1, bitsAllocated = 0;
    bool positioned = false; // every frame has a position and the orientation is known
    double row[3] = {1, 0, 0}, column[3] = {0, 1, 0};
    double pixelSpacing[2] = {0, 0}; // between rows, between columns
    double thickness = 0;            // Spacing Between Slices, else Slice Thickness
    int64_t instance = 0;
    std::vector<SlicePlace> positions; // one a frame when positioned
    std::vector<double> slopes, intercepts;
    // Why its pixel data cannot be what the header says (found before the
    // decoder would take the data's claimed length), or empty.
    std::string problem;
};

std::string trimmed(const char* text, size_t length) {
    std::string value(text, length);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\0'))
        value.pop_back();
    const size_t start = value.find_first_not_of(' ');
    return start == std::string::npos ? "" : value.substr(start);
}

std::string textOf(const gdcm::DataSet& ds, const gdcm::Tag& tag) {
    if (!ds.FindDataElement(tag))
        return "";
    const gdcm::ByteValue* value = ds.GetDataElement(tag).GetByteValue();
    return value && value->GetPointer() ? trimmed(value->GetPointer(), value->GetLength()) : "";
}

// The numbers of a decimal string value ("a\b\c"); an unreadable one ends
// the list.
std::vector<double> numbersOf(const gdcm::DataSet& ds, const gdcm::Tag& tag) {
    std::vector<double> numbers;
    const std::string text = textOf(ds, tag);
    size_t start = 0;
    while (start <= text.size() && !text.empty() && numbers.size() < 100000) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string part = trimmed(text.data() + start, end - start);
        char* stop = nullptr;
        const double value = strtod(part.c_str(), &stop);
        if (part.empty() || *stop != '\0' || !std::isfinite(value))
            break;
        numbers.push_back(value);
        start = end + 1;
    }
    return numbers;
}

// An unsigned short (Rows, Columns, Bits Allocated): GDCM hands binary
// values over in this machine's order.
int64_t unsignedShortOf(const gdcm::DataSet& ds, const gdcm::Tag& tag) {
    if (!ds.FindDataElement(tag))
        return 0;
    const gdcm::ByteValue* value = ds.GetDataElement(tag).GetByteValue();
    if (!value || value->GetLength() < 2 || !value->GetPointer())
        return 0;
    uint16_t number;
    memcpy(&number, value->GetPointer(), 2);
    return number;
}

// The first item of sequence `tag` in `ds`, or null.
const gdcm::DataSet* firstItem(const gdcm::DataSet& ds, const gdcm::Tag& tag,
                               gdcm::SmartPointer<gdcm::SequenceOfItems>& keep) {
    if (!ds.FindDataElement(tag))
        return nullptr;
    keep = ds.GetDataElement(tag).GetValueAsSQ();
    if (!keep || keep->GetNumberOfItems() < 1)
        return nullptr;
    return &keep->GetItem(1).GetNestedDataSet();
}

// A frame's attribute from its functional groups: the per-frame item's
// sequence `group`, else the shared one's, else the top level.
std::vector<double> frameNumbers(const gdcm::DataSet& ds, const gdcm::DataSet* perFrame,
                                 const gdcm::DataSet* shared, const gdcm::Tag& group,
                                 const gdcm::Tag& tag) {
    for (const gdcm::DataSet* source : {perFrame, shared}) {
        gdcm::SmartPointer<gdcm::SequenceOfItems> keep;
        const gdcm::DataSet* item = source ? firstItem(*source, group, keep) : nullptr;
        if (item && item->FindDataElement(tag))
            return numbersOf(*item, tag);
    }
    return numbersOf(ds, tag);
}

bool unitVectors(const std::vector<double>& orientation, double row[3], double column[3]) {
    if (orientation.size() != 6)
        return false;
    for (int c = 0; c < 3; ++c)
        row[c] = orientation[size_t(c)], column[c] = orientation[size_t(c) + 3];
    for (double* v : {row, column}) {
        const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (!(length > 1e-6) || !std::isfinite(length))
            return false;
        for (int c = 0; c < 3; ++c)
            v[c] /= length;
    }
    return true;
}

// Encapsulated (compressed) pixel data must hold its every fragment and the
// delimiter after them: a decoder handed a cut stream may decode the part
// it has and pad the rest.
std::string fragmentsProblem(const std::string& path, uint64_t valueAt, bool little) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "cannot be opened";
    uint64_t at = valueAt;
    std::string problem = "has compressed pixel data that ends before its last fragment";
    uint8_t item[8];
    while (pread(fd, item, sizeof item, off_t(at)) == ssize_t(sizeof item)) {
        const uint16_t group =
            little ? uint16_t(item[0] | item[1] << 8) : uint16_t(item[0] << 8 | item[1]);
        const uint16_t element =
            little ? uint16_t(item[2] | item[3] << 8) : uint16_t(item[2] << 8 | item[3]);
        const uint32_t length = little ? uint32_t(item[4]) | uint32_t(item[5]) << 8 |
                                             uint32_t(item[6]) << 16 | uint32_t(item[7]) << 24
                                       : uint32_t(item[7]) | uint32_t(item[6]) << 8 |
                                             uint32_t(item[5]) << 16 | uint32_t(item[4]) << 24;
        if (group == 0xfffe && element == 0xe0dd) {
            problem.clear();
            break;
        }
        if (group != 0xfffe || element != 0xe000) {
            problem = "has compressed pixel data whose fragments are damaged";
            break;
        }
        at += 8 + uint64_t(length);
    }
    close(fd);
    return problem;
}

// Checks the Pixel Data element whose value starts at `valueAt` (where the
// header's reading stopped) in the file at `path`: uncompressed data must
// claim no more bytes than the file holds after it, and at least `needed`,
// before the decoder takes the claimed length. Encapsulated (compressed)
// data, of undefined length, is bounded by the file anyway.
std::string pixelDataProblem(const std::string& path, size_t valueAt, uint64_t needed) {
    if (valueAt < 8)
        return "";
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "cannot be opened";
    struct stat info;
    uint8_t element[12] = {};
    const size_t before = std::min<size_t>(valueAt, 12);
    const bool read = fstat(fd, &info) == 0 && pread(fd, element + 12 - before, before,
                                                     off_t(valueAt - before)) == ssize_t(before);
    close(fd);
    if (!read)
        return "";
    // An explicit VR header is 12 bytes (tag, VR, reserved, length), an
    // implicit one 8 (tag, length); either byte order.
    auto tagAt = [&](const uint8_t* at, bool& little) {
        little = at[0] == 0xe0 && at[1] == 0x7f && at[2] == 0x10 && at[3] == 0x00;
        return little || (at[0] == 0x7f && at[1] == 0xe0 && at[2] == 0x00 && at[3] == 0x10);
    };
    bool little = true;
    const uint8_t* length = nullptr;
    if (before == 12 && tagAt(element, little) && element[4] >= 'A' && element[4] <= 'Z')
        length = element + 8;
    else if (tagAt(element + 4, little))
        length = element + 8;
    if (!length)
        return ""; // a deflated data set: positions are the inflated stream's
    const uint64_t claimed = little ? uint64_t(length[0]) | uint64_t(length[1]) << 8 |
                                          uint64_t(length[2]) << 16 | uint64_t(length[3]) << 24
                                    : uint64_t(length[3]) | uint64_t(length[2]) << 8 |
                                          uint64_t(length[1]) << 16 | uint64_t(length[0]) << 24;
    if (claimed == 0xffffffff)
        return fragmentsProblem(path, valueAt, little);
    const uint64_t after = uint64_t(info.st_size) > valueAt ? uint64_t(info.st_size) - valueAt : 0;
    if (claimed > after || claimed < needed)
        return "holds " + std::to_string(std::min(claimed, after)) +
               " bytes of pixel data; its rows, columns and frames need " + std::to_string(needed);
    return "";
}

// Reads the header of the image file at `path` (up to its pixel data).
// False when it is not an image (a DICOMDIR, a report) or cannot be parsed.
bool readHeader(const std::string& path, int64_t maxFrames, DicomHeader& header) {
    gdcm::Reader reader;
    reader.SetFileName(path.c_str());
    // The pixel data's value is passed over, not read: its length is
    // checked below first.
    if (!reader.ReadUpToTag(pixelDataTag, {pixelDataTag}))
        return false;
    const gdcm::DataSet& ds = reader.GetFile().GetDataSet();
    header = DicomHeader();
    header.path = path;
    header.rows = unsignedShortOf(ds, gdcm::Tag(0x0028, 0x0010));
    header.columns = unsignedShortOf(ds, gdcm::Tag(0x0028, 0x0011));
    header.bitsAllocated = int(unsignedShortOf(ds, gdcm::Tag(0x0028, 0x0100)));
    header.samplesPerPixel = int(unsignedShortOf(ds, gdcm::Tag(0x0028, 0x0002)));
    if (header.samplesPerPixel == 0)
        header.samplesPerPixel = 1;
    if (header.rows < 1 || header.columns < 1 || header.bitsAllocated < 1)
        return false;
    header.series = textOf(ds, gdcm::Tag(0x0020, 0x000e));
    const std::vector<double> frames = numbersOf(ds, gdcm::Tag(0x0028, 0x0008));
    if (!frames.empty()) {
        // Every frame takes at least a byte of the file in any encoding, so
        // a claim of more is refused before anything is kept per frame.
        struct stat info;
        if (stat(path.c_str(), &info) != 0 || !(frames[0] >= 1) ||
            frames[0] > double(std::min<int64_t>(maxFrames, info.st_size)))
            return false;
        header.frames = int64_t(frames[0]);
    }
    const std::vector<double> instance = numbersOf(ds, gdcm::Tag(0x0020, 0x0013));
    if (!instance.empty() && std::fabs(instance[0]) < 1e15)
        header.instance = int64_t(instance[0]);
    for (const gdcm::Tag& tag : {gdcm::Tag(0x0018, 0x0088), gdcm::Tag(0x0018, 0x0050)}) {
        const std::vector<double> thickness = numbersOf(ds, tag);
        if (header.thickness <= 0 && !thickness.empty() && thickness[0] > 0)
            header.thickness = thickness[0];
    }
    gdcm::SmartPointer<gdcm::SequenceOfItems> sharedKeep, perFrameKeep;
    const gdcm::DataSet* shared = firstItem(ds, gdcm::Tag(0x5200, 0x9229), sharedKeep);
    if (ds.FindDataElement(gdcm::Tag(0x5200, 0x9230)))
        perFrameKeep = ds.GetDataElement(gdcm::Tag(0x5200, 0x9230)).GetValueAsSQ();
    const bool functional =
        perFrameKeep && int64_t(perFrameKeep->GetNumberOfItems()) >= header.frames;
    const std::vector<double> scaling = numbersOf(ds, gdcm::Tag(0x3004, 0x000e));
    const std::vector<double> offsets = numbersOf(ds, gdcm::Tag(0x3004, 0x000c));
    const gdcm::Tag orientationTag(0x0020, 0x0037), positionTag(0x0020, 0x0032);
    const gdcm::Tag spacingTag(0x0028, 0x0030), slopeTag(0x0028, 0x1053),
        interceptTag(0x0028, 0x1052);
    header.positioned = true;
    for (int64_t f = 0; f < header.frames; ++f) {
        const gdcm::DataSet* perFrame =
            functional ? &perFrameKeep->GetItem(size_t(f) + 1).GetNestedDataSet() : nullptr;
        if (f == 0) {
            header.positioned = unitVectors(
                frameNumbers(ds, perFrame, shared, gdcm::Tag(0x0020, 0x9116), orientationTag),
                header.row, header.column);
            const std::vector<double> spacing =
                frameNumbers(ds, perFrame, shared, gdcm::Tag(0x0028, 0x9110), spacingTag);
            if (spacing.size() == 2 && spacing[0] > 0 && spacing[1] > 0)
                header.pixelSpacing[0] = spacing[0], header.pixelSpacing[1] = spacing[1];
            if (!functional && header.thickness <= 0) {
                gdcm::SmartPointer<gdcm::SequenceOfItems> keep;
                const gdcm::DataSet* measures =
                    shared ? firstItem(*shared, gdcm::Tag(0x0028, 0x9110), keep) : nullptr;
                const std::vector<double> thick =
                    measures ? numbersOf(*measures, gdcm::Tag(0x0018, 0x0050))
                             : std::vector<double>();
                if (!thick.empty() && thick[0] > 0)
                    header.thickness = thick[0];
            }
        }
        std::vector<double> position =
            frameNumbers(ds, perFrame, shared, gdcm::Tag(0x0020, 0x9113), positionTag);
        SlicePlace place;
        if (position.size() == 3) {
            for (int c = 0; c < 3; ++c)
                place.position[c] = position[size_t(c)];
            // An RT dose grid's frames lie at offsets along the normal from the
            // first: relative when the first offset is 0, else absolute.
            if (!functional && header.frames > 1 && offsets.size() == size_t(header.frames)) {
                double n[3] = {header.row[1] * header.column[2] - header.row[2] * header.column[1],
                               header.row[2] * header.column[0] - header.row[0] * header.column[2],
                               header.row[0] * header.column[1] - header.row[1] * header.column[0]};
                const double step = offsets[size_t(f)] - offsets[0];
                for (int c = 0; c < 3; ++c)
                    place.position[c] += step * n[c];
            } else if (!functional && header.frames > 1) {
                header.positioned = false;
            }
        } else {
            header.positioned = false;
        }
        header.positions.push_back(place);
        std::vector<double> slope =
            frameNumbers(ds, perFrame, shared, gdcm::Tag(0x0028, 0x9145), slopeTag);
        std::vector<double> intercept =
            frameNumbers(ds, perFrame, shared, gdcm::Tag(0x0028, 0x9145), interceptTag);
        double s = !slope.empty() && slope[0] != 0 ? slope[0] : 1.0;
        if (!scaling.empty() && scaling[0] != 0)
            s *= scaling[0];
        header.slopes.push_back(s);
        header.intercepts.push_back(intercept.empty() ? 0.0 : intercept[0]);
    }
    const uint64_t needed = uint64_t(header.rows) * uint64_t(header.columns) *
                            uint64_t(header.samplesPerPixel) *
                            uint64_t((header.bitsAllocated + 7) / 8) * uint64_t(header.frames);
    header.problem = pixelDataProblem(path, reader.GetStreamCurrentPosition(), needed);
    return true;
}

// The Referenced File IDs of a DICOMDIR's records, as paths beside it; the
// DICOMDIR itself and names that leave its folder are passed over.
bool dicomdirFiles(const std::string& path, const std::string& output,
                   std::vector<std::string>& files, std::string& error) {
    gdcm::Reader reader;
    reader.SetFileName(path.c_str());
    if (!reader.Read()) {
        error = "its DICOMDIR cannot be parsed";
        return false;
    }
    const gdcm::DataSet& ds = reader.GetFile().GetDataSet();
    const gdcm::Tag records(0x0004, 0x1220);
    if (!ds.FindDataElement(records)) {
        error = "its DICOMDIR has no directory records";
        return false;
    }
    gdcm::SmartPointer<gdcm::SequenceOfItems> items = ds.GetDataElement(records).GetValueAsSQ();
    struct stat self, outputInfo;
    const bool selfKnown = stat(path.c_str(), &self) == 0;
    const bool outputKnown = !output.empty() && stat(output.c_str(), &outputInfo) == 0;
    for (size_t n = 1; items && n <= items->GetNumberOfItems() && files.size() < mostEntries; ++n) {
        std::string name = textOf(items->GetItem(n).GetNestedDataSet(), gdcm::Tag(0x0004, 0x1500));
        if (name.empty())
            continue;
        std::replace(name.begin(), name.end(), '\\', '/');
        std::string file, ignored;
        struct stat info;
        if (!dataFilePath(path, name, file, ignored) || stat(file.c_str(), &info) != 0 ||
            (selfKnown && info.st_dev == self.st_dev && info.st_ino == self.st_ino) ||
            (outputKnown && info.st_dev == outputInfo.st_dev && info.st_ino == outputInfo.st_ino))
            continue;
        if (isDicomFile(file))
            files.push_back(file);
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    if (files.empty()) {
        error = "its DICOMDIR names no DICOM file in its folder or below, other than itself";
        return false;
    }
    return true;
}

bool isDicomdir(const std::string& path) {
    gdcm::Reader reader;
    reader.SetFileName(path.c_str());
    if (!reader.ReadUpToTag(gdcm::Tag(0x0008, 0x0000)))
        return false;
    return textOf(reader.GetFile().GetHeader(), gdcm::Tag(0x0002, 0x0002)) ==
           "1.2.840.10008.1.3.10";
}

struct Series {
    std::string uid;
    std::vector<size_t> files; // into the headers
    int64_t images = 0;
};

std::string seriesList(const std::vector<Series>& all, size_t chosen) {
    std::string list;
    size_t shown = 0;
    for (size_t s = 0; s < all.size(); ++s) {
        if (s == chosen)
            continue;
        if (++shown > 8) {
            list += ", ...";
            break;
        }
        list += std::string(list.empty() ? "" : ", ") + std::to_string(s + 1) + ": " +
                (all[s].uid.empty() ? "(no UID)" : all[s].uid) + " (" +
                std::to_string(all[s].images) + " images)";
    }
    return list;
}

// Which sample type a file's pixels are stored as.
bool storedType(int bitsAllocated, bool isSigned, SampleType& type) {
    switch (bitsAllocated) {
    case 8:
        type = isSigned ? SampleType::int8 : SampleType::uint8;
        return true;
    case 16:
        type = isSigned ? SampleType::int16 : SampleType::uint16;
        return true;
    case 32:
        type = isSigned ? SampleType::int32 : SampleType::uint32;
        return true;
    default:
        return false;
    }
}

// Keeps the low `bitsStored` bits of each sample, sign-extended when the
// samples are signed, then inverts MONOCHROME1 (whose high values are dark)
// within that range.
template <typename T>
void fixStoredBits(T* samples, size_t count, int bitsStored, bool isSigned, bool invert) {
    using U = std::make_unsigned_t<T>;
    const int bits = int(8 * sizeof(T));
    const int kept = bitsStored >= 1 && bitsStored < bits ? bitsStored : bits;
    for (size_t n = 0; n < count; ++n) {
        U raw = U(samples[n]);
        if (kept < bits) {
            raw &= U((U(1) << kept) - 1);
            if (isSigned && (raw >> (kept - 1)) & 1)
                raw |= U(~((U(1) << kept) - 1));
        }
        T value = T(raw);
        if (invert)
            value =
                isSigned ? T(-1 - int64_t(value)) : T(((uint64_t(1) << kept) - 1) - uint64_t(raw));
        samples[n] = value;
    }
}

// What each file of the series is decoded into.
struct Target {
    SampleType stored = SampleType::uint8;
    bool isSigned = false;
    int bitsStored = 0;
    bool floats = false; // slices differ in scaling: float samples, scaled
    int channels = 1;
    int64_t sliceSamples = 0; // rows * columns
};

// The JPEG libraries inside GDCM print their complaints on stderr whatever
// its trace settings say; a refusal must stay one line, so stderr is sent
// to /dev/null while a file decodes. Returns the descriptor to restore.
int silenceStderr() {
    fflush(stderr);
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0)
        dup2(null, 2);
    if (null >= 0)
        close(null);
    return saved;
}

void restoreStderr(int saved) {
    if (saved < 0)
        return;
    dup2(saved, 2);
    close(saved);
}

// Decodes the file of `header` and puts each frame at its index.
bool decodeFile(const DicomHeader& header, const std::vector<int64_t>& indexOfFrame,
                const Target& target, std::vector<uint8_t>& storage, std::vector<bool>& filled,
                std::string& reason) {
    gdcm::ImageReader reader;
    reader.SetFileName(header.path.c_str());
    const std::string name = shownPath(header.path);
    if (!reader.Read()) {
        reason = "its file " + name + " cannot be decoded";
        return false;
    }
    const gdcm::Image& image = reader.GetImage();
    const size_t item = sampleTypeSize(target.stored);
    const size_t frameBytes = size_t(target.sliceSamples) * size_t(target.channels) * item;
    // Uncompressed pixel data shorter than its rows, columns and frames
    // need would otherwise decode padded.
    const gdcm::DataSet& ds = reader.GetFile().GetDataSet();
    const gdcm::ByteValue* raw =
        ds.FindDataElement(pixelDataTag) ? ds.GetDataElement(pixelDataTag).GetByteValue() : nullptr;
    if (raw && raw->GetLength() < frameBytes * size_t(header.frames)) {
        reason = "its file " + name + " holds " + std::to_string(raw->GetLength()) +
                 " bytes of pixel data; its rows, columns and frames need " +
                 std::to_string(frameBytes * size_t(header.frames));
        return false;
    }
    const gdcm::PixelFormat& format = image.GetPixelFormat();
    const int64_t frames = image.GetNumberOfDimensions() >= 3 ? image.GetDimension(2) : 1;
    if (image.GetColumns() != header.columns || image.GetRows() != header.rows ||
        frames != header.frames || format.GetBitsAllocated() != header.bitsAllocated ||
        format.GetSamplesPerPixel() != header.samplesPerPixel ||
        int(format.GetPixelRepresentation()) != int(target.isSigned) ||
        format.GetBitsStored() != target.bitsStored) {
        reason = "its file " + name + " differs from the series' first in its size or pixels";
        return false;
    }
    if (image.GetBufferLength() != frameBytes * size_t(frames)) {
        reason = "its file " + name + " holds pixels of another size than its header says";
        return false;
    }
    std::vector<char> pixels(frameBytes * size_t(frames));
    if (!image.GetBuffer(pixels.data())) {
        reason = "its file " + name + " has pixel data that does not decode (short or damaged)";
        return false;
    }
    const gdcm::PhotometricInterpretation::PIType pi =
        image.GetPhotometricInterpretation().GetType();
    const bool invert = pi == gdcm::PhotometricInterpretation::MONOCHROME1;
    const bool planar = target.channels == 3 && image.GetPlanarConfiguration() == 1;
    const bool ybr = pi == gdcm::PhotometricInterpretation::YBR_FULL;
    for (int64_t f = 0; f < frames; ++f) {
        const int64_t k = indexOfFrame[size_t(f)];
        if (k < 0)
            continue;
        char* frame = pixels.data() + size_t(f) * frameBytes;
        if (target.channels == 1) {
            withSampleType(target.stored, [&](auto* type) {
                using T = std::remove_pointer_t<decltype(type)>;
                if constexpr (std::is_integral_v<T> && !std::is_same_v<T, int64_t> &&
                              !std::is_same_v<T, uint64_t>)
                    fixStoredBits(reinterpret_cast<T*>(frame), size_t(target.sliceSamples),
                                  target.bitsStored, target.isSigned, invert);
                if (!target.floats) {
                    memcpy(storage.data() + size_t(k) * frameBytes, frame, frameBytes);
                    return;
                }
                float* into = reinterpret_cast<float*>(storage.data()) +
                              size_t(k) * size_t(target.sliceSamples);
                const T* from = reinterpret_cast<const T*>(frame);
                const double slope = header.slopes[size_t(f)];
                const double intercept = header.intercepts[size_t(f)];
                for (int64_t n = 0; n < target.sliceSamples; ++n)
                    into[n] = float(slope * double(from[n]) + intercept);
            });
        } else {
            uint8_t* into = storage.data() + size_t(k) * frameBytes;
            const auto* from = reinterpret_cast<const uint8_t*>(frame);
            const size_t count = size_t(target.sliceSamples);
            for (size_t n = 0; n < count; ++n) {
                uint8_t c[3];
                for (size_t ch = 0; ch < 3; ++ch)
                    c[ch] = planar ? from[ch * count + n] : from[3 * n + ch];
                if (ybr) {
                    const double y = c[0], cb = c[1] - 128.0, cr = c[2] - 128.0;
                    const double rgb[3] = {y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr,
                                           y + 1.772 * cb};
                    for (int ch = 0; ch < 3; ++ch)
                        c[ch] = uint8_t(std::clamp(std::lround(rgb[ch]), 0L, 255L));
                }
                memcpy(into + 3 * n, c, 3);
            }
        }
        filled[size_t(k)] = true;
    }
    return true;
}

bool decodeFileQuietly(const DicomHeader& header, const std::vector<int64_t>& indexOfFrame,
                       const Target& target, std::vector<uint8_t>& storage,
                       std::vector<bool>& filled, std::string& reason) {
    const int saved = silenceStderr();
    bool decoded = false;
    try {
        decoded = decodeFile(header, indexOfFrame, target, storage, filled, reason);
    } catch (...) {
        restoreStderr(saved);
        throw;
    }
    restoreStderr(saved);
    return decoded;
}

// The photometric interpretation and stored bits of the series' first file,
// read by the decoder's own rules.
bool pixelsOf(const DicomHeader& header, Target& target, std::string& reason) {
    gdcm::Reader reader;
    reader.SetFileName(header.path.c_str());
    // Only the header: the pixel module's fields come before the data.
    if (!reader.ReadUpToTag(pixelDataTag, {pixelDataTag})) {
        reason = "its file " + shownPath(header.path) + " cannot be parsed";
        return false;
    }
    const gdcm::DataSet& ds = reader.GetFile().GetDataSet();
    target.isSigned = unsignedShortOf(ds, gdcm::Tag(0x0028, 0x0103)) == 1;
    target.bitsStored = int(unsignedShortOf(ds, gdcm::Tag(0x0028, 0x0101)));
    if (target.bitsStored < 1 || target.bitsStored > header.bitsAllocated)
        target.bitsStored = header.bitsAllocated;
    const std::string pi = textOf(ds, gdcm::Tag(0x0028, 0x0004));
    if (header.samplesPerPixel == 3) {
        if (header.bitsAllocated != 8 || target.isSigned ||
            (pi != "RGB" && pi != "YBR_FULL" && pi.rfind("YBR_", 0) != 0)) {
            reason = "its colour images (" + pi + ", " + std::to_string(header.bitsAllocated) +
                     " bits) are not 8-bit RGB";
            return false;
        }
        target.channels = 3;
        target.stored = SampleType::uint8;
        return true;
    }
    if (header.samplesPerPixel != 1 || pi.rfind("MONOCHROME", 0) != 0) {
        reason = "its images are " + (pi.empty() ? std::string("of no stated kind") : pi) +
                 ", neither greyscale (MONOCHROME1 or 2) nor RGB";
        return false;
    }
    if (!storedType(header.bitsAllocated, target.isSigned, target.stored)) {
        reason = "its samples of " + std::to_string(header.bitsAllocated) +
                 " bits are not 8, 16 or 32 bits";
        return false;
    }
    return true;
}

bool readSeries(const char* path, const ReadOptions& options, SampleVolume& out,
                std::string& reason) {
    struct stat info;
    if (stat(path, &info) != 0) {
        reason = std::string("it cannot be opened: ") + strerror(errno);
        return false;
    }
    const std::string output = options.output ? options.output : "";
    std::vector<std::string> files;
    std::string fileSeries; // the series of a file given as the input
    bool givenFile = false;
    std::string folder = path;
    if (S_ISDIR(info.st_mode)) {
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        const std::string dicomdir = folder + "/DICOMDIR";
        std::string problem;
        if (isDicomFile(dicomdir) && !dicomElementsFit(dicomdir, options.maxBytes, problem)) {
            reason = "its DICOMDIR " + problem;
            return false;
        }
        if (isDicomFile(dicomdir) && isDicomdir(dicomdir)) {
            if (!dicomdirFiles(dicomdir, output, files, reason))
                return false;
        } else if (!dicomFilesIn(folder, output, mostEntries, files, reason)) {
            return false;
        }
    } else if (!dicomElementsFit(path, options.maxBytes, reason)) {
        reason = "it " + reason;
        return false;
    } else if (isDicomdir(path)) {
        if (!dicomdirFiles(path, output, files, reason))
            return false;
    } else {
        DicomHeader own;
        if (!readHeader(path, options.maxBytes, own)) {
            reason = "it holds no image that can be parsed";
            return false;
        }
        fileSeries = own.series;
        givenFile = true;
        const size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
        if (!dicomFilesIn(folder, output, mostEntries, files, reason))
            return false;
        // Its own series, when it has no UID to share, is the file alone.
        if (own.series.empty())
            files = {path};
    }
    // Files whose elements claim more than they hold never reach GDCM,
    // which would take the claims at their word.
    std::vector<DicomHeader> headers;
    std::string firstDamage;
    size_t damaged = 0;
    for (const std::string& file : files) {
        DicomHeader header;
        std::string problem;
        if (!dicomElementsFit(file, options.maxBytes, problem)) {
            if (++damaged == 1)
                firstDamage = shownPath(file) + " " + problem;
            continue;
        }
        if (readHeader(file, options.maxBytes, header))
            headers.push_back(std::move(header));
    }
    if (headers.empty()) {
        reason = files.empty() ? "it holds no DICOM file"
                 : damaged > 0 ? "it holds no DICOM image that can be parsed: " + firstDamage
                               : "it holds no DICOM image";
        return false;
    }
    std::vector<std::string> notes;
    if (damaged > 0)
        notes.push_back("has " + std::to_string(damaged) +
                        " damaged DICOM files, left out (the first: " + firstDamage + ")");
    std::map<std::string, size_t> bySeries;
    std::vector<Series> all;
    for (size_t h = 0; h < headers.size(); ++h) {
        auto found = bySeries.emplace(headers[h].series, all.size());
        if (found.second)
            all.push_back(Series{headers[h].series, {}, 0});
        Series& series = all[found.first->second];
        series.files.push_back(h);
        series.images += headers[h].frames;
    }
    std::stable_sort(all.begin(), all.end(), [](const Series& a, const Series& b) {
        return a.images != b.images ? a.images > b.images : a.uid < b.uid;
    });
    size_t chosen = 0;
    const std::string wanted = options.series ? options.series : "";
    if (!wanted.empty()) {
        char* end = nullptr;
        const long number = strtol(wanted.c_str(), &end, 10);
        chosen = all.size();
        for (size_t s = 0; s < all.size(); ++s)
            if (all[s].uid == wanted)
                chosen = s;
        if (chosen == all.size() && *end == '\0' && number >= 1 && size_t(number) <= all.size())
            chosen = size_t(number) - 1;
        if (chosen == all.size()) {
            reason =
                "it holds no series " + wanted + "; its series are " + seriesList(all, all.size());
            return false;
        }
    } else if (!fileSeries.empty()) {
        for (size_t s = 0; s < all.size(); ++s)
            if (all[s].uid == fileSeries)
                chosen = s;
    }
    const Series& series = all[chosen];
    const DicomHeader& first = headers[series.files.front()];
    for (size_t h : series.files)
        if (headers[h].rows != first.rows || headers[h].columns != first.columns ||
            headers[h].samplesPerPixel != first.samplesPerPixel ||
            headers[h].bitsAllocated != first.bitsAllocated) {
            reason = "its series mixes images of " + std::to_string(first.columns) + "x" +
                     std::to_string(first.rows) + " and " + std::to_string(headers[h].columns) +
                     "x" + std::to_string(headers[h].rows) + " pixels or of other pixel types";
            return false;
        }
    for (size_t h : series.files)
        if (!headers[h].problem.empty()) {
            reason = "its file " + shownPath(headers[h].path) + " " + headers[h].problem;
            return false;
        }
    Target target;
    if (!pixelsOf(first, target, reason))
        return false;
    target.sliceSamples = first.rows * first.columns;
    // Every frame of the series, and where it goes.
    std::vector<SlicePlace> places;
    std::vector<std::pair<size_t, int64_t>> frameOf; // header, frame
    bool positioned = true, sameScaling = true, sameOrientation = true;
    for (size_t h : series.files) {
        const DicomHeader& header = headers[h];
        positioned = positioned && header.positioned;
        for (int c = 0; c < 3; ++c)
            sameOrientation = sameOrientation && std::fabs(header.row[c] - first.row[c]) < 1e-3 &&
                              std::fabs(header.column[c] - first.column[c]) < 1e-3;
        for (int64_t f = 0; f < header.frames; ++f) {
            places.push_back(header.positions[size_t(f)]);
            frameOf.emplace_back(h, f);
            sameScaling = sameScaling && header.slopes[size_t(f)] == first.slopes[0] &&
                          header.intercepts[size_t(f)] == first.intercepts[0];
        }
    }
    if (!positioned) {
        // With no positions, frames stay in their files' order and files go
        // by Instance Number, evenly spaced, in no patient frame.
        std::vector<size_t> order(places.size());
        std::vector<int64_t> instance(places.size());
        for (size_t n = 0; n < places.size(); ++n)
            order[n] = n, instance[n] = headers[frameOf[n].first].instance;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return instance[a] < instance[b]; });
        const double step = first.thickness > 0 ? first.thickness : 1.0;
        for (size_t n = 0; n < order.size(); ++n) {
            places[order[n]] = SlicePlace();
            places[order[n]].position[2] = step * double(n);
        }
        if (places.size() > 1)
            notes.push_back("gives no Image Position and Orientation (Patient) for every image; "
                            "its images are stacked by Instance Number, in no patient frame");
    } else if (!sameOrientation) {
        notes.push_back("has images of more than one orientation; all are placed as the first");
    }
    const double unitRow[3] = {1, 0, 0}, unitColumn[3] = {0, 1, 0};
    target.floats = !sameScaling && target.channels == 1;
    const size_t outItem =
        target.floats ? 4 : sampleTypeSize(target.stored) * size_t(target.channels);
    const int64_t maxDepth = std::max<int64_t>(
        1, options.maxBytes / std::max<int64_t>(1, target.sliceSamples * int64_t(outItem)));
    SliceStack stack;
    if (!stackSlices(places, positioned ? first.row : unitRow,
                     positioned ? first.column : unitColumn, first.thickness, maxDepth, stack,
                     reason)) {
        if (reason.rfind("its slice positions span", 0) == 0)
            reason = memoryRefusal("the DICOM series' volume",
                                   (long double)(maxDepth + 1) * target.sliceSamples * outItem,
                                   options.maxBytes);
        return false;
    }
    const int64_t dims[3] = {first.columns, first.rows, stack.depth};
    if (checkedSampleCount(dims, outItem, options.maxBytes) < 0) {
        reason = memoryRefusal("the DICOM series' volume", claimedSampleBytes(dims, outItem),
                               options.maxBytes);
        return false;
    }
    std::vector<uint8_t> storage(size_t(dims[0] * dims[1] * dims[2]) * outItem);
    std::vector<bool> filled(size_t(stack.depth), false);
    size_t at = 0;
    for (size_t h : series.files) {
        const DicomHeader& header = headers[h];
        std::vector<int64_t> indexOfFrame(size_t(header.frames));
        for (int64_t f = 0; f < header.frames; ++f)
            indexOfFrame[size_t(f)] = stack.index[at++];
        if (!decodeFileQuietly(header, indexOfFrame, target, storage, filled, reason))
            return false;
    }
    // Empty places take the lowest value of the volume, below any threshold
    // that keeps something of it.
    if (std::find(filled.begin(), filled.end(), false) != filled.end() && target.channels == 1) {
        withSampleType(target.floats ? SampleType::float32 : target.stored, [&](auto* type) {
            using T = std::remove_pointer_t<decltype(type)>;
            const T* samples = reinterpret_cast<const T*>(storage.data());
            T lowest = T();
            bool any = false;
            for (int64_t k = 0; k < stack.depth; ++k)
                if (filled[size_t(k)])
                    for (int64_t n = 0; n < target.sliceSamples; ++n) {
                        const T v = samples[size_t(k * target.sliceSamples + n)];
                        if (!any || v < lowest)
                            lowest = v, any = true;
                    }
            T* writable = reinterpret_cast<T*>(storage.data());
            for (int64_t k = 0; k < stack.depth; ++k)
                if (!filled[size_t(k)])
                    std::fill(writable + k * target.sliceSamples,
                              writable + (k + 1) * target.sliceSamples, lowest);
        });
    }
    out = SampleVolume();
    for (int a = 0; a < 3; ++a)
        out.dims[a] = dims[a];
    setSampleOrder(out, true);
    out.type = target.floats ? SampleType::float32 : target.stored;
    out.meaning = SampleMeaning::values;
    if (target.channels == 3) {
        for (int64_t& stride : out.strides)
            stride *= 3;
        out.channels = 3;
        out.channelStride = 1;
        out.meaning = SampleMeaning::occupancy;
    }
    if (!target.floats) {
        out.slope = first.slopes[0];
        out.intercept = first.intercepts[0];
    }
    out.spacing[0] = first.pixelSpacing[1] > 0 ? first.pixelSpacing[1] : 1.0;
    out.spacing[1] = first.pixelSpacing[0] > 0 ? first.pixelSpacing[0] : 1.0;
    out.spacing[2] = stack.spacing;
    out.spacingSource = "Pixel Spacing and the slice positions";
    if (positioned) {
        out.frame = PatientFrame::lps;
        for (int c = 0; c < 3; ++c) {
            out.directions[0][c] = first.row[c];
            out.directions[1][c] = first.column[c];
            out.directions[2][c] = stack.normal[c];
            out.origin[c] = places[size_t(stack.first)].position[c];
        }
        out.positionSource = "Image Position and Orientation (Patient)";
    } else {
        out.positionSource = "the order of its images";
    }
    out.storage = std::move(storage);
    if (positioned)
        notes.insert(notes.end(), stack.notes.begin(), stack.notes.end());
    // A file given as the input stands for its own series: the folder's
    // others are not worth a note then.
    if (all.size() > 1 && !givenFile)
        notes.push_back(
            "holds " + std::to_string(all.size()) + " series; read " + std::to_string(chosen + 1) +
            ": " + series.uid + " (" + std::to_string(series.images) +
            " images); the others: " + seriesList(all, chosen) + " (choose one with --series)");
    // Said once the volume is read, so that a refusal stays one line.
    for (const std::string& note : notes)
        fprintf(stderr, "%s: note: %s %s\n", programName, path, note.c_str());
    return true;
}

// The reader proper, in the process that calls it.
bool readDicomHere(const char* path, const ReadOptions& options, SampleVolume& out,
                   std::string& reason) {
    // GDCM's own warnings would break the one line a refusal is.
    gdcm::Trace::SetDebug(false);
    gdcm::Trace::SetWarning(false);
    gdcm::Trace::SetError(false);
    try {
        return readSeries(path, options, out, reason);
    } catch (const std::bad_alloc&) {
        reason =
            memoryRefusal("the DICOM series", (long double)options.maxBytes + 1, options.maxBytes);
    } catch (const std::exception& e) {
        reason = std::string("its data cannot be parsed (") + e.what() + ")";
    } catch (...) {
        reason = "its data cannot be parsed";
    }
    return false;
}

} // namespace

// GDCM as Debian builds it asserts on some damaged files: it runs in a child.
bool readDicomSeries(const char* path, const ReadOptions& options, SampleVolume& out,
                     std::string& reason) {
    // A file whose elements claim more than it holds is refused here,
    // without a child to start.
    struct stat info;
    if (stat(path, &info) == 0 && S_ISREG(info.st_mode) &&
        !dicomElementsFit(path, options.maxBytes, reason)) {
        reason = "it " + reason;
        return false;
    }
    return readSamplesInChild(readDicomHere, path, options, out, reason);
}

namespace {

bool isDicom(const uint8_t* head, size_t size) {
    return startsWithDicm(head, size);
}

const char dicomHelp[] =
    "DICOM series (CT, MR, RT dose; every common transfer syntax, compressed "
    "or not, through GDCM): a folder, one file of a series (its series is gathered from its "
    "folder by Series Instance UID) or a DICOMDIR. Slices are ordered and spaced by their "
    "positions along the slice normal and placed by Image Orientation and Position (Patient); "
    "Rescale Slope and Intercept apply, so that CT is in Hounsfield units (--threshold 300 is "
    "bone). A folder of several series reads the one with the most images and names the others "
    "(--series picks one). Multi-frame files are volumes too; RGB images keep their colours.";

} // namespace

extern const InputFormat dicomInput = {
    "DICOM", {".dcm"}, isDicom,   nullptr,         nullptr,       ColorMode::grey,  nullptr,
    nullptr, "DICOM",  dicomHelp, readDicomSeries, isDicomFolder, dicomSeriesBytes, true};
