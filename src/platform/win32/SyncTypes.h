#pragma once

#include <windows.h>

namespace velorik::platform {

struct Event {
    HANDLE handle;
};

struct Thread {
    HANDLE handle;
    HMODULE module;  // held while the thread runs
    void (*body)(void*);
    void* argument;
};

}  // namespace velorik::platform
