// Outputs written whole or not at all: a finished file replaces the old one,
// every failure and interrupt leaves the old one byte for byte and no
// temporary file, and nothing but a regular file is ever replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/output_file.h"
#include "scratch_dir.h"

namespace {

struct OutputFile : ScratchDirTest {
    void TearDown() override {
        abandonOutputFile();
        ScratchDirTest::TearDown();
    }
    std::string earlier(const std::string& name) {
        return write(name, "an earlier output");
    }
};

TEST_F(OutputFile, AFinishedFileReplacesTheOldOneMadeAsAnyNewFileIs) {
    const std::string out = earlier("out.vxl");
    chmod(out.c_str(), 0600);
    mode_t old = umask(027);
    std::string error;
    bool begun = beginOutputFile(out.c_str(), "vxltest", &error);
    umask(old);
    ASSERT_TRUE(begun) << error;
    // The temporary file is made at once, hidden and named for the program.
    std::vector<std::string> pending = others("out.vxl");
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].rfind(".vxltest-", 0), 0u) << pending[0];
    EXPECT_EQ(contents(out), "an earlier output");
    ASSERT_NE(outputFileStream(), nullptr);
    fputs("the new output", outputFileStream());
    ASSERT_TRUE(finishOutputFile(&error)) << error;
    EXPECT_EQ(contents(out), "the new output");
    EXPECT_TRUE(others("out.vxl").empty());
    struct stat info;
    ASSERT_EQ(stat(out.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(outputFileStream(), nullptr);
}

TEST_F(OutputFile, FailedWritesLeaveTheOldFileAndNoTemporary) {
    const std::string out = earlier("kept.vxl");
    std::string error;
    // A full disk: the temporary file's writes go to /dev/full instead.
    ASSERT_TRUE(beginOutputFile(out.c_str(), "vxltest", &error)) << error;
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    ASSERT_GE(dup2(full, fileno(outputFileStream())), 0);
    close(full);
    fputs("never seen", outputFileStream());
    EXPECT_FALSE(finishOutputFile(&error));
    EXPECT_EQ(error, "cannot write " + out + ": No space left on device");
    EXPECT_EQ(contents(out), "an earlier output");
    EXPECT_TRUE(others("kept.vxl").empty());

    // A file-size limit: the write fails and says so, and the program goes
    // on (SIGXFSZ would have ended it).
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    ASSERT_TRUE(beginOutputFile(out.c_str(), "vxltest", &error)) << error;
    struct rlimit small = limit;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string big(100000, 'x');
    fwrite(big.data(), 1, big.size(), outputFileStream());
    const bool finished = finishOutputFile(&error);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(finished);
    EXPECT_EQ(error, "cannot write " + out + ": File too large");
    EXPECT_EQ(contents(out), "an earlier output");
    EXPECT_TRUE(others("kept.vxl").empty());

    // A writer that gives up, and one that never began.
    ASSERT_TRUE(beginOutputFile(out.c_str(), "vxltest", &error)) << error;
    EXPECT_FALSE(failOutputFile("the encoder refused", &error));
    EXPECT_EQ(error, "cannot write " + out + ": the encoder refused");
    EXPECT_FALSE(finishOutputFile(&error));
    ASSERT_TRUE(beginOutputFile(out.c_str(), "vxltest", &error)) << error;
    abandonOutputFile();
    EXPECT_EQ(contents(out), "an earlier output");
    EXPECT_TRUE(others("kept.vxl").empty());
}

TEST_F(OutputFile, OnlyARegularFileOrNothingIsReplaced) {
    std::string error;
    EXPECT_FALSE(beginOutputFile(dir.c_str(), "vxltest", &error));
    EXPECT_EQ(error, "cannot write " + dir + ": it is a directory");
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(beginOutputFile(fifo.c_str(), "vxltest", &error));
    EXPECT_EQ(error, "cannot write " + fifo + ": it is a FIFO");
    const std::string socketPath = dir + "/socket";
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_FALSE(beginOutputFile(socketPath.c_str(), "vxltest", &error));
    EXPECT_EQ(error, "cannot write " + socketPath + ": it is a socket");
    close(s);
    // A link is followed to what it names.
    const std::string link = dir + "/link";
    ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
    EXPECT_FALSE(beginOutputFile(link.c_str(), "vxltest", &error));
    EXPECT_EQ(error, "cannot write " + link + ": it is a character device");
    EXPECT_FALSE(beginOutputFile("/dev/null", "vxltest", &error));
    EXPECT_EQ(error, "cannot write /dev/null: it is a character device");
    struct stat info;
    ASSERT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));

    const std::string missing = dir + "/no-such-folder/out.png";
    EXPECT_FALSE(beginOutputFile(missing.c_str(), "vxltest", &error));
    EXPECT_EQ(error, "cannot write " + missing + ": No such file or directory");
    const std::string longName = std::string(5000, 'a') + "/out.png";
    EXPECT_FALSE(beginOutputFile(longName.c_str(), "vxltest", &error));
    EXPECT_EQ(error, "cannot write " + longName + ": File name too long");
    std::vector<std::string> left = others();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"fifo", "link", "socket"}));
}

TEST_F(OutputFile, AnInterruptLeavesTheOldFileAndNoTemporary) {
    const std::string out = earlier("interrupted.vxl");
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string error;
            if (!beginOutputFile(out.c_str(), "vxltest", &error))
                _exit(3);
            fputs("half a file", outputFileStream());
            fflush(outputFileStream());
            raise(sig);
            _exit(4); // the signal ends the child before this
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(contents(out), "an earlier output");
        EXPECT_TRUE(others("interrupted.vxl").empty());
    }
}

