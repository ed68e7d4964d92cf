#pragma once

#include <pthread.h>

namespace velorik::platform {

struct Event {
    pthread_mutex_t lock;
    pthread_cond_t raisedChanged;  // on the monotonic clock
    bool raised;
    bool ready;
};

struct Thread {
    pthread_t handle;
    void (*body)(void*);
    void* argument;
};

}  // namespace velorik::platform
