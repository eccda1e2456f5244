#include "dual_load.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

LoadOutcome loadCapturingStderr(VoxelModel* (*loader)(const char*), const char* path) {
    LoadOutcome outcome = {nullptr, ""};
    FILE* sink = tmpfile();
    if (!sink)
        abort();
    fflush(stderr);
    int saved = dup(2);
    if (saved < 0 || dup2(fileno(sink), 2) < 0)
        abort();
    outcome.model = loader(path);
    fflush(stderr);
    if (dup2(saved, 2) < 0)
        abort();
    close(saved);
    rewind(sink);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, sink)) > 0)
        outcome.messages.append(buffer, n);
    fclose(sink);
    return outcome;
}

std::string describeDifference(const LoadOutcome& fast, const LoadOutcome& reference) {
    if (fast.messages != reference.messages)
        return "messages differ: \"" + fast.messages + "\" against fscanf's \"" +
               reference.messages + "\"";
    if (!fast.model || !reference.model)
        return fast.model == reference.model ? "" : "only one of the two loaded a model";
    const VoxelModel& a = *fast.model;
    const VoxelModel& b = *reference.model;
    if (a.count != b.count)
        return "count " + std::to_string(a.count) + " against " + std::to_string(b.count);
    if (memcmp(&a.voxelSize, &b.voxelSize, sizeof(float)) != 0)
        return "voxel size bits differ";
    if ((a.positions == nullptr) != (b.positions == nullptr) ||
        (a.colors == nullptr) != (b.colors == nullptr))
        return "array presence differs";
    for (size_t i = 0; i < 3 * size_t(a.count); ++i) {
        if (memcmp(&a.positions[i], &b.positions[i], sizeof(float)) != 0)
            return "position value " + std::to_string(i) + " differs";
        if (a.colors[i] != b.colors[i])
            return "colour value " + std::to_string(i) + " differs";
    }
    return "";
}

void releaseOutcome(LoadOutcome* outcome) {
    if (outcome->model) {
        freeVoxelModel(outcome->model);
    }
    outcome->model = nullptr;
}

std::string compareLoaders(const char* path) {
    LoadOutcome fast = loadCapturingStderr(loadVoxels, path);
    LoadOutcome reference = loadCapturingStderr(loadVoxelsWithStdio, path);
    std::string difference = describeDifference(fast, reference);
    releaseOutcome(&fast);
    releaseOutcome(&reference);
    return difference;
}

std::string writeScratchFile(const std::string& bytes) {
    const char* tmp = getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/voxscope-scratch-XXXXXX";
    int fd = mkstemp(&path[0]);
    if (fd < 0)
        abort();
    FILE* f = fdopen(fd, "wb");
    if (!f || (bytes.size() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ||
        fclose(f) != 0)
        abort();
    return path;
}

std::string compareLoadersOnBytes(const std::string& bytes) {
    std::string path = writeScratchFile(bytes);
    std::string difference = compareLoaders(path.c_str());
    unlink(path.c_str());
    return difference;
}
