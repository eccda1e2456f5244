// The web page's camera (camera.js) driven by the script camera_trace reads,
// printing the same numbers after each line. With STATES (camera_trace's
// output for the same script) each event starts from the viewer's state
// before it, so that each step is compared on its own:
//   node camera_trace.js CAMERA_JS [STATES] < SCRIPT
"use strict";

const fs = require("fs");
const vm = require("vm");

const sandbox = { module: undefined };
vm.runInNewContext(fs.readFileSync(process.argv[2], "utf8") + "\nthis.voxelCamera = voxelCamera;", sandbox);
const camera = sandbox.voxelCamera;
const states = process.argv[3] ? fs.readFileSync(process.argv[3], "utf8").trim().split("\n") : null;
let width = 600, height = 600;
const out = [];
const lines = fs.readFileSync(0, "utf8").split("\n").filter((line) => line.trim());
for (const [index, line] of lines.entries()) {
    if (states && index >= 2) {
        const v = states[index - 1].split(" ").map((text, k) => k === 16 ? Number(text) : Math.fround(Number(text)));
        const c = camera.camera, t = camera.trackball, p = camera.pointer;
        [c.eye, c.angle, c.axis, c.distance] = [v.slice(0, 3), v[3], v.slice(4, 7), v[7]];
        [t.spinning, t.angularSpeed, t.spinAxis, t.lastTick] = [v[8] !== 0, v[9], v.slice(10, 13), v[16]];
        [p.lastX, p.lastY, p.lastButtons] = [v[13], v[14], v[15]];
    }
    const w = line.trim().split(/\s+/);
    const n = w.slice(1).map(Number);
    switch (w[0]) {
        case "size": [width, height] = n; break;
        case "frame": camera.frame([n[0], n[1], n[2]], n[3]); break;
        case "button": camera.pointerEvent(n[0], n[1], n[2], width, height, n[3], true); break;
        case "motion": camera.pointerEvent(n[0], n[1], n[2], width, height, n[3], false); break;
        case "wheel": camera.wheel(n[0], n[1], n[2], n[3], width, height, n[4]); break;
        case "key": camera.key(w[1] === "space" ? " " : w[1]); break;
        case "spin": camera.spin(n[0]); break;
        default: throw new Error("unknown line: " + line);
    }
    const c = camera.camera, t = camera.trackball;
    const p = camera.pointer;
    out.push([...c.eye, c.angle, ...c.axis, c.distance, t.spinning ? 1 : 0, t.angularSpeed, ...t.spinAxis,
              p.lastX, p.lastY, p.lastButtons, t.lastTick].join(" "));
}
process.stdout.write(out.join("\n") + "\n");
