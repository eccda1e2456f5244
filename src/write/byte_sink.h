// Buffered writing of a model file's bytes and text into a stream, with the
// first failure kept for the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ByteSink {
    FILE* file = nullptr; // null: the bytes stay in `buffer`

    std::vector<char> buffer;
    int failure = 0; // errno of the first failed write, 0 while none
};

// A sink that writes into `file` in blocks of a mebibyte.
ByteSink openSink(FILE* file);

// A sink that keeps every byte in its buffer, for output that is written
// out only once it is whole (a file embedded in another).
ByteSink openMemorySink();

void putBytes(ByteSink& sink, const void* data, size_t size);
void putText(ByteSink& sink, const std::string& text);
// The shortest decimal that reads back as exactly this float.
void putFloat(ByteSink& sink, float value);
void putInteger(ByteSink& sink, int64_t value);
void putLittle32(ByteSink& sink, uint32_t value);

// Writes out what is buffered; false (errno in `failure`) when any write
// failed.
bool flushSink(ByteSink& sink);
