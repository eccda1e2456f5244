#include "app/model_loading.h"

#include <cstdio>
#include <cstdlib>

#include "model/voxel_model.h"
#include "render/voxel_geometry.h"

[[noreturn]] static void cannotOpen(const char* path) {
    fprintf(stderr, "Couldn't open file %s\n", path);
    exit(1);
}

void loadModelOrExit(const char* path) {
    model = loadVoxels(path);
    if (!model)
        cannotOpen(path);
}

void refuseToDraw(const char* path) {
    fprintf(stderr, "Not enough memory to draw %d voxels from %s\n", model->count, path);
    cannotOpen(path);
}

void buildArraysOrExit(const char* path) {
    if (!buildVoxelArrays(model))
        refuseToDraw(path);
}
