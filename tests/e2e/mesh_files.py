"""Reads the mesh files vxlconv writes (glTF .glb and .gltf, binary PLY,
binary STL, OBJ) and voxel text files with the standard library alone, so
that the tests judge the bytes themselves: positions, triangles, colours and
the texture, and checks on them (closed surfaces, what each face shows)."""

import json
import os
import struct
import tempfile

import png_file

GL_FLOAT, GL_UNSIGNED_INT = 5126, 5125
COMPONENTS = {"SCALAR": 1, "VEC2": 2, "VEC3": 3, "VEC4": 4}


class Mesh:
    """positions: [(x, y, z)]; triangles: [(a, b, c)] vertex indices;
    colors: [(r, g, b)] 8-bit sRGB per vertex or None; texcoords: [(u, v)]
    with v = 0 at the picture's top, or None; texture: (width, height,
    rows of RGB bytes) or None."""

    def __init__(self):
        self.positions, self.triangles = [], []
        self.colors = self.texcoords = self.texture = None


def read_voxels(path):
    """(voxel size, [((x, y, z), (r, g, b))]) of a voxel text file."""
    with open(path) as f:
        words = f.read().split()
    count, size = int(words[0]), float(words[1])
    voxels = []
    for i in range(count):
        w = words[2 + 6 * i : 8 + 6 * i]
        voxels.append(((float(w[0]), float(w[1]), float(w[2])), (int(w[3]), int(w[4]), int(w[5]))))
    return size, voxels


def srgb_from_linear(value):
    c = value * 12.92 if value <= 0.0031308 else 1.055 * value ** (1 / 2.4) - 0.055
    return round(c * 255)


def _accessor(doc, buffers, index):
    acc = doc["accessors"][index]
    view = doc["bufferViews"][acc["bufferView"]]
    data = buffers[view.get("buffer", 0)]
    start = view.get("byteOffset", 0) + acc.get("byteOffset", 0)
    n = COMPONENTS[acc["type"]]
    fmt = {GL_FLOAT: "f", GL_UNSIGNED_INT: "I"}[acc["componentType"]]
    values = struct.unpack_from("<%d%s" % (acc["count"] * n, fmt), data, start)
    return [tuple(values[i : i + n]) for i in range(0, len(values), n)] if n > 1 else list(values)


def read_gltf(path):
    """A .glb or .gltf file (with its .bin and .png beside it) as a Mesh."""
    with open(path, "rb") as f:
        blob = f.read()
    folder = os.path.dirname(path)
    if blob[:4] == b"glTF":
        magic, version, total = struct.unpack_from("<4sII", blob, 0)
        assert version == 2 and total == len(blob), (version, total, len(blob))
        json_length, json_kind = struct.unpack_from("<I4s", blob, 12)
        assert json_kind == b"JSON"
        doc = json.loads(blob[20 : 20 + json_length])
        bin_at = 20 + json_length
        bin_length, bin_kind = struct.unpack_from("<I4s", blob, bin_at)
        assert bin_kind == b"BIN\0"
        buffers = [blob[bin_at + 8 : bin_at + 8 + bin_length]]
    else:
        doc = json.loads(blob)
        buffers = []
        for buffer in doc["buffers"]:
            with open(os.path.join(folder, buffer["uri"].replace("%20", " ")), "rb") as f:
                buffers.append(f.read())
    prim = doc["meshes"][0]["primitives"][0]
    mesh = Mesh()
    mesh.positions = _accessor(doc, buffers, prim["attributes"]["POSITION"])
    indices = _accessor(doc, buffers, prim["indices"])
    mesh.triangles = [tuple(indices[i : i + 3]) for i in range(0, len(indices), 3)]
    if "COLOR_0" in prim["attributes"]:
        mesh.colors = [tuple(srgb_from_linear(c) for c in rgb)
                       for rgb in _accessor(doc, buffers, prim["attributes"]["COLOR_0"])]
    if "TEXCOORD_0" in prim["attributes"]:
        mesh.texcoords = _accessor(doc, buffers, prim["attributes"]["TEXCOORD_0"])
        image = doc["images"][0]
        if "uri" in image:
            png_path = os.path.join(folder, image["uri"].replace("%20", " "))
            mesh.texture = _texture(png_path)
        else:
            view = doc["bufferViews"][image["bufferView"]]
            start = view.get("byteOffset", 0)
            with tempfile.NamedTemporaryFile(suffix=".png") as f:
                f.write(buffers[0][start : start + view["byteLength"]])
                f.flush()
                mesh.texture = _texture(f.name)
    mesh.doc = doc
    return mesh


def _texture(path):
    width, height, channels, pixels = png_file.read_png(path)
    rgb = png_file.rgb_of(pixels, channels)
    return width, height, rgb


def read_ply(path):
    """A binary little-endian PLY file as vxlconv writes it."""
    with open(path, "rb") as f:
        blob = f.read()
    end = blob.index(b"end_header\n") + len(b"end_header\n")
    header = blob[:end].decode().splitlines()
    assert header[1] == "format binary_little_endian 1.0", header[1]
    vertices = int(next(l for l in header if l.startswith("element vertex")).split()[2])
    faces = int(next(l for l in header if l.startswith("element face")).split()[2])
    mesh = Mesh()
    mesh.colors = []
    at = end
    for _ in range(vertices):
        x, y, z, r, g, b = struct.unpack_from("<fffBBB", blob, at)
        mesh.positions.append((x, y, z))
        mesh.colors.append((r, g, b))
        at += 15
    for _ in range(faces):
        n, a, b, c = struct.unpack_from("<BIII", blob, at)
        assert n == 3
        mesh.triangles.append((a, b, c))
        at += 13
    assert at == len(blob), "bytes after the faces"
    return mesh


