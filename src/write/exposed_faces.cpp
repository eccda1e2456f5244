#include "write/exposed_faces.h"

bool findExposedFaces(const VoxelGrid& grid, ExposedFaces& out, std::string& error) {
    out = ExposedFaces();
    if (!sortLatticeKeys(grid, out.keys, out.loose, error))
        return false;
    faceNeighbourMasks(out.keys, out.faces);
    // A face is exposed where the neighbour it looks towards is missing.
    for (uint8_t& mask : out.faces) {
        uint8_t exposed = 0;
        for (int f = 0; f < 6; ++f) {
            const int bit = 2 * faceAxis[f] + (faceSign[f] > 0 ? 1 : 0);
            if (!(mask & (1u << bit)))
                exposed |= uint8_t(1u << f);
        }
        mask = exposed;
        out.faceCount += __builtin_popcount(exposed);
    }
    return true;
}
