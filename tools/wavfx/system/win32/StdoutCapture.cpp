// Through the C runtime's descriptors.
#include <io.h>

#include <cstdio>

#include "system/System.h"

namespace wavfx::sys {

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    std::FILE* held = std::tmpfile();
    saved_ = held != nullptr ? _dup(_fileno(stdout)) : -1;
    if (saved_ >= 0 && _dup2(_fileno(held), _fileno(stdout)) == 0) {
        held_ = reinterpret_cast<std::intptr_t>(held);
        return;
    }
    if (held != nullptr) std::fclose(held);
    if (saved_ >= 0) _close(saved_);
    saved_ = -1;
}

StdoutCapture::~StdoutCapture() {
    std::string ignored;
    Release(ignored);
}

bool StdoutCapture::Release(std::string& said) {
    std::fflush(stdout);
    std::string& text = said;
    if (saved_ >= 0) {
        _dup2(saved_, _fileno(stdout));
        _close(saved_);
        saved_ = -1;
    }
    if (held_ != -1) {
        std::FILE* held = reinterpret_cast<std::FILE*>(held_);
        std::rewind(held);
        char chunk[256];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, held)) > 0;) text.append(chunk, got);
        std::fclose(held);
        held_ = -1;
    }
    return true;
}

}  // namespace wavfx::sys
