#include "mesh/asset_import.h"

#include "container/quoted_text.h"
#include "platform/input_file.h"
#include "platform/program_name.h"
#include "platform/stack_thread.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

struct Gatherer {
    const aiScene* scene;
    SourceGeometry* out;
    ImportNotes* notes;
};

// The material's diffuse colour (or base colour), and whether the file gave
// one.
bool materialColor(const aiScene* scene, unsigned index, aiColor3D& color, bool& textured) {
    color = aiColor3D(0.6f, 0.6f, 0.6f);
    textured = false;
    if (index >= scene->mNumMaterials || !scene->mMaterials[index])
        return false;
    const aiMaterial* material = scene->mMaterials[index];
    textured = material->GetTextureCount(aiTextureType_DIFFUSE) > 0 ||
               material->GetTextureCount(aiTextureType_BASE_COLOR) > 0;
    // Readers stand in a material of their own where the file has none: the
    // library's named default, or one without a name (PLY, X). Its colour is
    // not the file's.
    aiString name;
    if (material->Get(AI_MATKEY_NAME, name) != AI_SUCCESS || name.length == 0 ||
        strcmp(name.C_Str(), AI_DEFAULT_MATERIAL_NAME) == 0)
        return false;
    aiColor4D base;
    if (material->Get(AI_MATKEY_BASE_COLOR, base) == AI_SUCCESS) {
        color = aiColor3D(base.r, base.g, base.b);
        return true;
    }
    return material->Get(AI_MATKEY_COLOR_DIFFUSE, color) == AI_SUCCESS;
}

float clampUnit(float value) {
    return value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
}

void addMesh(Gatherer& g, const aiMesh* mesh, const aiMatrix4x4& transform) {
    SourceGeometry& out = *g.out;
    const uint32_t base = uint32_t(out.vertices.size() / 3);
    aiColor3D diffuse;
    bool textured = false;
    bool ownMaterial = materialColor(g.scene, mesh->mMaterialIndex, diffuse, textured);
    const bool vertexColors = mesh->HasVertexColors(0);
    if (!vertexColors && textured)
        g.notes->texturesIgnored = true;
    if (vertexColors || ownMaterial)
        out.hasColors = true;
    for (unsigned i = 0; i < mesh->mNumVertices; ++i) {
        aiVector3D p = transform * mesh->mVertices[i];
        out.vertices.insert(out.vertices.end(), {p.x, p.y, p.z});
        if (vertexColors) {
            const aiColor4D& c = mesh->mColors[0][i];
            out.colors.insert(out.colors.end(), {clampUnit(c.r), clampUnit(c.g), clampUnit(c.b)});
        } else {
            out.colors.insert(out.colors.end(),
                              {clampUnit(diffuse.r), clampUnit(diffuse.g), clampUnit(diffuse.b)});
        }
    }
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        const aiFace& face = mesh->mFaces[f];
        bool valid = face.mIndices != nullptr;
        for (unsigned k = 0; valid && k < face.mNumIndices; ++k)
            valid = face.mIndices[k] < mesh->mNumVertices;
        if (!valid)
            continue;
        switch (face.mNumIndices) {
        case 1:
            out.points.push_back(base + face.mIndices[0]);
            break;
        case 2:
            out.lines.insert(out.lines.end(), {base + face.mIndices[0], base + face.mIndices[1]});
            break;
        case 3:
            out.triangles.insert(
                out.triangles.end(),
                {base + face.mIndices[0], base + face.mIndices[1], base + face.mIndices[2]});
            break;
        default:
            break; // polygons were split into triangles on import
        }
    }
    // A mesh of bare vertices is a point cloud.
    if (mesh->mNumFaces == 0)
        for (unsigned i = 0; i < mesh->mNumVertices; ++i)
            out.points.push_back(base + i);
}

