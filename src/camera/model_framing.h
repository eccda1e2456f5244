// Where the framed view looks and how far it stands back: the box of the
// voxels' centres and a framing size from its diagonal and the voxel size.
// Pure arithmetic over the positions, so that programs which only write a
// model (the converter's web page) frame it exactly as the viewer does.
#pragma once

#include "math/vec3.h"

#include <cfloat>
#include <cstdint>

// A model with no measurable size is framed as a box of this framing size.
constexpr float fallbackExtent = 1.0f;

// Keeps limits derived from a huge model finite: the eye stays within twice
// this of the box centre, and the pivot point within three times. The frame
// scales what it hands GL (viewScale), so the far plane at 20 times the
// distance need not fit in a float.
constexpr double largestLimit = FLT_MAX / 4.0;

struct ModelFraming {
    Vec3 center;  // the box centre of the finite coordinates
    float extent; // the framing size, always positive and finite
};

// The framing of `count` voxels of edge `voxelSize` centred at `positions`
// (x, y, z each).
ModelFraming frameVoxels(const float* positions, int64_t count, float voxelSize);
