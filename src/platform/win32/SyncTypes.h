#pragma once

#include <windows.h>

namespace velorik::platform {

struct Event {
    HANDLE handle;
};

struct Thread {
    HANDLE handle;
    void (*body)(void*);
    void* argument;
};

}  // namespace velorik::platform
