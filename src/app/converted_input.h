// vxlrender's inputs other than voxel text: read and staged by the
// converter's pipeline in memory, then handed to the drawing as the model
// that loading the converted voxel file would give.
#pragma once

#include "convert/conversion_options.h"
#include "model/voxel_model.h"
#include "voxels/voxel_grid.h"

#include <string>

// Whether `path`, with no conversion option given, is for the viewer's own
// loader: a name ending in .vxl, an input that is not a regular file with
// content (a pipe, a missing file), or one whose first bytes are a voxel
// text header. Its refusals are then the viewer's.
bool drawnAsVoxelText(const char* path);

// A new model of the voxels, in their order, with the very floats the voxel
// file writer's shortest round-trip decimals would load back as. Empties
// `voxels` as it goes, so that the two copies are not held at once for long.
// Null when there is no memory for it.
VoxelModel* modelOfVoxels(VoxelList& voxels);

// The input read and staged as vxlconv would before writing its voxel file,
// as a new model. On failure sets `error` to one sentence and returns null.
VoxelModel* convertToModel(const ConversionOptions& options, std::string& error);
