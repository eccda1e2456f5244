// A folder of the user's own for files that live only while a program runs
// (the voxel file vxlconv --view shows), where no other user can read, add
// or replace anything.
#pragma once

#include <string>

// Makes "PREFIX-XXXXXX" with mode 0700 under $TMPDIR, or /tmp when that is
// unset or empty. Returns its path, or an empty string with "cannot make a
// folder under DIR: REASON" in *error.
std::string makePrivateFolder(const char* prefix, std::string* error);

// Removes the files in the folder, then the folder. Returns false, with the
// reason in *error, when the folder is still there afterwards.
bool removePrivateFolder(const std::string& folder, std::string* error);
