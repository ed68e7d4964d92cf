// The same on every OS: the C runtime's descriptors (MinGW has them too).
#include <unistd.h>

#include "system/System.h"

namespace wavfx::sys {

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    held_ = std::tmpfile();
    saved_ = held_ != nullptr ? dup(fileno(stdout)) : -1;
    if (saved_ >= 0) dup2(fileno(held_), fileno(stdout));
}

StdoutCapture::~StdoutCapture() { Release(); }

std::string StdoutCapture::Release() {
    std::fflush(stdout);
    std::string text;
    if (saved_ >= 0) {
        dup2(saved_, fileno(stdout));
        close(saved_);
        saved_ = -1;
    }
    if (held_ != nullptr) {
        std::rewind(held_);
        char chunk[256];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, held_)) > 0;) text.append(chunk, got);
        std::fclose(held_);
        held_ = nullptr;
    }
    return text;
}

}  // namespace wavfx::sys
