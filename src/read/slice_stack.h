// Where the slices of a scan go in a volume: ordered by their position along
// the slice normal (never by file name or number), spaced by the steps
// between those positions, each placed at the nearest whole step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SlicePlace {
    double position[3] = {0, 0, 0}; // of its first sample, in the patient frame
};

struct SliceStack {
    double normal[3] = {0, 0, 1}; // unit: the cross product of the row and column directions
    double spacing = 1;           // the step between neighbouring slices
    int64_t depth = 0;            // slices in the volume, gaps included
    // For each slice given, its index in the volume, or -1 when another
    // slice already holds its place (the first given keeps it).
    std::vector<int64_t> index;
    int first = 0; // the slice at index 0, whose position is the volume's origin
    // What the caller should note (gaps, uneven steps, a tilt, shared
    // places), one sentence each, to follow the input's name.
    std::vector<std::string> notes;
};

// Stacks `slices` whose rows point along `row` and columns along `column`
// (unit vectors). `fallbackSpacing` is used when fewer than two distinct
// positions say the step. Refuses (false, with a sentence) when the
// directions are not usable or the stack would have more than `maxDepth`
// slices.
bool stackSlices(const std::vector<SlicePlace>& slices, const double row[3], const double column[3],
                 double fallbackSpacing, int64_t maxDepth, SliceStack& stack, std::string& error);
