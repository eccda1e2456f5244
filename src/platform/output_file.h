// Writing a program's output file whole or not at all. The output goes to a
// hidden temporary file beside it (".PROGRAM-XXXXXX" in the same folder),
// which is renamed over the output only once it is complete and on disk.
// Until then an existing file of that name stays exactly as it was, and the
// temporary file is removed however the program ends short of that: an
// error, exit, or SIGINT, SIGTERM, SIGHUP. A file-size limit (SIGXFSZ) makes
// the write fail and be reported instead of ending the program.
//
// Only a regular file (or nothing) is ever replaced: a path that names a
// directory, a FIFO, a device or a socket is refused before any work. One
// output at a time, with up to three companion files (a model's buffer,
// material or texture), each written whole or not at all in the same way.
#pragma once

#include <cstdio>
#include <string>

// Whether the two paths name one existing file: the same name, a link, or
// any other path to the same device and inode.
bool namesSameFile(const char* a, const char* b);

// False with "OUTPUT is the input; write the output to another file" in
// *error when `output` names the file `input` names.
bool refuseOutputOverInput(const char* input, const char* output, std::string* error);

// Checks that `path` names a regular file or nothing, and creates the
// temporary file for it now, named for `program`, with the permissions of
// any new file (the umask's). On failure returns false with
// "cannot write PATH: REASON" in *error (one line, no line break).
bool beginOutputFile(const char* path, const char* program, std::string* error);

// The output and its companions: at most this many files at once.
constexpr int maxOutputFiles = 4;

// Begins one more file of the output begun last, checked and made as
// beginOutputFile does, as companion number 1, 2, ... in the order begun.
// On failure removes every temporary file of the output and returns false
// with "cannot write PATH: REASON" in *error.
bool beginCompanionFile(const char* path, std::string* error);

// The stream of the temporary file, for the writer; null when none is begun.
FILE* outputFileStream();

// The stream of companion `n` (0 is the output itself); null when none.
FILE* companionFileStream(int n);

// Flushes every temporary file of the output to disk, then renames each
// over its file, the companions before the output. On failure removes them,
// leaves the files untouched and returns false with "cannot write PATH:
// REASON" in *error.
bool finishOutputFile(std::string* error);

// Removes every temporary file and returns false with
// "cannot write PATH: WHY" in *error: how a writer that failed gives up.
bool failOutputFile(const std::string& why, std::string* error);

// The same, naming companion `n` in the message.
bool failCompanionFile(int n, const std::string& why, std::string* error);

// Removes the temporary files, if any are pending.
void abandonOutputFile();
