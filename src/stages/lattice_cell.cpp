#include "stages/lattice_cell.h"

#include <algorithm>
#include <cmath>

namespace {

// The distance between floats around `value`.
double floatSpacing(double value) {
    const float magnitude = float(std::fabs(value));
    return double(std::nextafter(magnitude, INFINITY)) - double(magnitude);
}

} // namespace

bool latticeCell(const VoxelGrid& grid, const float* p, int64_t cell[3]) {
    for (int k = 0; k < 3; ++k) {
        const double t = (double(p[k]) - grid.origin[k]) / grid.step;
        if (!(std::fabs(t) < 2147483648.0))
            return false; // not finite, or beyond any grid this program makes
        cell[k] = int64_t(std::llround(t));
        const double spacing = std::max(floatSpacing(double(p[k])), floatSpacing(grid.origin[k]));
        if (!(spacing <= grid.step / 32))
            return false;
        const double off = std::fabs(double(p[k]) - (grid.origin[k] + double(cell[k]) * grid.step));
        if (!(off <= std::max(grid.step * latticeTolerance, 8 * spacing)))
            return false;
    }
    return true;
}
