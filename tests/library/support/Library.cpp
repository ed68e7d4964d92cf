#include "support/Library.h"

#include <dlfcn.h>

#include <stdexcept>

namespace testing_support {

Library::Library(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    WAVDistortion = reinterpret_cast<Distortion>(Symbol("WAVDistortion"));
    SoundRecorderStart = reinterpret_cast<Start>(Symbol("SoundRecorderStart"));
    SoundRecorderStop = reinterpret_cast<Stop>(Symbol("SoundRecorderStop"));
    if (!WAVDistortion || !SoundRecorderStart || !SoundRecorderStop)
        throw std::runtime_error("an export is missing");
}

Library::~Library() { Close(); }

void* Library::Symbol(const char* name) const { return dlsym(handle_, name); }

bool Library::Close() {
    if (handle_ == nullptr) return true;
    const bool ok = dlclose(handle_) == 0;
    handle_ = nullptr;
    return ok;
}

}  // namespace testing_support
