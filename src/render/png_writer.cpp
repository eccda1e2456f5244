#include "render/png_writer.h"

#include <png.h>

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The pending temporary file, in fixed storage so that a signal handler can
// remove it without allocating.
static char temporaryPath[PATH_MAX + 32];
static volatile sig_atomic_t temporaryPending = 0;
static std::string outputPath;
static int temporaryFd = -1;

static const int cleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

static void removeTemporaryOnSignal(int sig) {
    if (temporaryPending)
        unlink(temporaryPath);
    temporaryPending = 0;
    signal(sig, SIG_DFL);
    raise(sig);
}

static void removeTemporaryAtExit() {
    abandonPngFile();
}

void abandonPngFile() {
    if (temporaryFd >= 0)
        close(temporaryFd);
    temporaryFd = -1;
    if (temporaryPending)
        unlink(temporaryPath);
    temporaryPending = 0;
}

static std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool beginPngFile(const char* path, std::string* error) {
    outputPath = path;
    struct stat info;
    if (stat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
        *error = std::string("cannot write ") + path + ": it is a directory";
        return false;
    }
    std::string folder = folderOf(outputPath);
    // A name of its own, so that the temporary file never takes the place
    // of another file, and a hidden one, so that a file manager watching the
    // folder does not show it.
    int n = snprintf(temporaryPath, sizeof temporaryPath, "%s/.vxlrender-XXXXXX", folder.c_str());
    if (n < 0 || size_t(n) >= sizeof temporaryPath) {
        *error = std::string("cannot write ") + path + ": " + strerror(ENAMETOOLONG);
        return false;
    }
    static bool handlersInstalled = false;
    if (!handlersInstalled) {
        handlersInstalled = true;
        atexit(removeTemporaryAtExit);
        for (int sig : cleanedSignals) {
            struct sigaction action = {};
            struct sigaction previous = {};
            sigaction(sig, nullptr, &previous);
            // A signal the caller chose to ignore stays ignored.
            if (previous.sa_handler == SIG_IGN)
                continue;
            action.sa_handler = removeTemporaryOnSignal;
            sigemptyset(&action.sa_mask);
            sigaction(sig, &action, nullptr);
        }
    }
    // Signals wait while the name is being made and recorded, so that none
    // finds a file it does not know of.
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    for (int sig : cleanedSignals)
        sigaddset(&blocked, sig);
    sigprocmask(SIG_BLOCK, &blocked, &previousMask);
    temporaryFd = mkstemp(temporaryPath);
    int savedErrno = errno;
    if (temporaryFd >= 0)
        temporaryPending = 1;
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    if (temporaryFd < 0) {
        *error = std::string("cannot write ") + path + ": " + strerror(savedErrno);
        return false;
    }
    // mkstemp makes the file private; a picture is as readable as any file
    // the user makes.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(temporaryFd, 0666 & ~mask);
    return true;
}

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

// Encodes into `file`; false with the reason in `failure` when libpng or the
// writes fail.
static bool encodePng(FILE* file, const uint8_t* pixels, int w, int h, int channels,
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
    png_init_io(png, file);
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

bool finishPngFile(const uint8_t* pixels, int w, int h, int channels, std::string* error) {
    auto failWith = [&](const std::string& why) {
        abandonPngFile();
        *error = "cannot write " + outputPath + ": " + why;
        return false;
    };
    if (temporaryFd < 0)
        return failWith("no file was begun");
    FILE* file = fdopen(temporaryFd, "wb");
    if (!file)
        return failWith(strerror(errno));
    temporaryFd = -1; // the stream owns it now
    PngFailure failure = {};
    bool encoded = encodePng(file, pixels, w, h, channels, &failure);
    // A full disk shows up at the flush or the close, not at the writes.
    bool flushed = fflush(file) == 0 && fsync(fileno(file)) == 0;
    int savedErrno = errno;
    bool closed = fclose(file) == 0;
    if (!closed && flushed)
        savedErrno = errno;
    if (!encoded)
        return failWith(failure.message[0] ? failure.message : strerror(savedErrno));
    if (!flushed || !closed)
        return failWith(strerror(savedErrno));
    if (rename(temporaryPath, outputPath.c_str()) != 0)
        return failWith(strerror(errno));
    temporaryPending = 0;
    return true;
}
