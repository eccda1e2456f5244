#include "write/byte_sink.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

constexpr size_t blockBytes = size_t(1) << 20;

void writeBuffer(ByteSink& sink) {
    if (!sink.file)
        return;
    if (!sink.buffer.empty() && sink.failure == 0 &&
        fwrite(sink.buffer.data(), 1, sink.buffer.size(), sink.file) != sink.buffer.size())
        sink.failure = errno ? errno : EIO;
    sink.buffer.clear();
}

} // namespace

ByteSink openSink(FILE* file) {
    ByteSink sink;
    sink.file = file;
    sink.buffer.reserve(blockBytes);
    return sink;
}

ByteSink openMemorySink() {
    return ByteSink();
}

void putBytes(ByteSink& sink, const void* data, size_t size) {
    if (sink.file && sink.buffer.size() + size > blockBytes)
        writeBuffer(sink);
    if (sink.file && size > blockBytes) {
        if (sink.failure == 0 && fwrite(data, 1, size, sink.file) != size)
            sink.failure = errno ? errno : EIO;
        return;
    }
    const char* bytes = static_cast<const char*>(data);
    sink.buffer.insert(sink.buffer.end(), bytes, bytes + size);
}

void putText(ByteSink& sink, const std::string& text) {
    putBytes(sink, text.data(), text.size());
}

void putFloat(ByteSink& sink, float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    putBytes(sink, text, size_t(end - text));
}

void putInteger(ByteSink& sink, int64_t value) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    putBytes(sink, text, size_t(end - text));
}

void putLittle32(ByteSink& sink, uint32_t value) {
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                              uint8_t(value >> 24)};
    putBytes(sink, bytes, 4);
}

bool flushSink(ByteSink& sink) {
    writeBuffer(sink);
    return sink.failure == 0;
}
