// A thread that cannot start (no room for its stack, a process limit) is a failure
// to report, or one worker fewer, never an abort: std::thread throws, this returns
// false with the reason in errno, for LastError.
#pragma once

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

namespace wavfx::sys {

template <typename Work>
bool StartThread(std::thread& thread, Work&& work) {
    try {
        thread = std::thread(std::forward<Work>(work));
        return true;
    } catch (const std::system_error& failure) {
        errno = failure.code().value();
        return false;
    }
}

}  // namespace wavfx::sys
