// Every file of the hostile catalogue, and a pipe that ends early, loaded one
// after another in one process: a refusal leaves no descriptor open and, in
// the sanitizer build, no allocation behind (LeakSanitizer is asked right
// here, so a leak is pinned on these loads rather than on the process's exit).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "model/voxel_model.h"
#include "platform/address_sanitizer.h"

#ifdef VOXSCOPE_ADDRESS_SANITIZER
#include <sanitizer/lsan_interface.h>
#endif

namespace {

std::vector<std::string> openDescriptors() {
    std::vector<std::string> fds;
    if (DIR* d = opendir("/proc/self/fd")) {
        int own = dirfd(d);
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.' && atoi(e->d_name) != own)
                fds.push_back(e->d_name);
        closedir(d);
    }
    std::sort(fds.begin(), fds.end());
    return fds;
}

// Loads `path`, checks that a refusal said one line naming it and that no
// descriptor stayed open either way; returns whether it loaded.
bool loadAndCheck(const std::string& path) {
    std::vector<std::string> before = openDescriptors();
    testing::internal::CaptureStderr();
    VoxelModel* m = loadVoxels(path.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(openDescriptors(), before) << "a descriptor was left open";
    if (!m) {
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(path), std::string::npos) << err;
        return false;
    }
    EXPECT_EQ(err, "");
    freeVoxelModel(m);
    return true;
}

// A FIFO fed `content` by a writer thread, so the loader reads it as a pipe:
// arrays grow as voxels arrive and must all be freed when the data ends early.
bool loadThroughFifo(const std::string& dir, const std::string& content) {
    std::string path = dir + "/pipe.vxl";
    if (mkfifo(path.c_str(), 0600) != 0) {
        ADD_FAILURE() << "mkfifo: " << strerror(errno);
        return false;
    }
    std::thread writer([&path, &content] {
        int fd = open(path.c_str(), O_WRONLY);
        if (fd < 0)
            return;
        for (size_t done = 0; done < content.size();) {
            ssize_t n = write(fd, content.data() + done, content.size() - done);
            if (n <= 0)
                break;
            done += size_t(n);
        }
        close(fd);
    });
    bool loaded = loadAndCheck(path);
    writer.join();
    unlink(path.c_str());
    return loaded;
}

TEST(FailedLoads, LeaveNoDescriptorAndNoAllocationBehind) {
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> files;
    if (DIR* d = opendir(VOXSCOPE_HOSTILE_DIR)) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                files.push_back(std::string(VOXSCOPE_HOSTILE_DIR) + "/" + e->d_name);
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 20u) << "the hostile catalogue is missing";

    int refused = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        refused += loadAndCheck(path) ? 0 : 1;
    }
    EXPECT_GE(refused, 10);

    std::string pattern = std::string(P_tmpdir) + "/voxscope-failed-load-XXXXXX";
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    EXPECT_FALSE(loadAndCheck(pattern)) << "a directory";
    // 200,000 voxels claimed, 70,000 sent: the arrays have grown twice.
    std::string text = "200000 0.5\n";
    for (int i = 0; i < 70000; ++i)
        text += std::to_string(i) + " 1 2 3 4 5\n";
    EXPECT_FALSE(loadThroughFifo(pattern, text)) << "a pipe that ends early";
    rmdir(pattern.c_str());

#ifdef VOXSCOPE_ADDRESS_SANITIZER
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "the loads above leaked (see the report)";
#endif
}

} // namespace
