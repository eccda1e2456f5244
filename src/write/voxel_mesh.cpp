#include "write/voxel_mesh.h"

#include "platform/progress_line.h"
#include "render/voxel_geometry.h"
#include "write/exposed_faces.h"
#include "write/greedy_merge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Where a texel's edge is sampled from: a 64th of a texel inside it, so that
// rounding in a renderer's interpolation never reaches the next block.
constexpr double texelInset = 1.0 / 64;

// Whether corner c of face f of a cube lies on the high side along axis k.
int cornerHigh(int face, int corner, int k) {
    return unitCubeVertices[4 * face + corner][k] > 0 ? 1 : 0;
}

struct MeshBuilder {
    const VoxelGrid& grid;
    MeshColors colors;
    VoxelMesh& mesh;

    // The position of lattice corner q (cell units; cell i spans i -+ 0.5).
    void addCorner(const int64_t q[3]) {
        for (int k = 0; k < 3; ++k)
            mesh.positions.push_back(float(grid.origin[k] + (double(q[k]) - 0.5) * grid.step));
    }
    void addTexcoord(double u, double v) {
        mesh.texcoords.push_back(float(u / mesh.texture.width));
        mesh.texcoords.push_back(float(v / mesh.texture.height));
    }
    // Two triangles over four vertices from `base`, in the cube face's order.
    void addQuad(int face, uint32_t base) {
        for (int s = 0; s < 6; ++s)
            mesh.indices.push_back(unitCubeIndices[6 * face + s] - uint32_t(4 * face) + base);
    }
    uint32_t nextVertex() const {
        return uint32_t(mesh.positions.size() / 3);
    }
};

// One texel's block, with its sampling rectangle inset.
void addBlockTexcoords(MeshBuilder& b, const AtlasBlock& block, int face, int uAxis, int vAxis) {
    for (int c = 0; c < 4; ++c) {
        const int a = cornerHigh(face, c, uAxis), d = cornerHigh(face, c, vAxis);
        b.addTexcoord(block.x + (a ? block.width - texelInset : texelInset),
                      block.y + (d ? block.height - texelInset : texelInset));
    }
}

// A voxel as the viewer draws it: 24 vertices at size x (+-0.5) + centre in
// float, 36 indices.
void addWholeCube(MeshBuilder& b, size_t voxel, const AtlasBlock* block) {
    const VoxelList& voxels = b.grid.voxels;
    const float size = voxels.voxelSize;
    const float* p = &voxels.positions[3 * voxel];
    const uint32_t base = b.nextVertex();
    for (const auto& corner : unitCubeVertices)
        for (int k = 0; k < 3; ++k)
            b.mesh.positions.push_back(size * corner[k] + p[k]);
    for (uint32_t index : unitCubeIndices)
        b.mesh.indices.push_back(index + base);
    if (b.colors == MeshColors::vertex)
        for (int v = 0; v < 24; ++v)
            b.mesh.colors.insert(b.mesh.colors.end(), &voxels.colors[3 * voxel],
                                 &voxels.colors[3 * voxel] + 3);
    if (b.colors == MeshColors::texture)
        for (int face = 0; face < 6; ++face) {
            int u, v;
            faceAxes(face, u, v);
            addBlockTexcoords(b, *block, face, u, v);
        }
}

void addLooseCubes(MeshBuilder& b, const std::vector<uint32_t>& loose,
                   const std::vector<AtlasBlock>& blocks, size_t firstBlock) {
    for (size_t i = 0; i < loose.size(); ++i)
        addWholeCube(b, loose[i],
                     b.colors == MeshColors::texture ? &blocks[firstBlock + i] : nullptr);
}

