// A regular file read in bounded pieces. The loader parses each piece as it
// arrives and stops reading once it has the voxels its header asks for, or at
// the first number that fails, so the memory and time a load takes follow
// what it parses, not the size of the file: a huge file whose header asks for
// one voxel costs one small read.
#pragma once

#include <cstddef>
#include <cstdint>

// The most text held at once (bar a single number longer than this, which is
// kept whole however long it is); the tests make it tiny to put the edges of
// the pieces everywhere.
extern size_t fileWindowBytes;
// The first read is small, so that a header and the first voxels of a huge
// file (a preview with a shortened count) take next to nothing.
extern size_t fileWindowFirstRead;

struct FileWindow {
    int fd;               // the file, or -1 when all of the text is in memory already
    char* buffer;         // what has been read and not yet let go (owned when fd >= 0)
    size_t capacity;      // bytes the buffer holds
    const char* end;      // end of the text read so far
    bool atEnd;           // nothing more will come: the file has ended (or failed)
    bool readFailed;      // a read() failed
    int64_t bufferOffset; // offset in the file of buffer[0]
    int64_t fileSize;     // the file's size when it was opened
};

// Starts reading the open regular file `fd` of `fileSize` bytes (the first,
// small piece is read at once). False, with nothing held, when no buffer can
// be had or the read fails (readFailed tells which).
bool openFileWindow(FileWindow* w, int fd, int64_t fileSize);

// A window over `size` bytes of text already in memory: nothing is read and
// nothing is freed.
void openMemoryWindow(FileWindow* w, const char* text, size_t size);

// Lets go of everything before `keep` and reads the next piece of the file
// after what is held. Returns where `keep` now stands (the start of the
// buffer), or null when the read fails. Once atEnd is set there is nothing
// more to read and the window stays as it is.
const char* advanceFileWindow(FileWindow* w, const char* keep);

// Bytes of the file after position `p` in the buffer, read or not.
int64_t bytesAfter(const FileWindow* w, const char* p);

// Gives back the buffer.
void closeFileWindow(FileWindow* w);
