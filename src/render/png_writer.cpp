#include "render/png_writer.h"

#include <png.h>

#include "platform/output_file.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

struct PngFailure {
    jmp_buf jump;
    char message[200];
};

static void onPngError(png_structp png, png_const_charp message) {
    PngFailure* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
    snprintf(failure->message, sizeof failure->message, "%s", message);
    longjmp(failure->jump, 1);
}

static void onPngWarning(png_structp, png_const_charp) {}

// Where the encoded bytes go: a file, or memory when `file` is null.
struct PngSink {
    FILE* file;
    std::vector<uint8_t>* bytes;
};

static void writeToSink(png_structp png, png_bytep data, png_size_t length) {
    PngSink* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    if (sink->file) {
        if (fwrite(data, 1, length, sink->file) != length)
            png_error(png, "write failed");
    } else {
        sink->bytes->insert(sink->bytes->end(), data, data + length);
    }
}

static void flushSink(png_structp) {}

// Encodes into `sink`; false with the reason in `failure` when libpng or the
// writes fail.
static bool encodePng(PngSink* sink, const uint8_t* pixels, int w, int h, int channels,
                      PngFailure* failure) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, onPngError, onPngWarning);
    if (!png) {
        snprintf(failure->message, sizeof failure->message, "not enough memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(failure->jump)) {
        if (!info)
            snprintf(failure->message, sizeof failure->message, "not enough memory");
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_set_write_fn(png, sink, writeToSink, flushSink);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8,
                 channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Rendered voxels are runs of flat colour, which the compressor's own
    // matching packs best: row filters made the files about a third larger
    // and took twice as long.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    const size_t rowBytes = size_t(w) * size_t(channels);
    for (int y = 0; y < h; ++y)
        png_write_row(png, pixels + size_t(y) * rowBytes);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool encodePngBytes(const uint8_t* pixels, int w, int h, int channels, std::vector<uint8_t>& out,
                    std::string* error) {
    out.clear();
    PngSink sink = {nullptr, &out};
    PngFailure failure = {};
    if (!encodePng(&sink, pixels, w, h, channels, &failure)) {
        *error = failure.message;
        return false;
    }
    return true;
}

bool finishPngFile(const uint8_t* pixels, int w, int h, int channels, std::string* error) {
    FILE* file = outputFileStream();
    if (!file)
        return failOutputFile("no file was begun", error);
    PngFailure failure = {};
    PngSink sink = {file, nullptr};
    if (!encodePng(&sink, pixels, w, h, channels, &failure)) {
        // A failed write says why in errno; libpng's own refusals in words.
        const int code = errno;
        return failOutputFile(ferror(file) ? strerror(code) : failure.message, error);
    }
    return finishOutputFile(error);
}
