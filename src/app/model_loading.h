// Reading the model and expanding it into cube arrays, with the viewer's
// messages: the steps every program that draws a voxel file starts with.
#pragma once

// Loads `path` into the global `model`; on failure the loader's line is
// followed by "Couldn't open file" and the process ends with status 1.
void loadModelOrExit(const char* path);

// Writes "Not enough memory to draw" for the loaded model, then "Couldn't
// open file", and ends the process with status 1.
[[noreturn]] void refuseToDraw(const char* path);

// Expands the model into the cube arrays now, so that a model too big for
// memory is refused here with a message rather than once drawing has begun.
void buildArraysOrExit(const char* path);
