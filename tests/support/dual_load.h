// Loads one file both ways, with the fast loader and with the fscanf loop it
// must agree with, and says where the two differ: the models bit for bit
// (NaN payloads and signs included) and the lines written to stderr.
#pragma once

#include <string>

#include "model/voxel_model.h"

struct LoadOutcome {
    VoxelModel* model;    // null when the load was refused
    std::string messages; // everything the loader wrote to stderr
};

// Runs `loader` on `path` with stderr captured.
LoadOutcome loadCapturingStderr(VoxelModel* (*loader)(const char*), const char* path);

// Empty when the two outcomes are the same, else the first difference.
std::string describeDifference(const LoadOutcome& fast, const LoadOutcome& reference);

void releaseOutcome(LoadOutcome* outcome);

// Loads `path` with loadVoxels and loadVoxelsWithStdio; empty when they agree.
std::string compareLoaders(const char* path);

// Writes `bytes` to a new file under $TMPDIR (or /tmp) and returns its path;
// the caller removes it.
std::string writeScratchFile(const std::string& bytes);

// compareLoaders on a scratch file holding `bytes`, removed again.
std::string compareLoadersOnBytes(const std::string& bytes);
