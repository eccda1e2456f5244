// Which array of a Zarr store to read and where its samples lie: the array
// at the store's root, the one --dataset names, the largest of a group, or a
// level of an OME-Zarr pyramid (0.4 in .zattrs, 0.5 in zarr.json), with the
// voxel size and origin its coordinate transformations give.
#pragma once

#include "read/input_format.h"
#include "read/zarr_metadata.h"

#include <string>
#include <vector>

struct ZarrChoice {
    std::string folder; // the array's folder
    ZarrArrayMeta meta;
    // What each array axis becomes: 0, 1, 2 the volume's i, j, k (x, y,
    // z); -1 an axis of which only index 0 is read (time, channel).
    std::vector<int> roles;
    std::vector<std::string> axisNames; // for notes: the metadata's names, or empty
    double spacing[3] = {1, 1, 1};
    double origin[3] = {0, 0, 0};
    std::string spacingSource = "the spacing";
    std::vector<std::string> notes; // what a user should know of the choice
};

// The store's root folder for an input: the folder itself, or the folder
// of a metadata file (.zarray, .zgroup, .zattrs, zarr.json) given instead.
std::string zarrStoreRoot(const char* path);

// Whether `folder` holds Zarr metadata of either version.
bool holdsZarrMetadata(const std::string& folder);

// Chooses the array to read (ReadOptions::dataset and ::level), reading no
// more than the metadata; refuses with a reason.
bool chooseZarrArray(const char* path, const ReadOptions& options, ZarrChoice& out,
                     std::string& reason);

// Joins a path inside the store, refusing one that leaves it: ".." anywhere,
// and a leading "/" unless `rootedOk` (a --dataset path names the store's
// root so). `what` names the path in the refusal.
bool storeRelativePath(const std::string& name, bool rootedOk, const std::string& what,
                       std::string& clean, std::string& reason);
