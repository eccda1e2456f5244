#!/usr/bin/env python3
"""Writes MagicaVoxel .vox files by hand, chunk by chunk: the small scenes the
converter's tests and its fuzzing seeds use.

    tools/make_vox.py scene OUT.vox    a two-model scene: a tree and a turned,
                                       moved house, with its own palette
    tools/make_vox.py seeds DIR        the fuzzing seeds (valid and damaged)

Also a module: `chunk`, `size_chunk`, `xyzi_chunk`, `transform_chunk`,
`group_chunk`, `shape_chunk`, `vox_file` and `scene_file` build the bytes.
"""

import os
import struct
import sys


def u32(value):
    return struct.pack("<I", value & 0xFFFFFFFF)


def string(text):
    data = text.encode()
    return u32(len(data)) + data


def dictionary(pairs):
    out = u32(len(pairs))
    for key, value in pairs.items():
        out += string(key) + string(value)
    return out


def chunk(name, content=b"", children=b""):
    return name.encode() + u32(len(content)) + u32(len(children)) + content + children


def size_chunk(x, y, z):
    return chunk("SIZE", u32(x) + u32(y) + u32(z))


def xyzi_chunk(voxels):
    """voxels: (x, y, z, colour index) tuples."""
    return chunk("XYZI", u32(len(voxels)) + b"".join(bytes(v) for v in voxels))


def rgba_chunk(colours):
    """colours: up to 256 (r, g, b) tuples; stored colour i is index i + 1."""
    colours = list(colours) + [(0, 0, 0)] * (256 - len(colours))
    return chunk("RGBA", b"".join(bytes((r, g, b, 255)) for r, g, b in colours))


def transform_chunk(node, child, frame=None, attributes=None, layer=-1):
    content = u32(node) + dictionary(attributes or {}) + u32(child) + u32(-1) + u32(layer)
    return chunk("nTRN", content + u32(1) + dictionary(frame or {}))


def group_chunk(node, children):
    return chunk("nGRP", u32(node) + dictionary({}) + u32(len(children)) + b"".join(u32(c) for c in children))


def shape_chunk(node, model):
    return chunk("nSHP", u32(node) + dictionary({}) + u32(1) + u32(model) + dictionary({}))


def vox_file(children, version=150):
    return b"VOX " + u32(version) + chunk("MAIN", b"", b"".join(children))


def tree():
    """A 5 x 5 x 9 tree: brown trunk (colour 2), green crown (colour 3)."""
    voxels = [(2, 2, z, 2) for z in range(4)]
    for z in range(4, 9):
        r = 2 if z < 7 else 1
        for x in range(2 - r, 3 + r):
            for y in range(2 - r, 3 + r):
                if abs(x - 2) + abs(y - 2) <= r + (z == 5):
                    voxels.append((x, y, z, 3))
    return (5, 5, 9), voxels


def house():
    """A 6 x 4 x 6 house: white walls (1), red roof (4), blue door (5)."""
    voxels = []
    for x in range(6):
        for y in range(4):
            for z in range(4):
                if x in (0, 5) or y in (0, 3):
                    colour = 5 if (y == 0 and x in (2, 3) and z < 2) else 1
                    voxels.append((x, y, z, colour))
    for z in (4, 5):
        inset = z - 4
        for x in range(6):
            for y in range(inset, 4 - inset):
                voxels.append((x, y, z, 4))
    return (6, 4, 6), voxels


PALETTE = [(240, 240, 230), (120, 80, 40), (40, 160, 60), (200, 40, 30), (40, 80, 200)]


def scene_file():
    """Tree and house, placed by a scene graph; the house turned a quarter
    about z (rotation byte 17) and moved 12 voxels along x."""
    (tree_size, tree_voxels), (house_size, house_voxels) = tree(), house()
    return vox_file([
        chunk("PACK", u32(2)),
        size_chunk(*tree_size), xyzi_chunk(tree_voxels),
        size_chunk(*house_size), xyzi_chunk(house_voxels),
        transform_chunk(0, 1), group_chunk(1, [2, 4]),
        transform_chunk(2, 3, {"_t": "0 0 4"}), shape_chunk(3, 0),
        transform_chunk(4, 5, {"_t": "12 0 3", "_r": "17"}), shape_chunk(5, 1),
        rgba_chunk(PALETTE),
        chunk("MATL", u32(1) + dictionary({"_type": "_diffuse"})),
    ])


def seeds():
    one = [size_chunk(3, 3, 3), xyzi_chunk([(0, 0, 0, 1), (1, 1, 1, 216), (2, 2, 2, 0)])]
    layer = chunk("LAYR", u32(1) + dictionary({"_hidden": "1"}) + u32(-1))
    scene = scene_file()
    return {
        "single_default_palette.vox": vox_file(one),
        "palette.vox": vox_file(one + [rgba_chunk(PALETTE)]),
        "two_models_no_scene.vox": vox_file(one + one),
        "scene.vox": scene,
        "hidden_layer.vox": vox_file(one + [transform_chunk(0, 1, {"_r": "105"}, layer=1),
                                            shape_chunk(1, 0), layer]),
        "nested_transforms.vox": vox_file(one + [transform_chunk(0, 1, {"_r": "17"}),
                                                 transform_chunk(1, 2, {"_t": "4 0 0"}),
                                                 shape_chunk(2, 0)]),
        "cycle.vox": vox_file(one + [transform_chunk(0, 1), group_chunk(1, [0])]),
        "missing_model.vox": vox_file(one + [transform_chunk(0, 1), shape_chunk(1, 9)]),
        "truncated.vox": scene[:-37],
        "xyzi_count_too_big.vox": vox_file([size_chunk(2, 2, 2), chunk("XYZI", u32(1000) + bytes(8))]),
        "empty.vox": b"",
        "header_only.vox": b"VOX " + u32(150),
    }


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("scene", "seeds"):
        sys.exit(__doc__)
    if sys.argv[1] == "scene":
        with open(sys.argv[2], "wb") as f:
            f.write(scene_file())
    else:
        os.makedirs(sys.argv[2], exist_ok=True)
        for name, data in seeds().items():
            with open(os.path.join(sys.argv[2], name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
