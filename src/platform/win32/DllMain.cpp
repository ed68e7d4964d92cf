// Windows load and unload: the DLL entry point. The C runtime has run the
// module's static initialisers (it has none of its own) before this is called.
#include <windows.h>

#include "frame/ModuleLifecycle.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            velorik::ModuleLoadEarly();
            return velorik::ModuleLoad(instance) ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            velorik::ModuleUnload();
            return TRUE;
        default:  // thread attach and detach
            return TRUE;
    }
}
