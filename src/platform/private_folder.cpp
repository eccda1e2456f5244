#include "platform/private_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>
#include <vector>

std::string makePrivateFolder(const char* prefix, std::string* error) {
    const char* tmp = getenv("TMPDIR");
    const std::string base = tmp && *tmp ? tmp : "/tmp";
    std::string pattern = base + (base.back() == '/' ? "" : "/") + prefix + "-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    // mkdtemp makes the folder with mode 0700 under a name no one else has.
    if (!mkdtemp(path.data())) {
        *error = "cannot make a folder under " + base + ": " + strerror(errno);
        return std::string();
    }
    return std::string(path.data());
}

bool removePrivateFolder(const std::string& folder, std::string* error) {
    // The folder holds only what this program made in it: the file and,
    // had its writer been cut short, the writer's temporary file.
    if (DIR* dir = opendir(folder.c_str())) {
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(dir);
        for (const std::string& name : names)
            unlink((folder + "/" + name).c_str());
    }
    if (rmdir(folder.c_str()) != 0 && errno != ENOENT) {
        *error = "cannot remove " + folder + ": " + strerror(errno);
        return false;
    }
    return true;
}
