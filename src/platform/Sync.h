// The recorder's thread and its wake-ups, with one implementation per OS.
#pragma once

#include "SyncTypes.h"

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
