#include "camera/model_framing.h"

#include <cmath>

ModelFraming frameVoxels(const float* positions, int64_t count, float voxelSize) {
    // The box spans the finite coordinates only: one NaN or infinite coordinate
    // would otherwise make the centre or extent unusable for every other voxel.
    double lo[3] = {INFINITY, INFINITY, INFINITY};
    double hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (int64_t i = 0; i < count; ++i) {
        const float* p = positions + 3 * size_t(i);
        for (int c = 0; c < 3; ++c) {
            if (!std::isfinite(p[c]))
                continue;
            if (p[c] < lo[c])
                lo[c] = p[c];
            if (p[c] > hi[c])
                hi[c] = p[c];
        }
    }
    double d[3];
    float center[3];
    for (int c = 0; c < 3; ++c) {
        if (lo[c] > hi[c]) // no finite value on this axis, or no voxels at all
            lo[c] = hi[c] = 0.0;
        center[c] = float((lo[c] + hi[c]) * 0.5);
        d[c] = hi[c] - lo[c];
    }
    double exactDiagonal = length3(d[0], d[1], d[2]);
    float diagonal = float(exactDiagonal);
    float extent = float(double(diagonal) + double(voxelSize) * double(2.828f));
    // A negative, NaN or infinite voxel size frames by the box alone; a single
    // point of zero voxel size leaves nothing to frame by: use a unit view.
    if (!(extent > 0.0f) || std::isinf(voxelSize))
        extent = diagonal > 0.0f ? diagonal : fallbackExtent;
    // A box or voxel size beyond what the eye can stand back from (near the
    // float limit the diagonal or the size term overflows) is framed from as
    // far as the navigation range and the float range allow, looking at the
    // box centre; a unit view there would show nothing of the model.
    double largest = largestLimit / 2.0;
    if (center[2] > 0.0f)
        largest = std::fmin(largest, (FLT_MAX - double(center[2])) * 0.5 * (1.0 - 0x1p-20));
    if (!(largest > 0.0))
        extent = fallbackExtent; // the box centre sits at the float limit itself
    else if (!(extent <= largest))
        extent = float(largest);
    return {{center[0], center[1], center[2]}, extent};
}
