#include "platform/progress_line.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Quiet runs print nothing: the line waits this long before it first shows.
constexpr double quietSeconds = 1.0;
constexpr std::chrono::milliseconds redrawEvery(250);

struct ProgressState {
    std::mutex mutex;
    std::condition_variable wake;
    std::string program, phase;
    int64_t done = 0, total = 0;
    bool stopping = false, shown = false;
    Clock::time_point started;
};

ProgressState state;
// Never destroyed while running: stopProgress joins it, at exit at the latest.
std::thread* watcher = nullptr;

void watch() {
    std::unique_lock<std::mutex> lock(state.mutex);
    while (!state.wake.wait_for(lock, redrawEvery, [] { return state.stopping; })) {
        const double seconds = std::chrono::duration<double>(Clock::now() - state.started).count();
        if (seconds < quietSeconds)
            continue;
        const std::string line =
            progressText(state.program.c_str(), state.phase, state.done, state.total, seconds);
        // The cursor goes back to the start, so that a message printed
        // meanwhile writes over the line instead of after it.
        fprintf(stderr, "\r%s\033[K\r", line.c_str());
        fflush(stderr);
        state.shown = true;
    }
}

} // namespace

void startProgress(const char* program) {
    if (watcher || !isatty(STDERR_FILENO))
        return;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.program = program;
        state.phase.clear();
        state.done = state.total = 0;
        state.stopping = state.shown = false;
        state.started = Clock::now();
    }
    static bool registered = false;
    if (!registered)
        atexit(stopProgress);
    registered = true;
    watcher = new std::thread(watch);
}

void progressPhase(const std::string& what) {
    if (!watcher)
        return;
    std::lock_guard<std::mutex> lock(state.mutex);
    state.phase = what;
    state.done = state.total = 0;
}

void progressAmount(int64_t done, int64_t total) {
    if (!watcher)
        return;
    std::lock_guard<std::mutex> lock(state.mutex);
    state.done = done;
    state.total = total;
}

void stopProgress() {
    if (!watcher)
        return;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.stopping = true;
    }
    state.wake.notify_all();
    watcher->join();
    delete watcher;
    watcher = nullptr;
    if (state.shown) {
        fputs("\r\033[K", stderr);
        fflush(stderr);
    }
}

std::string progressText(const char* program, const std::string& what, int64_t done, int64_t total,
                         double seconds) {
    std::string line = std::string(program) + ": " + (what.empty() ? "working" : what);
    if (total > 0 && done >= 0) {
        const int64_t percent = done >= total ? 100 : done * 100 / total;
        line += " " + std::to_string(percent) + "%";
    }
    line += " (" + std::to_string(int64_t(seconds)) + " s)";
    return line;
}
