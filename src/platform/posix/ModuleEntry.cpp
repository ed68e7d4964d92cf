// ELF load and unload: the module's constructors and destructor.
#include <dlfcn.h>

#include "frame/ModuleLifecycle.h"
#include "recorder/SoundRecorder.h"

namespace {

// Priority 101 runs before every constructor of default priority.
__attribute__((constructor(101))) void OnLoadEarly() { velorik::ModuleLoadEarly(); }

__attribute__((constructor)) void OnLoad() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&OnLoad), &info);
    // An ELF constructor cannot refuse the load; the stand-in registration never fails.
    velorik::ModuleLoad(info.dli_fbase);
}

// A host may unload the library while it records: the recording is finished as
// a stop finishes it, before the code its threads run goes away.
__attribute__((destructor)) void OnUnload() {
    velorik::SoundRecorderStop();
    velorik::ModuleUnload();
}

}  // namespace