bool buildGreedy(MeshBuilder& b, const ExposedFaces& faces, std::string& error) {
    MergedFaces merged;
    progressPhase("merging faces");
    mergeFaces(b.grid, faces,
               b.colors == MeshColors::vertex ? MergeRule::sameColour : MergeRule::anyColour,
               merged, [](int done) { progressAmount(done, 6); });
    const std::vector<FaceRect>& rects = merged.rects;
    std::vector<AtlasBlock> blocks;
    if (b.colors == MeshColors::texture) {
        progressPhase("packing the texture");
        blocks.resize(rects.size() + faces.loose.size());
        for (size_t r = 0; r < rects.size(); ++r)
            if (!rects[r].uniform) {
                blocks[r].width = rects[r].width;
                blocks[r].height = rects[r].height;
            }
        if (!packAtlas(blocks, b.mesh.texture, error)) {
            error += " (--mesh faces writes vertex colours instead)";
            return false;
        }
        for (size_t r = 0; r < rects.size(); ++r)
            fillBlock(b.mesh.texture, blocks[r], &merged.colors[rects[r].colorOffset]);
        for (size_t i = 0; i < faces.loose.size(); ++i)
            fillBlock(b.mesh.texture, blocks[rects.size() + i],
                      &b.grid.voxels.colors[3 * size_t(faces.loose[i])]);
    }
    progressPhase("building the mesh");
    b.mesh.positions.reserve(12 * rects.size());
    b.mesh.indices.reserve(6 * rects.size());
    for (size_t r = 0; r < rects.size(); ++r) {
        const FaceRect& rect = rects[r];
        const int face = rect.face;
        int u, v;
        faceAxes(face, u, v);
        int64_t extent[3] = {1, 1, 1};
        extent[u] = rect.width;
        extent[v] = rect.height;
        const uint32_t base = b.nextVertex();
        for (int c = 0; c < 4; ++c) {
            int64_t q[3];
            for (int k = 0; k < 3; ++k)
                q[k] = rect.cell[k] + cornerHigh(face, c, k) * extent[k];
            b.addCorner(q);
            if (b.colors == MeshColors::vertex)
                b.mesh.colors.insert(b.mesh.colors.end(), &merged.colors[rect.colorOffset],
                                     &merged.colors[rect.colorOffset] + 3);
        }
        if (b.colors == MeshColors::texture)
            addBlockTexcoords(b, blocks[r], face, u, v);
        b.addQuad(face, base);
        if (r % 65536 == 0)
            progressAmount(int64_t(r), int64_t(rects.size()));
    }
    addLooseCubes(b, faces.loose, blocks, rects.size());
    return true;
}

// A face corner waiting for its vertex: corners at one place with one
// colour share a vertex.
struct CornerUse {
    uint64_t corner; // packed like the lattice keys, one more value an axis
    uint32_t color;  // 0 when colours do not split vertices
    uint32_t slot;   // face x 4 + corner
};

void buildFaces(MeshBuilder& b, const ExposedFaces& faces) {
    const LatticeKeys& keys = faces.keys;
    const VoxelList& voxels = b.grid.voxels;
    progressPhase("sharing vertices");
    std::vector<CornerUse> uses;
    uses.reserve(size_t(faces.faceCount) * 4);
    std::vector<uint8_t> faceOf;
    faceOf.reserve(size_t(faces.faceCount));
    for (size_t e = 0; e < keys.entries.size(); ++e) {
        const uint8_t exposed = faces.faces[e];
        if (!exposed)
            continue;
        const uint8_t* c = &voxels.colors[3 * size_t(keys.entries[e].index)];
        const uint32_t color = b.colors == MeshColors::vertex
                                   ? (uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2])
                                   : 0;
        for (int face = 0; face < 6; ++face) {
            if (!(exposed & (1u << face)))
                continue;
            const uint32_t slot = uint32_t(faceOf.size()) * 4;
            faceOf.push_back(uint8_t(face));
            for (int c4 = 0; c4 < 4; ++c4) {
                uint64_t corner = keys.entries[e].key;
                for (int k = 0; k < 3; ++k)
                    corner += uint64_t(cornerHigh(face, c4, k)) * keys.unit[k];
                uses.push_back(CornerUse{corner, color, slot + uint32_t(c4)});
            }
        }
    }
    std::sort(uses.begin(), uses.end(), [](const CornerUse& x, const CornerUse& y) {
        return x.corner != y.corner ? x.corner < y.corner : x.color < y.color;
    });
    progressPhase("building the mesh");
    std::vector<uint32_t> vertexOf(uses.size());
    for (size_t i = 0; i < uses.size(); ++i) {
        if (i == 0 || uses[i].corner != uses[i - 1].corner || uses[i].color != uses[i - 1].color) {
            int64_t q[3];
            // Corner keys are cell keys moved up by whole units: the same
            // fields, one further along.
            keyCell(keys, uses[i].corner, q);
            b.addCorner(q);
            if (b.colors == MeshColors::vertex) {
                const uint32_t color = uses[i].color;
                const uint8_t rgb[3] = {uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color)};
                b.mesh.colors.insert(b.mesh.colors.end(), rgb, rgb + 3);
            }
        }
        vertexOf[uses[i].slot] = b.nextVertex() - 1;
    }
    std::vector<CornerUse>().swap(uses);
    b.mesh.indices.reserve(faceOf.size() * 6);
    for (size_t f = 0; f < faceOf.size(); ++f) {
        const int face = faceOf[f];
        for (int s = 0; s < 6; ++s)
            b.mesh.indices.push_back(vertexOf[4 * f + unitCubeIndices[6 * face + s] - 4 * face]);
    }
    addLooseCubes(b, faces.loose, {}, 0);
}

