// Finding and loading the OpenVDB module in the reading child.
#pragma once

#include "read/vdb_grid.h"

#include <string>

// The module's entry point, loaded from beside the installed program
// (its directory's ../lib/voxscope/) or else from where the build tree
// made it; null with a one-line reason (dlerror's) when neither loads.
ReadVdbGridEntry loadVdbModule(std::string& reason);
