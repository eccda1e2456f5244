// Exposed faces merged into rectangles: in each plane, a run of faces along
// one axis is grown as far as it goes, then over the following rows as long
// as each holds the whole run. A model's flat sides become a few
// rectangles instead of thousands of squares.
#pragma once

#include "voxels/voxel_grid.h"
#include "write/exposed_faces.h"

#include <cstdint>
#include <vector>

// A rectangle of faces of one direction.
struct FaceRect {
    int64_t cell[3];      // the cell at its lowest corner
    int32_t width;        // cells along the face's u axis (faceAxes)
    int32_t height;       // cells along its v axis
    uint8_t face;         // which face of the cube (exposed_faces.h)
    bool uniform;         // every face in it has one colour
    uint64_t colorOffset; // where its colours start in MergedFaces::colors
};

struct MergedFaces {
    std::vector<FaceRect> rects;
    // Each rectangle's colours, rows along v, each row along u, three bytes
    // a face; one colour alone for a uniform rectangle.
    std::vector<uint8_t> colors;
};

// The axes a face's rectangles span: u and v, the two that are not the
// face's own axis, in increasing order.
void faceAxes(int face, int& u, int& v);

enum class MergeRule {
    anyColour,  // merged regardless of colour (colours go in a texture, or nowhere)
    sameColour, // merged only where the colour stays the same (vertex colours)
};

// Merges the exposed faces of `faces` (found in `grid`) into rectangles.
// `step` is called after each of the six directions with how many are done.
void mergeFaces(const VoxelGrid& grid, const ExposedFaces& faces, MergeRule rule, MergedFaces& out,
                void (*step)(int done) = nullptr);
