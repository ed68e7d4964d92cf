// The recorder's thread and its wake-ups, with one implementation per OS.
#pragma once

#ifdef _WIN32
#include "platform/win32/SyncTypes.h"
#else
#include "platform/posix/SyncTypes.h"
#endif

namespace velorik::platform {

// An auto-reset event in static storage. Init once before first use (later calls
// do nothing); false if the OS has none to give. Raise may be called from inside
// a wave-input callback: it takes no lock beyond a critical section and allocates nothing.
bool EventInit(Event& event) noexcept;
void EventRaise(Event& event) noexcept;
// Waits until the event is raised, then lowers it; false when `milliseconds` pass first.
bool EventWait(Event& event, unsigned milliseconds) noexcept;

// Runs `body(argument)` on a new thread; false if none could be started.
bool ThreadStart(Thread& thread, void (*body)(void*), void* argument) noexcept;
void ThreadJoin(Thread& thread) noexcept;

}  // namespace velorik::platform
