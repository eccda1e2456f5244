#include "read/child_read.h"

#include "platform/address_sanitizer.h"
#include "read/memory_refusal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What crosses the pipe before the strings and the samples.
struct VolumeHeader {
    int32_t read = 0;
    int64_t dims[3], strides[3];
    double spacing[3], origin[3], directions[3][3];
    int32_t frame, type, meaning, channels;
    int64_t channelStride;
    double slope, intercept;
    uint64_t offset, storageBytes;
    uint64_t textBytes[3]; // reason, spacing source, position source
};

bool writeAll(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, at, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n, size -= size_t(n);
    }
    return true;
}

bool readAll(int fd, void* data, size_t size) {
    char* at = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, at, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n, size -= size_t(n);
    }
    return true;
}

// Holds the child to what it may need past what it maps now: the volume,
// a copy of it on its way out, and room for a file and the library's own,
// so that a library that takes a damaged length at its word fails at once
// instead of filling the machine. The address checker reserves its shadow
// beyond any such cap and keeps its own.
// The bytes this process has mapped, 0 when unknown.
unsigned long long mappedBytes() {
    FILE* statm = fopen("/proc/self/statm", "r");
    unsigned long long pages = 0;
    const bool known = statm && fscanf(statm, "%llu", &pages) == 1;
    if (statm)
        fclose(statm);
    return known ? pages * uint64_t(sysconf(_SC_PAGE_SIZE)) : 0;
}

void capChild(int64_t maxBytes) {
#ifndef VOXSCOPE_ADDRESS_SANITIZER
    const unsigned long long mapped = mappedBytes();
    struct rlimit limit;
    if (mapped == 0 || getrlimit(RLIMIT_AS, &limit) != 0)
        return;
    const unsigned long long room = mapped + 3 * uint64_t(maxBytes) + (uint64_t(256) << 20);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > room) {
        limit.rlim_cur = room;
        setrlimit(RLIMIT_AS, &limit);
    }
#else
    (void)maxBytes;
#endif
}

// Runs `setup` outside the address-space limit the child inherits, which
// then grows by what it mapped (a library and its threads' stacks), as if
// the program had mapped that at its start.
void runSetup(void (*setup)()) {
    struct rlimit limit;
    const bool capped = getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY;
    const unsigned long long before = mappedBytes();
    if (capped) {
        struct rlimit lifted = limit;
        lifted.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_AS, &lifted);
    }
    setup();
    const unsigned long long after = mappedBytes();
    if (capped) {
        const unsigned long long grown = after > before ? after - before : 0;
        if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max - limit.rlim_cur > grown)
            limit.rlim_cur += grown;
        else
            limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_AS, &limit);
    }
}

[[noreturn]] void runChild(ReadSamplesAt reader, const char* path, const ReadOptions& options,
                           int out, void (*setup)()) {
    if (setup)
        runSetup(setup);
    capChild(options.maxBytes);
    SampleVolume volume;
    std::string reason;
    VolumeHeader header;
    header.read = reader(path, options, volume, reason) ? 1 : 0;
    for (int a = 0; a < 3; ++a) {
        header.dims[a] = volume.dims[a];
        header.strides[a] = volume.strides[a];
        header.spacing[a] = volume.spacing[a];
        header.origin[a] = volume.origin[a];
        for (int c = 0; c < 3; ++c)
            header.directions[a][c] = volume.directions[a][c];
    }
    header.frame = int32_t(volume.frame);
    header.type = int32_t(volume.type);
    header.meaning = int32_t(volume.meaning);
    header.channels = volume.channels;
    header.channelStride = volume.channelStride;
    header.slope = volume.slope;
    header.intercept = volume.intercept;
    header.offset = volume.offset;
    header.storageBytes = header.read ? volume.storage.size() : 0;
    const std::string* texts[3] = {&reason, &volume.spacingSource, &volume.positionSource};
    for (int t = 0; t < 3; ++t)
        header.textBytes[t] = texts[t]->size();
    bool sent = writeAll(out, &header, sizeof header);
    for (const std::string* text : texts)
        sent = sent && writeAll(out, text->data(), text->size());
    sent = sent && writeAll(out, volume.storage.data(), size_t(header.storageBytes));
    fflush(stderr);
    _exit(sent ? 0 : 1);
}

bool takeText(int fd, uint64_t bytes, std::string& text) {
    if (bytes > 1 << 20)
        return false;
    text.resize(size_t(bytes));
    return readAll(fd, &text[0], size_t(bytes));
}

// Copies what the child wrote on stderr to ours.
void passOnNotes(int fd) {
    char buffer[4096];
    ssize_t n;
    lseek(fd, 0, SEEK_SET);
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        fwrite(buffer, 1, size_t(n), stderr);
}

} // namespace

bool readSamplesInChild(ReadSamplesAt reader, const char* path, const ReadOptions& options,
                        SampleVolume& out, std::string& reason, void (*setup)()) {
    int pipeEnds[2];
    const int notes = memfd_create("reader-notes", MFD_CLOEXEC);
    if (notes < 0 || pipe2(pipeEnds, O_CLOEXEC) != 0) {
        if (notes >= 0)
            close(notes);
        reason = std::string("its reader cannot be started: ") + strerror(errno);
        return false;
    }
    fflush(stdout);
    fflush(stderr);
    const pid_t child = fork();
    if (child < 0) {
        reason = std::string("its reader cannot be started: ") + strerror(errno);
        close(pipeEnds[0]), close(pipeEnds[1]), close(notes);
        return false;
    }
    if (child == 0) {
        close(pipeEnds[0]);
        dup2(notes, 2);
        runChild(reader, path, options, pipeEnds[1], setup);
    }
    close(pipeEnds[1]);
    VolumeHeader header;
    std::string texts[3];
    bool whole = readAll(pipeEnds[0], &header, sizeof header);
    for (int t = 0; t < 3 && whole; ++t)
        whole = takeText(pipeEnds[0], header.textBytes[t], texts[t]);
    bool fits = true;
    if (whole && header.read) {
        // The child held itself to the cap; the parent still checks before
        // it takes the bytes.
        fits = header.storageBytes <= uint64_t(options.maxBytes);
        if (fits) {
            out.storage.resize(size_t(header.storageBytes));
            whole = readAll(pipeEnds[0], out.storage.data(), out.storage.size());
        }
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const bool exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!whole || !exited || !fits) {
        close(notes);
        out.storage.clear();
        if (!fits)
            reason =
                memoryRefusal("the volume", (long double)header.storageBytes, options.maxBytes);
        else
            reason = "its data cannot be parsed (the reader stopped: " +
                     std::string(WIFSIGNALED(status) ? strsignal(WTERMSIG(status))
                                                     : "it sent no whole volume") +
                     ")";
        return false;
    }
    if (!header.read) {
        close(notes);
        reason = texts[0];
        return false;
    }
    passOnNotes(notes);
    close(notes);
    for (int a = 0; a < 3; ++a) {
        out.dims[a] = header.dims[a];
        out.strides[a] = header.strides[a];
        out.spacing[a] = header.spacing[a];
        out.origin[a] = header.origin[a];
        for (int c = 0; c < 3; ++c)
            out.directions[a][c] = header.directions[a][c];
    }
    out.frame = PatientFrame(header.frame);
    out.type = SampleType(header.type);
    out.meaning = SampleMeaning(header.meaning);
    out.channels = header.channels;
    out.channelStride = header.channelStride;
    out.slope = header.slope;
    out.intercept = header.intercept;
    out.offset = size_t(header.offset);
    out.spacingSource = texts[1];
    out.positionSource = texts[2];
    return true;
}
