// Module loading on Win32: the module name is the file name ("VEK.DLL"),
// and LoadLibraryA's default search order starts in the program's own
// folder.
#include "module_loader.h"

#include <windows.h>

namespace platform {

std::string moduleFileName(const char *name) {
    return std::string(name ? name : "");
}

ModuleHandle loadLibrary(const char *name) {
    if (name == nullptr || *name == '\0') return nullptr;
    return reinterpret_cast<ModuleHandle>(::LoadLibraryA(name));
}

void *getProcAddress(ModuleHandle module, const char *symbol) {
    if (module == nullptr || symbol == nullptr) return nullptr;
    return reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(module), symbol));
}

void freeLibrary(ModuleHandle module) {
    if (module != nullptr) ::FreeLibrary(static_cast<HMODULE>(module));
}

} // namespace platform
