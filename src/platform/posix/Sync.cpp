#include "platform/Sync.h"

#include <cerrno>
#include <ctime>

namespace velorik::platform {

bool EventInit(Event& event) noexcept {
    if (event.ready) return true;
    pthread_condattr_t attributes;
    if (pthread_condattr_init(&attributes) != 0) return false;
    // Timeouts must not stretch or shrink when someone sets the wall clock.
    const bool ok = pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC) == 0 &&
                    pthread_cond_init(&event.raisedChanged, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
    if (!ok) return false;
    if (pthread_mutex_init(&event.lock, nullptr) != 0) {
        pthread_cond_destroy(&event.raisedChanged);
        return false;
    }
    event.raised = false;
    event.ready = true;
    return true;
}

void EventRaise(Event& event) noexcept {
    pthread_mutex_lock(&event.lock);
    event.raised = true;
    pthread_cond_signal(&event.raisedChanged);
    pthread_mutex_unlock(&event.lock);
}

bool EventWait(Event& event, unsigned milliseconds) noexcept {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        ++deadline.tv_sec;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&event.lock);
    while (!event.raised)
        if (pthread_cond_timedwait(&event.raisedChanged, &event.lock, &deadline) == ETIMEDOUT) break;
    const bool raised = event.raised;
    event.raised = false;
    pthread_mutex_unlock(&event.lock);
    return raised;
}

namespace {

void* Run(void* argument) {
    auto& thread = *static_cast<Thread*>(argument);
    thread.body(thread.argument);
    return nullptr;
}

}  // namespace

bool ThreadStart(Thread& thread, void (*body)(void*), void* argument) noexcept {
    thread.body = body;
    thread.argument = argument;
    return pthread_create(&thread.handle, nullptr, Run, &thread) == 0;
}

void ThreadJoin(Thread& thread) noexcept { pthread_join(thread.handle, nullptr); }

}  // namespace velorik::platform