def read_stl(path):
    """A binary STL file: positions are per triangle, unshared."""
    with open(path, "rb") as f:
        blob = f.read()
    assert not blob.startswith(b"solid")
    (count,) = struct.unpack_from("<I", blob, 80)
    assert len(blob) == 84 + 50 * count
    mesh = Mesh()
    for t in range(count):
        values = struct.unpack_from("<12fH", blob, 84 + 50 * t)
        for k in range(3):
            mesh.positions.append(tuple(values[3 + 3 * k : 6 + 3 * k]))
        mesh.triangles.append((3 * t, 3 * t + 1, 3 * t + 2))
    return mesh


def read_obj(path):
    """An OBJ file: "v x y z [r g b]", "vt u v", "f a[/t] b[/t] c[/t]"."""
    mesh = Mesh()
    colors, texcoords = [], []
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words:
                continue
            if words[0] == "v":
                mesh.positions.append(tuple(float(w) for w in words[1:4]))
                if len(words) == 7:
                    colors.append(tuple(round(float(w) * 255) for w in words[4:7]))
            elif words[0] == "vt":
                texcoords.append((float(words[1]), 1.0 - float(words[2])))
            elif words[0] == "f":
                assert len(words) == 4, line
                mesh.triangles.append(tuple(int(w.split("/")[0]) - 1 for w in words[1:]))
    mesh.colors = colors or None
    mesh.texcoords = texcoords or None
    return mesh


def open_edges(mesh, by_position=True):
    """Edges of the surface not matched by an edge of opposite direction:
    none for a closed surface. Vertices count as one where their positions
    are equal (by_position) or only by index."""
    key = (lambda i: mesh.positions[i]) if by_position else (lambda i: i)
    count = {}
    for tri in mesh.triangles:
        for a, b in ((tri[0], tri[1]), (tri[1], tri[2]), (tri[2], tri[0])):
            edge = (key(a), key(b))
            count[edge] = count.get(edge, 0) + 1
    return [e for e, n in count.items() if count.get((e[1], e[0]), 0) != n]


def lattice_of(size, voxels):
    """{cell: colour} of voxels on the lattice through the first, and the
    function from a position to its cell."""
    origin = voxels[0][0]

    def cell(p):
        return tuple(round((p[k] - origin[k]) / size) for k in range(3))

    return {cell(p): c for p, c in voxels}, cell, origin


def exposed_faces(cells):
    """{(cell, axis, sign)} of faces between a voxel and an empty cell."""
    faces = set()
    for c in cells:
        for axis in range(3):
            for sign in (-1, 1):
                n = list(c)
                n[axis] += sign
                if tuple(n) not in cells:
                    faces.add((c, axis, sign))
    return faces


def face_samples(mesh, size, origin):
    """What each triangle shows at the centre of every face square it
    covers: {(cell, axis, sign): [(r, g, b), ...]} from the texture
    (nearest texel) or the vertex colours (None for a mesh without colour). Cells are lattice cells through
    `origin` of edge `size`; a face of cell c lies half an edge beyond its
    centre along axis, on the sign's side."""
    shown = {}
    for tri in mesh.triangles:
        p = [mesh.positions[i] for i in tri]
        lattice = [[(p[v][k] - origin[k]) / size + 0.5 for k in range(3)] for v in range(3)]
        normal = [(lattice[1][(k + 1) % 3] - lattice[0][(k + 1) % 3]) *
                  (lattice[2][(k + 2) % 3] - lattice[0][(k + 2) % 3]) -
                  (lattice[1][(k + 2) % 3] - lattice[0][(k + 2) % 3]) *
                  (lattice[2][(k + 1) % 3] - lattice[0][(k + 1) % 3]) for k in range(3)]
        axis = max(range(3), key=lambda k: abs(normal[k]))
        sign = 1 if normal[axis] > 0 else -1
        u, v = [k for k in range(3) if k != axis]
        plane = round(lattice[0][axis])
        lo_u = int(min(q[u] for q in lattice) // 1)
        hi_u = int(-(-max(q[u] for q in lattice) // 1))
        lo_v = int(min(q[v] for q in lattice) // 1)
        hi_v = int(-(-max(q[v] for q in lattice) // 1))
        (ax, ay), (bx, by), (cx, cy) = [(q[u], q[v]) for q in lattice]
        det = (by - cy) * (ax - cx) + (cx - bx) * (ay - cy)
        for i in range(lo_u, hi_u):
            for j in range(lo_v, hi_v):
                x, y = i + 0.5, j + 0.5
                w0 = ((by - cy) * (x - cx) + (cx - bx) * (y - cy)) / det
                w1 = ((cy - ay) * (x - cx) + (ax - cx) * (y - cy)) / det
                w2 = 1 - w0 - w1
                if min(w0, w1, w2) < -1e-9:
                    continue
                cell = [0, 0, 0]
                cell[u], cell[v] = i, j
                cell[axis] = plane - 1 if sign > 0 else plane
                weights = (w0, w1, w2)
                if mesh.texture:
                    width, height, rgb = mesh.texture
                    tu = sum(weights[k] * mesh.texcoords[tri[k]][0] for k in range(3))
                    tv = sum(weights[k] * mesh.texcoords[tri[k]][1] for k in range(3))
                    tx, ty = min(int(tu * width), width - 1), min(int(tv * height), height - 1)
                    color = tuple(rgb[3 * (ty * width + tx) : 3 * (ty * width + tx) + 3])
                elif mesh.colors:
                    color = mesh.colors[tri[0]]
                else:
                    color = None
                shown.setdefault((tuple(cell), axis, sign), []).append(color)
    return shown
