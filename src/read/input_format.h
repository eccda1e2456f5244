// One row of the converter's table of input formats (convert/input_table):
// how a format is recognised, what reads it, and what else its header may
// lead to. Each reader's file ends with its row, `extern const InputFormat
// xxxInput = {...};` (extern: a const at namespace scope would otherwise be
// its file's alone), and the table names it in one line.
//
// A reader gets the whole input in memory (gzip already unwrapped) and
// gives back samples or voxels; it never calls up into the table or into
// the step from samples to voxels. It must check every size, count and
// offset the file claims against the bytes present, and every claim against
// `maxBytes`, before it allocates what is claimed.
#pragma once

#include "samples/sample_volume.h"
#include "samples/volume_colors.h"
#include "voxels/voxel_grid.h"

#include <cstddef>
#include <cstdint>
#include <string>

// How many leading bytes a content test is shown (fewer when the input is
// shorter).
constexpr size_t inputHeadBytes = 512;

// What a reader is told besides the bytes.
struct ReadOptions {
    const char* path = "";                // the input as named on the command line
    int64_t maxVoxels = defaultMaxVoxels; // refuse to build more voxels than this
    // No size a header claims is taken up beyond this many bytes (the
    // memory cap), nor any compressed data decompressed past it.
    int64_t maxBytes = int64_t(1) << 30;
    // The conversion's output, which no second file a header names may be:
    // empty when there is none to protect.
    const char* output = "";
    // The series to read of an input of several (--series): a UID or its
    // number; empty for the reader's own choice.
    const char* series = "";
    // The grid to read of a file of several (--grid): a name or its number;
    // empty for the reader's own choice.
    const char* grid = "";
    // The array or dataset to read of a store or file of several
    // (--dataset): its path inside; empty for the reader's own choice.
    const char* dataset = "";
    // The level of a multiscale pyramid to read (--level), 0 the finest; -1
    // for the reader's own choice.
    int64_t level = -1;
};

// A reader of voxels fills `out` (centres, colours, voxel size and, when it
// knows it, the lattice; see voxels/voxel_grid.h) or refuses with one
// sentence that names options.path, without "vxlconv:" or a line break. It
// refuses more than options.maxVoxels voxels instead of building them.
using ReadVoxels = bool (*)(const uint8_t* data, size_t size, const ReadOptions& options,
                            VoxelGrid& out, std::string& error);

// A reader of samples fills `out` (the samples may stay in `data` when
// `out.borrowed` says so) or refuses with the reason alone: the table adds
// which file and format it was.
using ReadSamples = bool (*)(const uint8_t* data, size_t size, const ReadOptions& options,
                             SampleVolume& out, std::string& reason);

// A reader of samples that opens its input by path: for formats of many
// files (a series of slices in a folder) and for those a library reads
// through its own file access. The table then never reads the input whole.
// It must refuse to read options.output, which the conversion is about to
// replace, and every file it reads beyond `path` follows the rules of
// read/data_file.h. Refuses with the reason alone, as ReadSamples does.
using ReadSamplesAt = bool (*)(const char* path, const ReadOptions& options, SampleVolume& out,
                               std::string& reason);

// Whether a folder given as the input holds this format's files (`folder`
// has no trailing slash).
using FolderTest = bool (*)(const char* folder);

// The bytes of the files an input at `path` brings besides its own (a
// series' other slices), for the memory cap.
using SeriesBytes = int64_t (*)(const char* path);

// Whether the first bytes of an input are this format's, whatever its name.
using ContentTest = bool (*)(const uint8_t* head, size_t size);

// How far into a gzip stream the header at its start says the reader
// reads: `end` bytes, or 0 when it does not say. Fails with a reason when
// that passes `maxBytes`.
using StreamEnd = bool (*)(const uint8_t* head, size_t size, int64_t maxBytes, int64_t& end,
                           std::string& reason);

// The second file that the header of an input at `path` names (a data file,
// a pair's image), by the rules of read/data_file.h: `second` is its path,
// or empty when the header names none. Fails with a reason when the header
// may not name the file it does. `head` holds at least the header.
using SecondFile = bool (*)(const char* path, const uint8_t* head, size_t size, std::string& second,
                            std::string& reason);

// Where the samples of a volume lie as one raw block in a file, so that
// they can be read slab by slab instead of whole: the file (the input or
// the data file its header names, opened by the rules of read/data_file.h),
// the byte where sample (0, 0, 0) of the file's order starts, and the byte
// order. `note` is what the reader would say once the volume is read.
struct SamplePlace {
    std::string path;
    int fd = -1; // open for reading; the caller closes it
    int64_t start = 0;
    bool bigEndian = false;
    std::string note;
};

// Parses the header of the input at `path` and fills `out` as the row's
// reader would (dims, strides, type, spacing, placement, scaling) but
// without the samples, and `place` with where they lie. False when they do
// not lie as one raw block the file holds whole (compressed data, skipped
// lines, a damaged header): the row's reader then reads the input as
// before, and says what is wrong, if anything is.
using LocateSamples = bool (*)(const char* path, const ReadOptions& options, SampleVolume& out,
                               SamplePlace& place);

struct InputFormat {
    const char* name;          // in messages: "cannot read x.nii as NIfTI-1: ..."
    const char* extensions[5]; // lower case, with the dot: what a name goes by when the
                               // content says nothing; unused entries null
    ContentTest content;
    // Its kind: a format of voxels sets readVoxels, one of samples
    // readSamples (and the step from samples to voxels follows).
    ReadVoxels readVoxels;
    ReadSamples readSamples;
    ColorMode valueColors; // samples: the colours of measured values unless --colors says
    StreamEnd streamEnd;   // optional
    SecondFile secondFile; // optional
    // vxlconv --help: the entry's title, also its name in the lists of the
    // formats an option applies to, and its text (one paragraph, wrapped
    // there). Rows described together share both and are listed once.
    const char* helpTitle;
    const char* helpText;
    // Rows read by path set readSamplesAt instead of readSamples; those that
    // also take a folder as the input set `folder`. Most rows leave both.
    ReadSamplesAt readSamplesAt = nullptr;
    FolderTest folder = nullptr;
    SeriesBytes seriesBytes = nullptr; // optional
    bool takesSeries = false;          // reads ReadOptions::series (--series)
    // Rows whose samples may lie as one raw block in a file: where (optional).
    LocateSamples locateSamples = nullptr;
    bool takesDataset = false; // reads ReadOptions::dataset (--dataset)
    bool takesLevel = false;   // reads ReadOptions::level (--level)
    bool takesGrid = false;    // reads ReadOptions::grid (--grid)
};

// Whether the row's reader gives samples (in memory or by path), so the step
// from samples to voxels and the sample options apply.
inline bool readsSamples(const InputFormat& format) {
    return format.readSamples || format.readSamplesAt;
}
