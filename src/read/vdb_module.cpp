#include "read/vdb_module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace {

// Where an installed program finds the module: a package puts it in
// lib/voxscope beside the bin folder the program is in.
std::string installedModulePath() {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return "";
    const std::string program(self, size_t(length));
    const size_t slash = program.rfind('/');
    return slash == std::string::npos
               ? ""
               : program.substr(0, slash) + "/../" VOXSCOPE_VDB_MODULE_INSTALLED;
}

// dlerror's text as one printable line.
std::string loaderReason() {
    const char* error = dlerror();
    std::string shown;
    for (const char* c = error ? error : "unknown error"; *c && shown.size() < 300; ++c)
        shown += *c >= ' ' && *c <= '~' ? *c : '?';
    return shown;
}

} // namespace

ReadVdbGridEntry loadVdbModule(std::string& reason) {
    const std::string installed = installedModulePath();
    const std::string built = VOXSCOPE_VDB_MODULE_BUILT;
    // The installed module first, so that a package never reaches into a
    // build tree; the build tree's when there is none beside the program.
    const std::string& path =
        !installed.empty() && access(installed.c_str(), F_OK) == 0 ? installed : built;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        reason = "its reading module cannot be loaded (" + loaderReason() + ")";
        return nullptr;
    }
    void* entry = dlsym(module, "voxscopeReadVdbGrid");
    if (!entry) {
        reason = "its reading module has no entry point (" + loaderReason() + ")";
        return nullptr;
    }
    return reinterpret_cast<ReadVdbGridEntry>(entry);
}
