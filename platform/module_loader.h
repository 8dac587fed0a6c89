// Run-time loading of a shared library by its Windows-style name.
//
// On Linux a name such as "VEK.DLL" is mapped to the platform's file name
// ("libvek.so") and looked for first in the folder of the running
// executable, then in the ../lib folder beside it and in the installed
// library folder relative to the program's (the installed layouts), then
// through the system's normal library search. On Windows the name is the
// file name, found by the system's search, which starts in the folder of the
// running executable.
#ifndef VEK_PLATFORM_MODULE_LOADER_H
#define VEK_PLATFORM_MODULE_LOADER_H

#include <string>

namespace platform {

typedef void *ModuleHandle;

// Platform file name for a Windows-style module name ("VEK.DLL" -> "libvek.so"
// on Linux, unchanged on Windows).
std::string moduleFileName(const char *name);

// Loads the module; null when it cannot be found or loaded.
ModuleHandle loadLibrary(const char *name);

// Looks up an exported symbol by its plain name; null when it is missing.
void *getProcAddress(ModuleHandle module, const char *symbol);

// Unloads a module obtained from loadLibrary. A null handle is ignored.
void freeLibrary(ModuleHandle module);

} // namespace platform

#endif
