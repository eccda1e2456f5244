#include "write/obj_writer.h"

#include "platform/output_file.h"
#include "platform/progress_line.h"
#include "render/png_writer.h"
#include "write/byte_sink.h"
#include "write/output_names.h"
#include "write/voxel_mesh.h"

#include <cstring>

namespace {

// The material: lit by nothing (illum 0, colour as it is), white, taking
// the texture when there is one.
std::string materialText(const std::string& texture) {
    std::string text = "# made by vxlconv\nnewmtl voxels\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nd 1\n"
                       "illum 0\n";
    if (!texture.empty())
        text += "map_Kd " + texture + "\n";
    return text;
}

void putObjBody(ByteSink& sink, const VoxelMesh& mesh, const std::string& material) {
    putText(sink, "# made by vxlconv\nmtllib " + material + "\no voxels\n");
    const bool colored = !mesh.colors.empty(), textured = !mesh.texcoords.empty();
    const size_t vertices = vertexCount(mesh);
    for (size_t i = 0; i < vertices; ++i) {
        putText(sink, "v ");
        for (int k = 0; k < 3; ++k) {
            putFloat(sink, mesh.positions[3 * i + size_t(k)]);
            putText(sink, k < 2 || colored ? " " : "\n");
        }
        if (colored)
            for (int k = 0; k < 3; ++k) {
                putFloat(sink, float(mesh.colors[3 * i + size_t(k)] / 255.0));
                putText(sink, k < 2 ? " " : "\n");
            }
        if (i % 65536 == 0)
            progressAmount(int64_t(i), int64_t(vertices + triangleCount(mesh)));
    }
    // OBJ's texture rows count from the bottom.
    if (textured)
        for (size_t i = 0; i < vertices; ++i) {
            putText(sink, "vt ");
            putFloat(sink, mesh.texcoords[2 * i]);
            putText(sink, " ");
            putFloat(sink, 1.0f - mesh.texcoords[2 * i + 1]);
            putText(sink, "\n");
        }
    putText(sink, "usemtl voxels\n");
    for (size_t t = 0; t < mesh.indices.size(); t += 3) {
        putText(sink, "f");
        for (size_t k = 0; k < 3; ++k) {
            const int64_t index = int64_t(mesh.indices[t + k]) + 1;
            putText(sink, " ");
            putInteger(sink, index);
            if (textured) {
                putText(sink, "/");
                putInteger(sink, index);
            }
        }
        putText(sink, "\n");
        if (t % 196608 == 0)
            progressAmount(int64_t(vertices + t / 3), int64_t(vertices + triangleCount(mesh)));
    }
}

} // namespace

bool writeObj(const VoxelGrid& grid, const WriteOptions& options, std::string& error) {
    VoxelMesh mesh;
    const MeshColors colors =
        options.mesh == MeshChoice::greedy ? MeshColors::texture : MeshColors::vertex;
    if (!buildMeshForOutput(grid, options.mesh, colors, mesh, error))
        return failOutputFile(error, &error);
    std::vector<uint8_t> image;
    if (!mesh.texcoords.empty() && !encodePngBytes(mesh.texture.pixels.data(), mesh.texture.width,
                                                   mesh.texture.height, 3, image, &error))
        return failOutputFile("cannot encode the texture: " + error, &error);
    progressPhase(std::string("writing ") + options.path);
    ByteSink sink = openSink(outputFileStream());
    putObjBody(sink, mesh, fileNameOf(siblingPath(options.path, ".mtl")));
    if (!flushSink(sink))
        return failCompanionFile(0, strerror(sink.failure), &error);
    ByteSink material = openSink(companionFileStream(1));
    putText(material,
            materialText(image.empty() ? "" : fileNameOf(siblingPath(options.path, ".png"))));
    if (!flushSink(material))
        return failCompanionFile(1, strerror(material.failure), &error);
    if (!image.empty()) {
        ByteSink picture = openSink(companionFileStream(2));
        putBytes(picture, image.data(), image.size());
        if (!flushSink(picture))
            return failCompanionFile(2, strerror(picture.failure), &error);
    }
    return finishOutputFile(&error);
}

namespace {

void objCompanions(const WriteOptions& options, std::vector<std::string>& files) {
    meshCompanionFiles(options, ".mtl", files);
}

} // namespace

extern const OutputFormat objOutput = {
    "OBJ mesh",
    {".obj"},
    writeObj,
    objCompanions,
    true,
    "Wavefront OBJ with NAME.mtl (and NAME.png for a greedy mesh); other meshes carry "
    "vertex colours"};
