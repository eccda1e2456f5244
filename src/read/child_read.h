// Runs a reader by path in a child process and brings its volume back, for
// readers built on a library that aborts on a damaged file (GDCM as Debian
// builds it keeps its assertions): a crash of the child is a refusal of the
// input, never the end of the program.
#pragma once

#include "read/input_format.h"
#include "samples/sample_volume.h"

#include <string>

// Calls `reader` in a child: its volume comes back through a pipe, its
// refusal as the reason, and what it wrote on stderr (its notes) is written
// on ours only when it read the input. A child that dies or sends less than
// a whole volume gives the reason "its data cannot be parsed (the reader
// stopped: ...)". The volume's bytes are held to options.maxBytes before
// they are taken. `setup`, when given, runs in the child before its memory
// cap is set: loading a library there, whose mappings and threads are not
// the file's to pay for (the reader then finds what it loaded).
bool readSamplesInChild(ReadSamplesAt reader, const char* path, const ReadOptions& options,
                        SampleVolume& out, std::string& reason, void (*setup)() = nullptr);
