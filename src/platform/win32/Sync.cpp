#include "platform/Sync.h"

#include <process.h>

namespace velorik::platform {

bool EventInit(Event& event) noexcept {
    // Auto-reset; kept for the life of the process, so a late callback never
    // raises a closed handle.
    if (event.handle == nullptr) event.handle = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event.handle != nullptr;
}

void EventRaise(Event& event) noexcept { SetEvent(event.handle); }

bool EventWait(Event& event, unsigned milliseconds) noexcept {
    return WaitForSingleObject(event.handle, milliseconds) == WAIT_OBJECT_0;
}

namespace {

unsigned __stdcall Run(void* argument) {
    auto& thread = *static_cast<Thread*>(argument);
    thread.body(thread.argument);
    // The thread holds the module while it runs (see ThreadStart) and lets it
    // go only in a call that never returns into the module's code.
    if (thread.module != nullptr) FreeLibraryAndExitThread(thread.module, 0);
    return 0;
}

}  // namespace

bool ThreadStart(Thread& thread, void (*body)(void*), void* argument) noexcept {
    thread.body = body;
    thread.argument = argument;
    // A host that frees the library while the thread runs must not unmap its
    // code, and DllMain may not wait for a thread under the loader lock: the
    // thread keeps a reference to the module of its own.
    thread.module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Run), &thread.module);
    // _beginthreadex rather than CreateThread: the thread uses the C runtime.
    thread.handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, &thread, 0, nullptr));
    if (thread.handle == nullptr && thread.module != nullptr) FreeLibrary(thread.module);
    return thread.handle != nullptr;
}

void ThreadJoin(Thread& thread) noexcept {
    WaitForSingleObject(thread.handle, INFINITE);
    CloseHandle(thread.handle);
    thread.handle = nullptr;
}

}  // namespace velorik::platform
