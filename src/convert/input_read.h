// Reading an input by the table of formats: what a gzip stream holds, the
// row's reader, and for samples the step to voxels.
#pragma once

#include "convert/input_table.h"
#include "convert/unread_table.h"
#include "samples/sample_grid.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct InputChoice {
    const InputFormat* format = nullptr; // null: no row reads it (a mesh or point cloud)
    bool gzip = false;                   // the format's bytes inside a gzip stream
    // With no row: a format recognised but not read yet, else null.
    const UnreadFormat* unread = nullptr;
};

// Chooses the reader of an input from its bytes (at least its first
// inputHeadBytes, and all of a gzip stream, whose decompressed start may
// take any number of compressed bytes) and its name (see findInputFormat).
// A gzip stream is looked into: its row is the one its decompressed start
// (or, failing that, its name without ".gz") chooses; when it does not
// inflate, the row its name names, if any. With no row, `unread` is what
// the unread table makes of the same bytes and name. A gzip stream within one is
// refused with a sentence in `error`.
bool chooseInput(const uint8_t* data, size_t size, const char* path, InputChoice& choice,
                 std::string& error);

// Reads the whole input `data` as `choice` says into `grid`: a gzip stream
// inflated as far as the row's header says (else all of it, up to
// options.maxBytes), then the row's reader; samples then become voxels by
// `rules`. Fails with one sentence naming the input. `choice.format` must
// be set; a row that reads by path ignores `data` and opens options.path.
// What the caller should note about the samples (see
// samplesToGrid) goes to `note`, when given, naming the input.
bool readInputAs(const InputChoice& choice, const uint8_t* data, size_t size,
                 const ReadOptions& options, const SampleRules& rules, VoxelGrid& grid,
                 std::string& error, std::string* note = nullptr);
