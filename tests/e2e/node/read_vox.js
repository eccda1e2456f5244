// Reads a MagicaVoxel file with the vox-reader package and prints what it
// found as one JSON object: each model's size and voxels (x, y, z, colour
// index), the palette, and the scene graph's transforms and shapes.
const fs = require("fs");
const readVox = require("vox-reader");

const asList = (value) => (value === undefined ? [] : Array.isArray(value) ? value : [value]);
const vox = readVox(fs.readFileSync(process.argv[2]));
const models = asList(vox.size).map((size, m) => ({
    size: [size.x, size.y, size.z],
    voxels: asList(vox.xyzi)[m].values.map((v) => [v.x, v.y, v.z, v.i]),
}));
console.log(JSON.stringify({
    models,
    palette: vox.rgba ? vox.rgba.values.map((c) => [c.r, c.g, c.b, c.a]) : null,
    transforms: asList(vox.ntrn).map((t) => ({
        id: t.nodeId,
        child: t.child,
        translation: t.frames[0] && t.frames[0]._t ? t.frames[0]._t.split(" ").map(Number) : [0, 0, 0],
        rotation: t.frames[0] && t.frames[0]._r !== undefined ? Number(t.frames[0]._r) : null,
    })),
    groups: asList(vox.ngrp).map((g) => ({ id: g.nodeId, children: g.children })),
    shapes: asList(vox.nshp).map((s) => ({ id: s.nodeId, models: s.models.map((m) => m[0]) })),
}));