TEST_F(OutputFile, AnOutputThatNamesTheInputIsRefused) {
    const std::string input = earlier("input.vxl");
    const std::string other = earlier("other.vxl");
    const std::string link = dir + "/link.vxl", hard = dir + "/hard.vxl";
    ASSERT_EQ(symlink("input.vxl", link.c_str()), 0);
    ASSERT_EQ(::link(input.c_str(), hard.c_str()), 0);
    std::string error;
    for (const std::string& output : {input, link, hard, dir + "/./input.vxl"}) {
        EXPECT_FALSE(refuseOutputOverInput(input.c_str(), output.c_str(), &error)) << output;
        EXPECT_EQ(error, output + " is the input; write the output to another file");
    }
    EXPECT_TRUE(refuseOutputOverInput(input.c_str(), other.c_str(), &error));
    EXPECT_TRUE(refuseOutputOverInput(input.c_str(), (dir + "/new.vxl").c_str(), &error));
    EXPECT_TRUE(refuseOutputOverInput((dir + "/missing").c_str(), other.c_str(), &error));
}

// An output of several files: a model, its buffer and its texture.
struct CompanionFiles : OutputFile {
    std::string model, buffer, texture;
    void SetUp() override {
        OutputFile::SetUp();
        model = earlier("m.gltf");
        buffer = earlier("m.bin");
        texture = dir + "/m.png";
    }
    // Begins all three and writes a line into each.
    void beginAll() {
        std::string error;
        ASSERT_TRUE(beginOutputFile(model.c_str(), "vxltest", &error)) << error;
        ASSERT_TRUE(beginCompanionFile(buffer.c_str(), &error)) << error;
        ASSERT_TRUE(beginCompanionFile(texture.c_str(), &error)) << error;
        for (int n = 0; n < 3; ++n) {
            ASSERT_NE(companionFileStream(n), nullptr);
            fprintf(companionFileStream(n), "new %d", n);
        }
        EXPECT_EQ(companionFileStream(0), outputFileStream());
        EXPECT_EQ(companionFileStream(3), nullptr);
    }
    void expectUntouched() {
        EXPECT_EQ(contents(model), "an earlier output");
        EXPECT_EQ(contents(buffer), "an earlier output");
        EXPECT_EQ(contents(texture), "(missing)");
        std::vector<std::string> left = others();
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"m.bin", "m.gltf"}));
    }
};

TEST_F(CompanionFiles, AllAreReplacedTogetherOrNoneIs) {
    beginAll();
    EXPECT_EQ(others().size(), 5u); // two earlier files, three temporaries
    std::string error;
    ASSERT_TRUE(finishOutputFile(&error)) << error;
    EXPECT_EQ(contents(model), "new 0");
    EXPECT_EQ(contents(buffer), "new 1");
    EXPECT_EQ(contents(texture), "new 2");
    EXPECT_EQ(others().size(), 3u);

    // A full disk under one companion: every file stays as it was and the
    // message names the file that failed.
    model = earlier("m.gltf");
    buffer = earlier("m.bin");
    remove(texture.c_str());
    beginAll();
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    ASSERT_GE(dup2(full, fileno(companionFileStream(2))), 0);
    close(full);
    EXPECT_FALSE(finishOutputFile(&error));
    EXPECT_EQ(error, "cannot write " + texture + ": No space left on device");
    expectUntouched();

    // A writer that gives up on a companion names it too.
    beginAll();
    EXPECT_FALSE(failCompanionFile(1, "the buffer is too large", &error));
    EXPECT_EQ(error, "cannot write " + buffer + ": the buffer is too large");
    expectUntouched();
}

TEST_F(CompanionFiles, ACompanionThatCannotBeWrittenIsRefusedAtOnce) {
    std::string error;
    ASSERT_TRUE(beginOutputFile(model.c_str(), "vxltest", &error)) << error;
    EXPECT_FALSE(beginCompanionFile(dir.c_str(), &error));
    EXPECT_EQ(error, "cannot write " + dir + ": it is a directory");
    expectUntouched();
    EXPECT_FALSE(beginCompanionFile(buffer.c_str(), &error));
    EXPECT_EQ(error, "cannot write " + buffer + ": no file was begun");

    // One file named twice, by any path, would be written over itself.
    ASSERT_TRUE(beginOutputFile(model.c_str(), "vxltest", &error)) << error;
    ASSERT_TRUE(beginCompanionFile(buffer.c_str(), &error)) << error;
    const std::string again = dir + "/./m.bin";
    EXPECT_FALSE(beginCompanionFile(again.c_str(), &error));
    EXPECT_EQ(error, "cannot write " + again + ": it is written twice by this conversion");
    expectUntouched();

    ASSERT_TRUE(beginOutputFile(model.c_str(), "vxltest", &error)) << error;
    for (int n = 1; n < maxOutputFiles; ++n)
        ASSERT_TRUE(beginCompanionFile((dir + "/c" + std::to_string(n)).c_str(), &error));
    EXPECT_FALSE(beginCompanionFile(texture.c_str(), &error));
    expectUntouched();
}

TEST_F(CompanionFiles, AnInterruptLeavesEveryFileAndNoTemporary) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            beginAll();
            for (int n = 0; n < 3; ++n)
                fflush(companionFileStream(n));
            raise(sig);
            _exit(4); // the signal ends the child before this
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), sig);
        expectUntouched();
    }
}

} // namespace
