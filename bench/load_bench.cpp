// Time to open a big voxel file: reading it (the loader on one thread and on
// two, and the fscanf loop it replaced, on the same file in the same run),
// framing it and
// expanding it into cube arrays, the work done before the first frame.
//
//   build/bench/load_bench [--file=model.vxl | --voxels=N]   (default: a
//   1000000-voxel lattice written to a temporary file)
//
// bench/run.py runs it on the generated random cloud and reports the ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "camera/camera_state.h"
#include "model/voxel_model.h"
#include "render/voxel_geometry.h"

static int voxelCount = 1000000;
static std::string filePath;

// A lattice of voxels with half-unit coordinates and colour gradients, written
// the way a typical exporter writes them: one voxel per line.
static void writeLattice(const char* path, int count) {
    FILE* f = fopen(path, "wb");
    if (!f) {
        perror(path);
        exit(1);
    }
    int side = 1;
    while (side * side * side < count)
        ++side;
    fprintf(f, "%d 0.5\n", count);
    for (int i = 0; i < count; ++i) {
        int x = i % side, y = (i / side) % side, z = i / (side * side);
        fprintf(f, "%.1f %.1f %.1f %d %d %d\n", x * 0.5, y * 0.5, z * 0.5, x * 255 / side,
                y * 255 / side, z * 255 / side);
    }
    fclose(f);
}

// Loads the file with `load` once per iteration, reporting voxels per second.
static void loadRepeatedly(benchmark::State& state, VoxelModel* (*load)(const char*)) {
    for (auto _ : state) {
        VoxelModel* m = load(filePath.c_str());
        if (!m) {
            state.SkipWithError("load failed");
            return;
        }
        benchmark::DoNotOptimize(m->positions);
        freeVoxelModel(m);
    }
    state.counters["voxels/s"] =
        benchmark::Counter(double(voxelCount) * state.iterations(), benchmark::Counter::kIsRate);
}

static void BM_LoadVoxels(benchmark::State& state) {
    loadRepeatedly(state, loadVoxels);
}

// The reference: every number through fscanf, as the loader used to read.
static void BM_LoadVoxelsWithStdio(benchmark::State& state) {
    loadRepeatedly(state, loadVoxelsWithStdio);
}

// The readers in turn on the same file, iteration after iteration, so that a
// machine whose load changes from second to second weighs on all alike: the
// fscanf loop, the loader held to one thread, and the loader as it runs.
// Reports each one's median load time and the ratios to the fscanf loop.
static void BM_ReaderRatio(benchmark::State& state) {
    std::vector<double> times[3];
    for (auto _ : state) {
        for (int which = 0; which < 3; ++which) {
            loaderUsesSecondThread = which == 2;
            auto start = std::chrono::steady_clock::now();
            VoxelModel* m =
                which ? loadVoxels(filePath.c_str()) : loadVoxelsWithStdio(filePath.c_str());
            double took =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (!m) {
                state.SkipWithError("load failed");
                return;
            }
            freeVoxelModel(m);
            times[which].push_back(took);
        }
    }
    loaderUsesSecondThread = true;
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    state.counters["fscanf_ms"] = 1e3 * median(times[0]);
    state.counters["one_thread_ms"] = 1e3 * median(times[1]);
    state.counters["two_threads_ms"] = 1e3 * median(times[2]);
    state.counters["ratio_one_thread"] = median(times[0]) / median(times[1]);
    state.counters["ratio"] = median(times[0]) / median(times[2]);
}

static void BM_FrameModel(benchmark::State& state) {
    model = loadVoxels(filePath.c_str());
    for (auto _ : state) {
        camera = {};
        resetCamera();
        benchmark::DoNotOptimize(camera.extent);
    }
    freeVoxelModel(model);
    model = nullptr;
}

static void BM_BuildVoxelArrays(benchmark::State& state) {
    VoxelModel* m = loadVoxels(filePath.c_str());
    for (auto _ : state) {
        if (!buildVoxelArrays(m)) {
            state.SkipWithError("out of memory");
            break;
        }
        benchmark::DoNotOptimize(vertexArray);
        free(vertexArray);
        free(colorArray);
        free(indexArray);
        vertexArray = nullptr;
    }
    state.counters["voxels/s"] =
        benchmark::Counter(double(m->count) * state.iterations(), benchmark::Counter::kIsRate);
    freeVoxelModel(m);
}

BENCHMARK(BM_LoadVoxelsWithStdio)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadVoxels)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReaderRatio)->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_FrameModel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildVoxelArrays)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
    const char* given = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--voxels=", 9) == 0 || strncmp(argv[i], "--file=", 7) == 0) {
            if (argv[i][2] == 'v')
                voxelCount = atoi(argv[i] + 9);
            else
                given = argv[i] + 7;
            argv[i] = argv[--argc];
            --i;
        }
    }
    if (given) {
        filePath = given;
        FILE* f = fopen(given, "rb");
        if (!f || fscanf(f, "%d", &voxelCount) != 1) {
            fprintf(stderr, "load_bench: cannot read the count of %s\n", given);
            return 1;
        }
        fclose(f);
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        return 0;
    }
    char dir[] = "/tmp/voxscope-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        perror("mkdtemp");
        return 1;
    }
    filePath = std::string(dir) + "/lattice.vxl";
    writeLattice(filePath.c_str(), voxelCount);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    unlink(filePath.c_str());
    rmdir(dir);
    return 0;
}
