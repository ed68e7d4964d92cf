// One injector for every test that fails system calls: each entry of the
// system-call table wrapped to ask the test first what the call meets.
#pragma once

#include <vector>

#include "syscalls/SystemCalls.h"

namespace testing_support {

// What a call can meet besides failing with an errno: an interruption, a short transfer.
enum class CallKind { Plain, Interruptible, Transfer };
enum class Act { Pass, Fail, Shorten };

class Injector {
public:
    virtual ~Injector() = default;
    // Before each call (`call` is its entry's name, `fd` its descriptor or -1): what it meets.
    virtual Act Before(const char* call, CallKind kind, int fd) = 0;
    // The errno a call that fails leaves.
    virtual int Error() const = 0;
    // Around an open and after a sync that succeeded, for a test that keeps what is durable.
    virtual std::vector<unsigned char> Opening(const char*, int) { return {}; }
    virtual void Opened(int, int, const std::vector<unsigned char>&) {}
    virtual void Synced(int) {}
};

// A table whose every entry asks `injector` first, then makes the real call (or not).
// One injector at a time; it must outlive the table's use.
velorik::sys::SystemCalls FaultyCalls(Injector& injector);

}  // namespace testing_support
