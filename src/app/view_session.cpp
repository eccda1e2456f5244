#include "app/view_session.h"

#include "platform/child_process.h"
#include "platform/private_folder.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Folder names are at most 255 bytes; the name keeps room for ".vxl".
constexpr size_t longestStem = 200;

const char* viewerName = "voxscope";

// The folder's files go whatever happens; a folder that stays is said.
void removeFolder(const std::string& folder) {
    std::string error;
    if (!removePrivateFolder(folder, &error))
        fprintf(stderr, "vxlconv: %s\n", error.c_str());
}

// Ends vxlconv by the signal it received, once the folder is gone.
void endIfSignalled(const std::string& folder) {
    if (const int sig = endingSignalReceived()) {
        removeFolder(folder);
        endBySignal(sig);
    }
}

int refuse(const std::string& folder, const std::string& message) {
    removeFolder(folder);
    fprintf(stderr, "vxlconv: %s\n", message.c_str());
    return 1;
}

} // namespace

std::string viewFileName(const std::string& input) {
    std::string name = input;
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    name = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
    if (endsWith(name, ".gz") || endsWith(name, ".GZ"))
        name.resize(name.size() - 3);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    if (name.size() > longestStem) {
        // Cut at the start of a UTF-8 character, never inside one.
        size_t cut = longestStem;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.resize(cut);
    }
    if (name.empty() || name == "." || name == "..")
        name = "model";
    return name + ".vxl";
}

std::string viewerBeside(const std::string& executable) {
    const size_t slash = executable.rfind('/');
    return (slash == std::string::npos ? std::string(".") : executable.substr(0, slash)) + "/" +
           viewerName;
}

std::vector<std::string> viewerArguments(const ConversionOptions& options,
                                         const std::string& file) {
    std::vector<std::string> args{viewFileName(options.input)};
    args.insert(args.end(), options.viewerOptions.begin(), options.viewerOptions.end());
    args.push_back(file);
    return args;
}

int viewConversion(ConversionOptions& options,
                   const std::function<int(const ConversionOptions&)>& convert) {
    passOnEndingSignals();
    std::string error;
    const std::string folder = makePrivateFolder("vxlconv", &error);
    if (folder.empty()) {
        fprintf(stderr, "vxlconv: %s\n", error.c_str());
        return 1;
    }
    endIfSignalled(folder);
    options.output = folder + "/" + viewFileName(options.input);

    // The conversion runs in a child of its own: its memory cap must not
    // hold the viewer, and a signal ends it as it ends vxlconv, removing its
    // temporary file.
    const pid_t converter = startChild([&] { return convert(options); }, &error);
    if (converter < 0)
        return refuse(folder, "cannot start the conversion: " + error);
    const int converted = waitForChild(converter);
    endIfSignalled(folder);
    if (WIFSIGNALED(converted))
        return refuse(folder, "the conversion of " + options.input + " ended by signal " +
                                  std::to_string(WTERMSIG(converted)) + " (" +
                                  strsignal(WTERMSIG(converted)) + ")");
    if (WEXITSTATUS(converted) != 0) {
        removeFolder(folder);
        return 1;
    }

    // The viewer beside this program (the build tree, /usr/bin) first, so
    // that the pair installed together is the pair that runs; else the PATH.
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::vector<std::string> args = viewerArguments(options, options.output);
    pid_t viewer = -1;
    if (length > 0) {
        const std::string beside = viewerBeside(std::string(self, size_t(length)));
        if (access(beside.c_str(), X_OK) == 0)
            viewer = startProgram(beside, args, &error);
    }
    if (viewer < 0 && error.empty())
        viewer = startProgram(viewerName, args, &error);
    if (viewer < 0)
        return refuse(folder, std::string("cannot start the viewer ") + viewerName + ": " + error);
    const int viewed = waitForChild(viewer);
    endIfSignalled(folder);
    removeFolder(folder);
    if (WIFSIGNALED(viewed)) {
        fprintf(stderr, "vxlconv: %s ended by signal %d (%s)\n", viewerName, WTERMSIG(viewed),
                strsignal(WTERMSIG(viewed)));
        return 1;
    }
    return WEXITSTATUS(viewed);
}
