#include "platform/output_file.h"

#include "platform/file_type.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The pending temporary file, in fixed storage so that a signal handler can
// remove it without allocating.
char temporaryPath[PATH_MAX + 64];
volatile sig_atomic_t temporaryPending = 0;
std::string outputPath;
FILE* temporaryStream = nullptr;

const int cleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removeTemporaryOnSignal(int sig) {
    if (temporaryPending)
        unlink(temporaryPath);
    temporaryPending = 0;
    signal(sig, SIG_DFL);
    raise(sig);
}

void removeTemporaryAtExit() {
    abandonOutputFile();
}

void installHandlersOnce() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
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
    // Past a file-size limit the write then fails with EFBIG and is
    // reported, instead of the signal ending the program mid-write.
    signal(SIGXFSZ, SIG_IGN);
}

// Signals wait while the temporary file's name is made or retired, so that
// none finds a file it does not know of or removes one renamed into place.
struct SignalsHeld {
    sigset_t previous;
    SignalsHeld() {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (int sig : cleanedSignals)
            sigaddset(&blocked, sig);
        sigprocmask(SIG_BLOCK, &blocked, &previous);
    }
    ~SignalsHeld() {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
};

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool refuse(const std::string& path, const std::string& why, std::string* error) {
    *error = "cannot write " + path + ": " + why;
    return false;
}

// Refuses a path that names anything but a regular file (following links:
// what a link leads to is what the user means by it).
bool refuseNonRegular(const std::string& path, std::string* error) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return refuse(path, std::string("it is ") + fileTypeName(info.st_mode), error);
    return true;
}

} // namespace

bool namesSameFile(const char* a, const char* b) {
    struct stat first, second;
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool refuseOutputOverInput(const char* input, const char* output, std::string* error) {
    if (!namesSameFile(input, output))
        return true;
    *error = std::string(output) + " is the input; write the output to another file";
    return false;
}

bool beginOutputFile(const char* path, const char* program, std::string* error) {
    abandonOutputFile();
    outputPath = path;
    if (!refuseNonRegular(outputPath, error))
        return false;
    // A name of its own, so that the temporary file never takes the place
    // of another file, and a hidden one, so that a file manager watching the
    // folder does not show it.
    const std::string folder = folderOf(outputPath);
    int n = snprintf(temporaryPath, sizeof temporaryPath, "%s/.%s-XXXXXX", folder.c_str(), program);
    if (n < 0 || size_t(n) >= sizeof temporaryPath)
        return refuse(outputPath, strerror(ENAMETOOLONG), error);
    installHandlersOnce();
    int fd = -1;
    int savedErrno = 0;
    {
        SignalsHeld held;
        fd = mkstemp(temporaryPath);
        savedErrno = errno;
        if (fd >= 0)
            temporaryPending = 1;
    }
    if (fd < 0)
        return refuse(outputPath, strerror(savedErrno), error);
    // mkstemp makes the file private; an output is as readable as any file
    // the user makes.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    temporaryStream = fdopen(fd, "wb");
    if (!temporaryStream) {
        savedErrno = errno;
        close(fd);
        return failOutputFile(strerror(savedErrno), error);
    }
    return true;
}

FILE* outputFileStream() {
    return temporaryStream;
}

bool finishOutputFile(std::string* error) {
    if (!temporaryStream)
        return failOutputFile("no file was begun", error);
    // A full disk shows up at the flush or the close, not at the writes.
    bool flushed = fflush(temporaryStream) == 0 && !ferror(temporaryStream) &&
                   fsync(fileno(temporaryStream)) == 0;
    int savedErrno = errno;
    bool closed = fclose(temporaryStream) == 0;
    temporaryStream = nullptr;
    if (!closed && flushed)
        savedErrno = errno;
    if (!flushed || !closed)
        return failOutputFile(strerror(savedErrno), error);
    // Something may have taken the output's name while the work went on.
    std::string why;
    if (!refuseNonRegular(outputPath, &why)) {
        abandonOutputFile();
        *error = why;
        return false;
    }
    SignalsHeld held;
    if (rename(temporaryPath, outputPath.c_str()) != 0)
        return failOutputFile(strerror(errno), error);
    temporaryPending = 0;
    return true;
}

bool failOutputFile(const std::string& why, std::string* error) {
    abandonOutputFile();
    return refuse(outputPath, why, error);
}

void abandonOutputFile() {
    if (temporaryStream)
        fclose(temporaryStream);
    temporaryStream = nullptr;
    SignalsHeld held;
    if (temporaryPending)
        unlink(temporaryPath);
    temporaryPending = 0;
}
