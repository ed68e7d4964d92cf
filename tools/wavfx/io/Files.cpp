#include "io/Files.h"

#include <filesystem>
#include <system_error>

#include "system/Cleanup.h"
#include "system/System.h"

namespace wavfx {

namespace fs = std::filesystem;

Temporary::~Temporary() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove(fs::u8path(path_), ignored);
    cleanup::Unregister(slot_);
}

bool Temporary::Create(const std::string& beside, std::string& error) {
    path_ = sys::MakeTemporary(beside, error);
    slot_ = path_.empty() ? -1 : cleanup::Register(path_);
    return !path_.empty();
}

void Temporary::Keep() {
    path_.clear();
    cleanup::Unregister(slot_);
    slot_ = -1;
}

File OpenFile(const std::string& path, const char* mode) { return File(sys::Open(path, mode), std::fclose); }

std::uint64_t FileSize(const std::string& path) {
    std::error_code error;
    const auto size = fs::file_size(fs::u8path(path), error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

std::string Resolved(const std::string& path) {
    std::error_code error;
    const fs::path real = fs::canonical(fs::u8path(path), error);
    return error ? path : real.u8string();
}

}  // namespace wavfx
