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

// The pending temporary files, in fixed storage so that a signal handler can
// remove them without allocating. Slot 0 is the output, the others its
// companions.
struct PendingFile {
    char temporaryPath[PATH_MAX + 64];
    volatile sig_atomic_t pending;
    std::string outputPath;
    FILE* stream;
};
PendingFile files[maxOutputFiles];
int begunFiles = 0;
std::string programName;

const int cleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removeTemporaryOnSignal(int sig) {
    for (PendingFile& file : files) {
        if (file.pending)
            unlink(file.temporaryPath);
        file.pending = 0;
    }
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

// Removes every temporary file and returns false with "cannot write PATH:
// WHY" for the file that failed.
bool failSlot(PendingFile& file, const std::string& why, std::string* error) {
    const std::string path = file.outputPath;
    abandonOutputFile();
    return refuse(path, why, error);
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

namespace {

// Begins the temporary file of slot `n` for `path`.
bool beginSlot(int n, const char* path, std::string* error) {
    PendingFile& file = files[n];
    file.outputPath = path;
    begunFiles = n + 1;
    if (!refuseNonRegular(file.outputPath, error))
        return false;
    // A name of its own, so that the temporary file never takes the place
    // of another file, and a hidden one, so that a file manager watching the
    // folder does not show it.
    const std::string folder = folderOf(file.outputPath);
    const int length = snprintf(file.temporaryPath, sizeof file.temporaryPath, "%s/.%s-XXXXXX",
                                folder.c_str(), programName.c_str());
    if (length < 0 || size_t(length) >= sizeof file.temporaryPath)
        return refuse(file.outputPath, strerror(ENAMETOOLONG), error);
    installHandlersOnce();
    int fd = -1;
    int savedErrno = 0;
    {
        SignalsHeld held;
        fd = mkstemp(file.temporaryPath);
        savedErrno = errno;
        if (fd >= 0)
            file.pending = 1;
    }
    if (fd < 0)
        return refuse(file.outputPath, strerror(savedErrno), error);
    // mkstemp makes the file private; an output is as readable as any file
    // the user makes.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file.stream = fdopen(fd, "wb");
    if (!file.stream) {
        savedErrno = errno;
        close(fd);
        return failSlot(file, strerror(savedErrno), error);
    }
    return true;
}

} // namespace

bool beginOutputFile(const char* path, const char* program, std::string* error) {
    abandonOutputFile();
    programName = program;
    return beginSlot(0, path, error);
}

bool beginCompanionFile(const char* path, std::string* error) {
    if (begunFiles == 0 || !files[0].stream) {
        abandonOutputFile();
        return refuse(path, "no file was begun", error);
    }
    if (begunFiles >= maxOutputFiles)
        return failOutputFile("too many files for one output", error);
    for (int i = 0; i < begunFiles; ++i)
        if (files[i].outputPath == path || namesSameFile(files[i].outputPath.c_str(), path)) {
            abandonOutputFile();
            return refuse(path, "it is written twice by this conversion", error);
        }
    if (!beginSlot(begunFiles, path, error)) {
        abandonOutputFile();
        return false;
    }
    return true;
}

FILE* outputFileStream() {
    return companionFileStream(0);
}

FILE* companionFileStream(int n) {
    return n >= 0 && n < begunFiles ? files[n].stream : nullptr;
}

bool finishOutputFile(std::string* error) {
    if (begunFiles == 0 || !files[0].stream)
        return failOutputFile("no file was begun", error);
    // A full disk shows up at the flush or the close, not at the writes.
    // Every file is complete and on disk before the first takes its name.
    for (int i = 0; i < begunFiles; ++i) {
        PendingFile& file = files[i];
        bool flushed =
            fflush(file.stream) == 0 && !ferror(file.stream) && fsync(fileno(file.stream)) == 0;
        int savedErrno = errno;
        bool closed = fclose(file.stream) == 0;
        file.stream = nullptr;
        if (!closed && flushed)
            savedErrno = errno;
        if (!flushed || !closed)
            return failSlot(file, strerror(savedErrno), error);
    }
    // Something may have taken an output's name while the work went on.
    for (int i = 0; i < begunFiles; ++i) {
        std::string why;
        if (!refuseNonRegular(files[i].outputPath, &why)) {
            abandonOutputFile();
            *error = why;
            return false;
        }
    }
    // Companions first, the file that names them last, so that an output
    // never stands in place before the files it refers to.
    SignalsHeld held;
    for (int i = begunFiles - 1; i >= 0; --i) {
        PendingFile& file = files[i];
        if (rename(file.temporaryPath, file.outputPath.c_str()) != 0)
            return failSlot(file, strerror(errno), error);
        file.pending = 0;
    }
    begunFiles = 0;
    return true;
}

bool failOutputFile(const std::string& why, std::string* error) {
    const std::string path = begunFiles > 0 ? files[0].outputPath : std::string();
    abandonOutputFile();
    return refuse(path, why, error);
}

bool failCompanionFile(int n, const std::string& why, std::string* error) {
    if (n < 0 || n >= begunFiles)
        return failOutputFile(why, error);
    return failSlot(files[n], why, error);
}

void abandonOutputFile() {
    for (PendingFile& file : files) {
        if (file.stream)
            fclose(file.stream);
        file.stream = nullptr;
    }
    SignalsHeld held;
    for (PendingFile& file : files) {
        if (file.pending)
            unlink(file.temporaryPath);
        file.pending = 0;
    }
    begunFiles = 0;
}
