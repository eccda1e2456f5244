// Naming the kind of a file in a refusal: the programs read and replace only
// regular files, and say what a path names instead.
#pragma once

#include <sys/types.h>

// "a directory", "a FIFO", "a character device", "a block device",
// "a socket", "a symbolic link", "a regular file", else "an unknown kind of file".
const char* fileTypeName(mode_t mode);
