// A web page that shows the voxel set by itself, offline, in any browser
// with WebGL: the merged glTF mesh of the set embedded in the page with a
// small viewer that opens on the viewer's first frame and turns like it.
#pragma once

#include "voxels/voxel_grid.h"
#include "write/output_format.h"

#include <string>
#include <utility>
#include <vector>

// Writes the page into the output begun for options.path and puts it in
// place; on failure removes it and sets `error`. The page always holds the
// greedy mesh, whatever options.mesh says.
bool writeHtml(const VoxelGrid& grid, const WriteOptions& options, std::string& error);

// `page` with each {{NAME}} that `values` names replaced by its value, and
// every other character as it was.
std::string fillPlaces(const std::string& page,
                       const std::vector<std::pair<std::string, std::string>>& values);
