#include "write/ply_writer.h"

#include "platform/output_file.h"
#include "platform/progress_line.h"
#include "write/byte_sink.h"
#include "write/voxel_mesh.h"

#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the PLY body is little-endian");

bool writePly(const VoxelGrid& grid, const WriteOptions& options, std::string& error) {
    VoxelMesh mesh;
    if (!buildMeshForOutput(grid, options.mesh, MeshColors::vertex, mesh, error))
        return failOutputFile(error, &error);
    progressPhase(std::string("writing ") + options.path);
    const size_t vertices = vertexCount(mesh), triangles = triangleCount(mesh);
    ByteSink sink = openSink(outputFileStream());
    putText(sink, "ply\nformat binary_little_endian 1.0\ncomment made by vxlconv\nelement vertex " +
                      std::to_string(vertices) +
                      "\nproperty float x\nproperty float y\nproperty float z\n"
                      "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                      "element face " +
                      std::to_string(triangles) +
                      "\nproperty list uchar uint vertex_indices\nend_header\n");
    for (size_t i = 0; i < vertices; ++i) {
        uint8_t record[15];
        memcpy(record, &mesh.positions[3 * i], 12);
        memcpy(record + 12, &mesh.colors[3 * i], 3);
        putBytes(sink, record, sizeof record);
    }
    for (size_t t = 0; t < triangles; ++t) {
        uint8_t record[13];
        record[0] = 3;
        memcpy(record + 1, &mesh.indices[3 * t], 12);
        putBytes(sink, record, sizeof record);
        if (t % 262144 == 0)
            progressAmount(int64_t(t), int64_t(triangles));
    }
    if (!flushSink(sink))
        return failOutputFile(strerror(sink.failure), &error);
    return finishOutputFile(&error);
}

extern const OutputFormat plyOutput = {
    "PLY mesh", {".ply"},
    writePly,   nullptr,
    true,       "binary PLY with vertex colours (a greedy mesh merges faces of one colour only)"};