void computeBounds(VoxelMesh& mesh) {
    for (int k = 0; k < 3; ++k) {
        mesh.low[k] = mesh.positions.empty() ? 0 : mesh.positions[size_t(k)];
        mesh.high[k] = mesh.low[k];
    }
    for (size_t i = 0; i < mesh.positions.size(); i += 3)
        for (int k = 0; k < 3; ++k) {
            mesh.low[k] = std::min(mesh.low[k], mesh.positions[i + size_t(k)]);
            mesh.high[k] = std::max(mesh.high[k], mesh.positions[i + size_t(k)]);
        }
}

} // namespace

bool buildVoxelMesh(const VoxelGrid& grid, MeshChoice choice, MeshColors colors, VoxelMesh& mesh,
                    std::string& error) {
    mesh = VoxelMesh();
    MeshBuilder b{grid, colors, mesh};
    // Cubes need no neighbours; their texture, were one asked for, is one
    // texel a voxel, so they carry vertex colours instead.
    if (choice == MeshChoice::cubes) {
        if (colors == MeshColors::texture)
            b.colors = MeshColors::vertex;
        const size_t count = grid.voxels.colors.size() / 3;
        if (count > UINT32_MAX / 24) {
            error = "too many voxels for one mesh of cubes";
            return false;
        }
        progressPhase("building the mesh");
        mesh.positions.reserve(72 * count);
        mesh.indices.reserve(36 * count);
        for (size_t i = 0; i < count; ++i) {
            addWholeCube(b, i, nullptr);
            if (i % 65536 == 0)
                progressAmount(int64_t(i), int64_t(count));
        }
    } else {
        progressPhase("finding exposed faces");
        ExposedFaces faces;
        if (!findExposedFaces(grid, faces, error))
            return false;
        if (uint64_t(faces.faceCount) * 4 + uint64_t(faces.loose.size()) * 24 > UINT32_MAX) {
            error = "too many faces for one mesh";
            return false;
        }
        mesh.looseVoxels = int64_t(faces.loose.size());
        if (choice == MeshChoice::greedy) {
            if (!buildGreedy(b, faces, error))
                return false;
        } else {
            if (colors == MeshColors::texture)
                b.colors = MeshColors::vertex;
            buildFaces(b, faces);
        }
    }
    computeBounds(mesh);
    return true;
}

bool buildMeshForOutput(const VoxelGrid& grid, MeshChoice choice, MeshColors colors,
                        VoxelMesh& mesh, std::string& error) {
    if (!buildVoxelMesh(grid, choice, colors, mesh, error))
        return false;
    if (mesh.looseVoxels > 0) {
        stopProgress();
        fprintf(stderr,
                "vxlconv: note: %lld voxels do not lie on the lattice of the others and are "
                "written as whole cubes\n",
                static_cast<long long>(mesh.looseVoxels));
    }
    return true;
}