// Every node's meshes in the frame of the scene, parents before children and
// children in order, however deep the tree: the walk keeps its own list of
// nodes to visit instead of recursing. A node met twice makes the graph no
// tree, and is refused rather than followed round.
bool addNodes(Gatherer& g, const aiNode* root, std::string& error) {
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> pending{{root, aiMatrix4x4()}};
    std::unordered_set<const aiNode*> visited;
    while (!pending.empty()) {
        const aiNode* node = pending.back().first;
        const aiMatrix4x4 transform = pending.back().second * node->mTransformation;
        pending.pop_back();
        if (!visited.insert(node).second) {
            error = "its scene holds a node more than once (a loop or a shared branch)";
            return false;
        }
        for (unsigned m = 0; m < node->mNumMeshes; ++m) {
            unsigned index = node->mMeshes[m];
            if (index < g.scene->mNumMeshes && g.scene->mMeshes[index])
                addMesh(g, g.scene->mMeshes[index], transform);
        }
        for (unsigned c = node->mNumChildren; c-- > 0;)
            if (node->mChildren[c])
                pending.emplace_back(node->mChildren[c], transform);
    }
    return true;
}

// The import proper, on whatever stack it is given.
bool importFile(const char* path, SourceGeometry& out, ImportNotes& notes, std::string& error) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, aiProcess_Triangulate);
    if (!scene) {
        const char* reason = importer.GetErrorString();
        // The importer's reasons quote the file's own words and names.
        error = std::string("cannot read ") + path + ": " +
                (reason && *reason ? escapedText(reason, 300) : "unknown format or damaged file");
        return false;
    }
    if ((scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE) || !scene->mRootNode) {
        error = std::string("cannot read ") + path + ": the file holds no complete scene";
        return false;
    }
    out = SourceGeometry();
    notes = ImportNotes();
    Gatherer g{scene, &out, &notes};
    if (!addNodes(g, scene->mRootNode, error)) {
        error = std::string("cannot read ") + path + ": " + error;
        return false;
    }
    return true;
}

// The importers follow a scene's nesting by recursion, in reading the file,
// in building the scene and in freeing it. Their stack is sized for the
// deepest nesting the file could hold: so many bytes of stack for each byte
// of file, from the costliest level per byte measured (bench/RESULTS.md),
// with room to spare, and never more than a limit. It is reserved on top of
// the memory cap (runOnOwnStack), which keeps its room for the heap. A file
// that nests deeper than that (compressed inside a zip, or a node that holds
// itself) meets the stack's end and gets one line.
constexpr uint64_t importStackBase = uint64_t(16) << 20;
constexpr uint64_t importStackPerFileByte = 128;
constexpr uint64_t importStackMost = uint64_t(1) << 30;
// What a process's main thread usually has: tried when no more can be had.
constexpr uint64_t importStackLeast = uint64_t(8) << 20;

uint64_t importStackBytes(const char* path) {
    const uint64_t fileBytes = std::min<uint64_t>(inputFileBytes(path), importStackMost);
    return std::min(importStackBase + fileBytes * importStackPerFileByte, importStackMost);
}

} // namespace

bool importAsset(const char* path, SourceGeometry& out, ImportNotes& notes, std::string& error) {
    const std::string overflow = std::string(programName) + ": cannot read " + path +
                                 ": its scene nests deeper than the importer can follow, or a "
                                 "node holds itself";
    bool read = false;
    const auto work = [&] { read = importFile(path, out, notes, error); };
    const uint64_t wanted = importStackBytes(path);
    if (runOnOwnStack(size_t(wanted), work, overflow + "\n"))
        return read;
    const std::string shortOfStack =
        " (only " + std::to_string(importStackLeast >> 20) + " MiB of stack could be had)\n";
    if (wanted > importStackLeast &&
        runOnOwnStack(size_t(importStackLeast), work, overflow + shortOfStack))
        return read;
    throw std::bad_alloc(); // no room even for that
}
