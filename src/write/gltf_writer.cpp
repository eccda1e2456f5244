#include "write/gltf_writer.h"

#include "platform/output_file.h"
#include "platform/progress_line.h"
#include "render/png_writer.h"
#include "write/byte_sink.h"
#include "write/output_names.h"
#include "write/voxel_mesh.h"

#include <charconv>
#include <cmath>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "glTF buffers are little-endian");

namespace {

// GL enumerations the format uses.
constexpr int floatComponent = 5126, uintComponent = 5125;
constexpr int arrayBuffer = 34962, elementArrayBuffer = 34963;
constexpr int nearestFilter = 9728, clampToEdge = 33071;

// Where each array goes in the binary buffer.
struct BufferLayout {
    size_t positions = 0, texcoords = 0, colors = 0, indices = 0, image = 0, total = 0;
};

size_t padded4(size_t n) {
    return (n + 3) & ~size_t(3);
}

std::string number(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string bufferView(size_t offset, size_t length, int target) {
    std::string view = "{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
                       ",\"byteLength\":" + std::to_string(length);
    if (target)
        view += ",\"target\":" + std::to_string(target);
    return view + "}";
}

std::string accessor(int view, int component, size_t count, const char* type) {
    return "{\"bufferView\":" + std::to_string(view) +
           ",\"componentType\":" + std::to_string(component) +
           ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type + "\"";
}

// The JSON of the whole asset. `imageBytes` is the embedded texture's size
// (0 for a texture file beside it); `bufferUri` and `imageUri` are empty
// when they are embedded.
std::string assetJson(const VoxelMesh& mesh, const BufferLayout& layout, size_t imageBytes,
                      const std::string& bufferUri, const std::string& imageUri) {
    const size_t vertices = vertexCount(mesh);
    const bool textured = !mesh.texcoords.empty(), colored = !mesh.colors.empty();
    std::string views, accessors, attributes;
    int view = 0;
    auto addView = [&](size_t offset, size_t length, int target) {
        views += (view ? "," : "") + bufferView(offset, length, target);
        return view++;
    };
    int next = 0;
    auto addAccessor = [&](const std::string& text) {
        accessors += (next ? "," : "") + text;
        return next++;
    };
    std::string positions = accessor(addView(layout.positions, 12 * vertices, arrayBuffer),
                                     floatComponent, vertices, "VEC3");
    positions += ",\"min\":[" + number(mesh.low[0]) + "," + number(mesh.low[1]) + "," +
                 number(mesh.low[2]) + "],\"max\":[" + number(mesh.high[0]) + "," +
                 number(mesh.high[1]) + "," + number(mesh.high[2]) + "]}";
    attributes = "\"POSITION\":" + std::to_string(addAccessor(positions));
    if (textured)
        attributes += ",\"TEXCOORD_0\":" +
                      std::to_string(
                          addAccessor(accessor(addView(layout.texcoords, 8 * vertices, arrayBuffer),
                                               floatComponent, vertices, "VEC2") +
                                      "}"));
    if (colored)
        attributes +=
            ",\"COLOR_0\":" +
            std::to_string(addAccessor(accessor(addView(layout.colors, 12 * vertices, arrayBuffer),
                                                floatComponent, vertices, "VEC3") +
                                       "}"));
    const int indices =
        addAccessor(accessor(addView(layout.indices, 4 * mesh.indices.size(), elementArrayBuffer),
                             uintComponent, mesh.indices.size(), "SCALAR") +
                    "}");

    std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"vxlconv\"},"
                       "\"extensionsUsed\":[\"KHR_materials_unlit\"],"
                       "\"scene\":0,\"scenes\":[{\"nodes\":[0]}],"
                       "\"nodes\":[{\"mesh\":0,\"name\":\"voxels\"}],"
                       "\"meshes\":[{\"name\":\"voxels\",\"primitives\":[{\"attributes\":{" +
                       attributes + "},\"indices\":" + std::to_string(indices) +
                       ",\"material\":0,\"mode\":4}]}],"
                       "\"materials\":[{\"name\":\"voxels\",\"pbrMetallicRoughness\":{"
                       "\"baseColorFactor\":[1,1,1,1],\"metallicFactor\":0,\"roughnessFactor\":1";
    if (textured)
        json += ",\"baseColorTexture\":{\"index\":0}";
    json += "},\"extensions\":{\"KHR_materials_unlit\":{}}}]";
    if (textured) {
        json += ",\"samplers\":[{\"magFilter\":" + std::to_string(nearestFilter) +
                ",\"minFilter\":" + std::to_string(nearestFilter) +
                ",\"wrapS\":" + std::to_string(clampToEdge) +
                ",\"wrapT\":" + std::to_string(clampToEdge) + "}]";
        json += ",\"textures\":[{\"sampler\":0,\"source\":0}]";
        if (imageUri.empty())
            json += ",\"images\":[{\"bufferView\":" +
                    std::to_string(addView(layout.image, imageBytes, 0)) +
                    ",\"mimeType\":\"image/png\"}]";
        else
            json += ",\"images\":[{\"uri\":\"" + imageUri + "\"}]";
    }
    json += ",\"buffers\":[{\"byteLength\":" + std::to_string(layout.total);
    if (!bufferUri.empty())
        json += ",\"uri\":\"" + bufferUri + "\"";
    json += "}],\"bufferViews\":[" + views + "],\"accessors\":[" + accessors + "]}";
    return json;
}

BufferLayout layOut(const VoxelMesh& mesh, size_t imageBytes) {
    BufferLayout layout;
    size_t at = 0;
    layout.positions = at;
    at += 4 * mesh.positions.size();
    layout.texcoords = at;
    at += 4 * mesh.texcoords.size();
    layout.colors = at;
    at += 4 * mesh.colors.size();
    layout.indices = at;
    at += 4 * mesh.indices.size();
    layout.image = at;
    at += padded4(imageBytes);
    layout.total = at;
    return layout;
}

// The arrays in the order of layOut, then the embedded image if any.
void putBuffer(ByteSink& sink, const VoxelMesh& mesh, const std::vector<uint8_t>& image) {
    putBytes(sink, mesh.positions.data(), 4 * mesh.positions.size());
    putBytes(sink, mesh.texcoords.data(), 4 * mesh.texcoords.size());
    // Vertex colours are linear in glTF; the voxels' are sRGB.
    float linear[256];
    for (int c = 0; c < 256; ++c)
        linear[c] = linearFromSrgb(uint8_t(c));
    std::vector<float> block;
    for (size_t i = 0; i < mesh.colors.size(); i += block.size()) {
        block.assign(std::min<size_t>(mesh.colors.size() - i, 1 << 16), 0.0f);
        for (size_t j = 0; j < block.size(); ++j)
            block[j] = linear[mesh.colors[i + j]];
        putBytes(sink, block.data(), 4 * block.size());
    }
    putBytes(sink, mesh.indices.data(), 4 * mesh.indices.size());
    putBytes(sink, image.data(), image.size());
    const uint8_t zeros[3] = {0, 0, 0};
    putBytes(sink, zeros, padded4(image.size()) - image.size());
}

bool buildMesh(const VoxelGrid& grid, MeshChoice choice, VoxelMesh& mesh,
               std::vector<uint8_t>& image, std::string& error) {
    const MeshColors colors =
        choice == MeshChoice::greedy ? MeshColors::texture : MeshColors::vertex;
    if (!buildMeshForOutput(grid, choice, colors, mesh, error))
        return false;
    if (!mesh.texcoords.empty() && !encodePngBytes(mesh.texture.pixels.data(), mesh.texture.width,
                                                   mesh.texture.height, 3, image, &error)) {
        error = "cannot encode the texture: " + error;
        return false;
    }
    return true;
}

bool failWith(const ByteSink& sink, int companion, std::string& error) {
    return failCompanionFile(companion, strerror(sink.failure), &error);
}

} // namespace

float linearFromSrgb(uint8_t value) {
    const double c = value / 255.0;
    return float(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

bool putGlb(ByteSink& sink, const VoxelGrid& grid, const WriteOptions& options,
            std::string& error) {
    VoxelMesh mesh;
    std::vector<uint8_t> image;
    if (!buildMesh(grid, options.mesh, mesh, image, error))
        return false;
    const BufferLayout layout = layOut(mesh, image.size());
    std::string json = assetJson(mesh, layout, image.size(), "", "");
    json.resize(padded4(json.size()), ' ');
    const uint64_t total = 12 + 8 + json.size() + 8 + layout.total;
    if (total > UINT32_MAX) {
        error = "the model is larger than the 4 GiB a .glb file holds (write .gltf instead)";
        return false;
    }
    progressPhase(std::string("writing ") + options.path);
    putText(sink, "glTF");
    putLittle32(sink, 2);
    putLittle32(sink, uint32_t(total));
    putLittle32(sink, uint32_t(json.size()));
    putText(sink, "JSON");
    putText(sink, json);
    putLittle32(sink, uint32_t(layout.total));
    putText(sink, std::string("BIN\0", 4));
    putBuffer(sink, mesh, image);
    return true;
}

bool writeGlb(const VoxelGrid& grid, const WriteOptions& options, std::string& error) {
    ByteSink sink = openSink(outputFileStream());
    if (!putGlb(sink, grid, options, error))
        return failOutputFile(error, &error);
    if (!flushSink(sink))
        return failWith(sink, 0, error);
    return finishOutputFile(&error);
}

bool writeGltf(const VoxelGrid& grid, const WriteOptions& options, std::string& error) {
    VoxelMesh mesh;
    std::vector<uint8_t> image;
    if (!buildMesh(grid, options.mesh, mesh, image, error))
        return failOutputFile(error, &error);
    const BufferLayout layout = layOut(mesh, 0);
    const std::string json =
        assetJson(mesh, layout, 0, uriOf(siblingPath(options.path, ".bin")),
                  image.empty() ? "" : uriOf(siblingPath(options.path, ".png")));
    progressPhase(std::string("writing ") + options.path);
    ByteSink sink = openSink(outputFileStream());
    putText(sink, json);
    putText(sink, "\n");
    if (!flushSink(sink))
        return failWith(sink, 0, error);
    ByteSink buffer = openSink(companionFileStream(1));
    putBuffer(buffer, mesh, {});
    if (!flushSink(buffer))
        return failWith(buffer, 1, error);
    if (!image.empty()) {
        ByteSink picture = openSink(companionFileStream(2));
        putBytes(picture, image.data(), image.size());
        if (!flushSink(picture))
            return failWith(picture, 2, error);
    }
    return finishOutputFile(&error);
}

namespace {

void gltfCompanions(const WriteOptions& options, std::vector<std::string>& files) {
    meshCompanionFiles(options, ".bin", files);
}

} // namespace

extern const OutputFormat glbOutput = {
    "glTF binary", {".glb"}, writeGlb,
    nullptr,       true,     "glTF 2.0 in one file, unlit, as voxscope shows it"};
extern const OutputFormat gltfOutput = {
    "glTF",    {".gltf"},
    writeGltf, gltfCompanions,
    true,      "glTF 2.0 as JSON, with NAME.bin (and NAME.png for a greedy mesh) beside it"};
