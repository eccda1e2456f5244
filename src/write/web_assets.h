// The web page's own files (src/write/web), built into the program at build
// time: the page with its {{NAME}} places, and the two scripts it holds.
#pragma once

extern const char pageTemplate[]; // page.html
extern const char cameraScript[]; // camera.js: the viewer's camera arithmetic
extern const char viewerScript[]; // viewer.js: the model decoded and drawn with WebGL
