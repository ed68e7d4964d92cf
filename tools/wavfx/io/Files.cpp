#include "io/Files.h"

#include "system/Cleanup.h"
#include "system/System.h"

namespace wavfx {

Temporary::~Temporary() {
    if (!path_.empty() && !sys::Remove(path_)) {
        const std::string why = sys::LastError();
        if (sys::KindOf(path_) != Kind::Missing) cleanup::LeftBehind(path_, why);
    }
    cleanup::Unregister(slot_);
}

bool Temporary::Create(const std::string& beside) {
    path_ = sys::MakeTemporary(beside);
    slot_ = path_.empty() ? -1 : cleanup::Register(path_);
    return !path_.empty();
}

void Temporary::Keep() {
    path_.clear();
    cleanup::Unregister(slot_);
    slot_ = -1;
}

File OpenFile(const std::string& path, const char* mode) { return File(sys::Open(path, mode), std::fclose); }

std::uint64_t FileSize(const std::string& path) { return sys::SizeAt(path).value_or(0); }

}  // namespace wavfx
