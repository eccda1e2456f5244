#include "model/file_window.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "platform/large_array.h"

// 16 MiB of text is about 450,000 voxels: each piece is parsed in a few
// milliseconds, on two threads, and the reads in between cost a tenth of that.
size_t fileWindowBytes = size_t(16) << 20;
size_t fileWindowFirstRead = size_t(64) << 10;

// Reads into buffer[from, to) until it is full or the file ends; false when a
// read fails.
static bool fill(FileWindow* w, size_t from, size_t to) {
    while (from < to) {
        ssize_t n = read(w->fd, w->buffer + from, to - from);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            w->readFailed = true;
            w->atEnd = true;
            w->end = w->buffer + from;
            return false;
        }
        if (n == 0) {
            w->atEnd = true;
            break;
        }
        from += size_t(n);
    }
    w->end = w->buffer + from;
    return true;
}

bool openFileWindow(FileWindow* w, int fd, int64_t fileSize) {
    *w = {};
    w->fd = fd;
    w->fileSize = fileSize;
    w->capacity = std::max<size_t>(1, std::min<uint64_t>(fileWindowBytes, uint64_t(fileSize)));
    w->buffer = static_cast<char*>(mapLargeBuffer(w->capacity));
    if (!w->buffer)
        return false;
    if (!fill(w, 0, std::min(w->capacity, std::max<size_t>(1, fileWindowFirstRead)))) {
        closeFileWindow(w);
        w->readFailed = true;
        return false;
    }
    return true;
}

void openMemoryWindow(FileWindow* w, const char* text, size_t size) {
    *w = {};
    w->fd = -1;
    w->buffer = const_cast<char*>(text);
    w->capacity = size;
    w->end = text + size;
    w->atEnd = true;
    w->fileSize = int64_t(size);
}

const char* advanceFileWindow(FileWindow* w, const char* keep) {
    if (w->atEnd)
        return w->readFailed ? nullptr : keep;
    size_t kept = size_t(w->end - keep);
    if (kept == w->capacity) {
        // One number fills the whole window: it is kept whole, in a buffer
        // twice the size, since its value may depend on every digit.
        size_t larger = w->capacity * 2;
        char* grown = larger > w->capacity ? static_cast<char*>(mapLargeBuffer(larger)) : nullptr;
        if (!grown) {
            w->readFailed = true;
            w->atEnd = true;
            return nullptr;
        }
        memcpy(grown, keep, kept);
        w->bufferOffset += keep - w->buffer;
        unmapLargeBuffer(w->buffer, w->capacity);
        w->buffer = grown;
        w->capacity = larger;
    } else {
        w->bufferOffset += keep - w->buffer;
        memmove(w->buffer, keep, kept);
    }
    if (!fill(w, kept, w->capacity))
        return nullptr;
    return w->buffer;
}

int64_t bytesAfter(const FileWindow* w, const char* p) {
    return w->fileSize - (w->bufferOffset + (p - w->buffer));
}

void closeFileWindow(FileWindow* w) {
    if (w->fd >= 0 && w->buffer)
        unmapLargeBuffer(w->buffer, w->capacity);
    w->buffer = nullptr;
    w->end = nullptr;
}
