#include "Files.h"

#include <filesystem>
#include <system_error>

#include "Samples.h"
#include "System.h"

namespace wavfx {

namespace fs = std::filesystem;

Temporary::~Temporary() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove(fs::u8path(path_), ignored);
}

bool Temporary::Create(const std::string& beside, std::string& error) {
    path_ = sys::MakeTemporary(beside, error);
    return !path_.empty();
}

File OpenFile(const std::string& path, const char* mode) { return File(sys::Open(path, mode), std::fclose); }

Kind KindOf(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(fs::u8path(path), error);
    if (status.type() == fs::file_type::not_found || (error && status.type() == fs::file_type::none))
        return Kind::Missing;
    if (fs::is_regular_file(status)) return Kind::Regular;
    if (fs::is_directory(status)) return Kind::Directory;
    return Kind::Other;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(fs::u8path(a), fs::u8path(b), error) && !error;
}

std::uint64_t FileSize(const std::string& path) {
    std::error_code error;
    const auto size = fs::file_size(fs::u8path(path), error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

std::string InTemporaryFolder() {
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error);
    return ((error ? fs::path(".") : folder) / "wavfx").u8string();
}

std::string Resolved(const std::string& path) {
    std::error_code error;
    const fs::path real = fs::canonical(fs::u8path(path), error);
    return error ? path : real.u8string();
}

bool OpenInput(const std::string& name, Input& input, std::string& error) {
    input.name = name;
    const Kind kind = name == "-" ? Kind::Other : KindOf(name);
    if (kind == Kind::Directory) {
        error = "is a directory";
        return false;
    }
    if (kind == Kind::Regular) {
        input.path = name;
        return true;
    }
    // Not seekable (or not there): read it once, into a copy.
    std::FILE* from = name == "-" ? stdin : sys::Open(name, "rb");
    if (from == nullptr) {
        error = sys::LastError();
        return false;
    }
    if (from == stdin) sys::SetBinary(stdin);
    std::FILE* to = nullptr;
    bool ok = input.copy.Create(InTemporaryFolder(), error) && (to = sys::Open(input.copy.Path(), "wb")) != nullptr;
    if (!ok && error.empty()) error = sys::LastError();
    if (ok && !CopyAll(from, to)) {
        error = "reading failed: " + sys::LastError();
        ok = false;
    }
    if (to != nullptr && std::fclose(to) != 0 && ok) {
        error = "cannot keep a copy of it: " + sys::LastError();
        ok = false;
    }
    if (from != stdin) std::fclose(from);
    input.path = input.copy.Path();
    return ok;
}

}  // namespace wavfx
