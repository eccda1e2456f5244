#include "write/stl_writer.h"

#include "platform/output_file.h"
#include "platform/progress_line.h"
#include "write/byte_sink.h"
#include "write/voxel_mesh.h"

#include <cmath>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "STL is little-endian");

namespace {

// The unit normal of a counter-clockwise triangle, in double.
void triangleNormal(const float* a, const float* b, const float* c, float normal[3]) {
    const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
    const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
    const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                         u[0] * v[1] - u[1] * v[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int k = 0; k < 3; ++k)
        normal[k] = length > 0 ? float(n[k] / length) : 0.0f;
}

} // namespace

bool writeStl(const VoxelGrid& grid, const WriteOptions& options, std::string& error) {
    VoxelMesh mesh;
    if (!buildMeshForOutput(grid, options.mesh, MeshColors::none, mesh, error))
        return failOutputFile(error, &error);
    const size_t triangles = triangleCount(mesh);
    if (triangles > UINT32_MAX)
        return failOutputFile("more triangles than an STL file can count", &error);
    progressPhase(std::string("writing ") + options.path);
    ByteSink sink = openSink(outputFileStream());
    // The header must not begin with "solid", which marks the text form.
    char header[80] = {};
    snprintf(header, sizeof header, "binary STL made by vxlconv");
    putBytes(sink, header, sizeof header);
    putLittle32(sink, uint32_t(triangles));
    for (size_t t = 0; t < triangles; ++t) {
        uint8_t record[50] = {};
        const float* corner[3];
        for (int k = 0; k < 3; ++k)
            corner[k] = &mesh.positions[3 * size_t(mesh.indices[3 * t + size_t(k)])];
        float normal[3];
        triangleNormal(corner[0], corner[1], corner[2], normal);
        memcpy(record, normal, 12);
        for (int k = 0; k < 3; ++k)
            memcpy(record + 12 + 12 * k, corner[k], 12);
        putBytes(sink, record, sizeof record);
        if (t % 262144 == 0)
            progressAmount(int64_t(t), int64_t(triangles));
    }
    if (!flushSink(sink))
        return failOutputFile(strerror(sink.failure), &error);
    return finishOutputFile(&error);
}

extern const OutputFormat stlOutput = {
    "STL mesh", {".stl"}, writeStl, nullptr, true, "binary STL, no colours (for 3D printing)"};
