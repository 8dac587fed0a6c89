// Entry point of VEK.DLL. The library keeps no per-process or per-thread
// state that would need setting up or tearing down here, so every process
// and thread attach and detach is accepted and nothing else is done.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
