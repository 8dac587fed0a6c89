#include "module_loader.h"

#include <cctype>
#include <climits>
#include <dlfcn.h>
#include <unistd.h>

// The library folder relative to the programs' folder in the installed
// layout; the build system passes the one of its install paths.
#ifndef VEK_BIN_TO_LIB
#define VEK_BIN_TO_LIB "../lib"
#endif

namespace platform {

std::string moduleFileName(const char *name) {
    std::string stem(name ? name : "");
    std::string::size_type slash = stem.find_last_of("/\\");
    if (slash != std::string::npos) stem.erase(0, slash + 1);
    std::string::size_type dot = stem.rfind('.');
    if (dot != std::string::npos) {
        std::string ext = stem.substr(dot);
        for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".dll") stem.erase(dot);
    }
    for (char &c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "lib" + stem + ".so";
}

static std::string executableFolder() {
    char buf[PATH_MAX];
    ssize_t len = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (len <= 0) return std::string();
    buf[len] = '\0';
    std::string path(buf);
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

ModuleHandle loadLibrary(const char *name) {
    if (name == nullptr || *name == '\0') return nullptr;
    const std::string file = moduleFileName(name);
    const std::string folder = executableFolder();
    if (!folder.empty()) {
        const std::string candidates[] = {folder + "/" + file, folder + "/../lib/" + file,
                                          folder + "/" VEK_BIN_TO_LIB "/" + file};
        for (const std::string &candidate : candidates) {
            if (::access(candidate.c_str(), R_OK) == 0) {
                if (void *handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
            }
        }
    }
    return ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void *getProcAddress(ModuleHandle module, const char *symbol) {
    if (module == nullptr || symbol == nullptr) return nullptr;
    return ::dlsym(module, symbol);
}

void freeLibrary(ModuleHandle module) {
    if (module != nullptr) ::dlclose(module);
}

} // namespace platform
