#!/usr/bin/env python3
"""Writes mesh scenes nested as deep as asked, with the standard library: one
triangle hanging at the bottom of a chain of nodes. The converter's tests
convert them; bench/import_stack.py measures the stack the importer spends on
each level.

    tools/make_scenes.py gltf|collada|fbx DEPTH OUT

Also a module: `deep_gltf`, `collada`, `deep_collada` and `deep_fbx` build
the bytes.
"""

import base64
import struct
import sys

TRIANGLE = struct.pack("<9f", 0, 0, 0, 1, 0, 0, 0, 1, 0)


def deep_gltf(depth):
    """A glTF 2.0 file whose one triangle hangs `depth` nodes down a chain:
    each node names the next as its child."""
    nodes = "".join('{"children":[%d]},' % (n + 1) for n in range(depth - 1)) + '{"mesh":0}'
    return ('{"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[%s],'
            '"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],'
            '"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",'
            '"max":[1,1,0],"min":[0,0,0]}],"bufferViews":[{"buffer":0,"byteLength":36}],'
            '"buffers":[{"byteLength":36,"uri":"data:application/octet-stream;base64,%s"}]}'
            % (nodes, base64.b64encode(TRIANGLE).decode())).encode()


def collada(nodes, library=""):
    """A COLLADA file of one triangle geometry "g" whose visual scene is
    `nodes`, with `library` as its library of nodes."""
    return ('<?xml version="1.0"?>\n<COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" '
            'version="1.4.1"><asset><up_axis>Y_UP</up_axis></asset><library_geometries>'
            '<geometry id="g"><mesh><source id="p"><float_array id="pa" count="9">0 0 0 1 0 0 0 1 0'
            '</float_array><technique_common><accessor source="#pa" count="3" stride="3">'
            '<param name="X" type="float"/><param name="Y" type="float"/><param name="Z" type="float"/>'
            '</accessor></technique_common></source><vertices id="v"><input semantic="POSITION" '
            'source="#p"/></vertices><triangles count="1"><input semantic="VERTEX" source="#v" '
            'offset="0"/><p>0 1 2</p></triangles></mesh></geometry></library_geometries>'
            '<library_nodes>%s</library_nodes><library_visual_scenes><visual_scene id="s">%s'
            '</visual_scene></library_visual_scenes><scene><instance_visual_scene url="#s"/></scene>'
            '</COLLADA>\n' % (library, nodes)).encode()


def deep_collada(depth):
    """The triangle `depth` <node> elements down: 13 bytes a level, the
    fewest a level of COLLADA can take."""
    return collada("<node>" * depth + '<instance_geometry url="#g"/>' + "</node>" * depth)


def deep_fbx(depth):
    """An ASCII FBX file whose objects nest `depth` scopes deep, 4 bytes a
    level. The importer refuses it once read, but has followed every
    level."""
    return ("; FBX 7.4.0 project file\nFBXHeaderExtension: {\nFBXVersion: 7400\n}\nObjects: {\n" +
            "a:{" * depth + "}" * depth + "\n}\n").encode()


def main():
    makers = {"gltf": deep_gltf, "collada": deep_collada, "fbx": deep_fbx}
    if len(sys.argv) != 4 or sys.argv[1] not in makers or not sys.argv[2].isdigit():
        sys.exit(__doc__)
    with open(sys.argv[3], "wb") as f:
        f.write(makers[sys.argv[1]](int(sys.argv[2])))


if __name__ == "__main__":
    main()
