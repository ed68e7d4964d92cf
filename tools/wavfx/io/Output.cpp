#include "io/Output.h"

#include <algorithm>

namespace wavfx {

Output::~Output() {
    if (stream_ != nullptr) std::fclose(stream_);
}

std::vector<sys::FileId> IdsOf(const std::vector<std::string>& inputs) {
    std::vector<sys::FileId> ids;
    for (const std::string& input : inputs) {
        const auto id = input == "-" ? std::nullopt : sys::IdOf(input);
        if (id) ids.push_back(*id);
    }
    return ids;
}

bool NamesStandardOutput(const std::string& name) {
    if (name == "-") return true;
    const auto id = sys::IdOf(name);
    return id && id == sys::StandardOutputId();
}

bool Output::Open(const std::string& name, Existing existing, const std::vector<sys::FileId>& inputs, std::string& error,
                  bool needsFile) {
    name_ = target_ = name;
    const auto out = name == "-" ? sys::StandardOutputId() : sys::IdOf(name);
    standardOutput_ = name == "-" || (out && out == sys::StandardOutputId());
    if (out && std::find(inputs.begin(), inputs.end(), *out) != inputs.end()) {
        error = standardOutput_ && name == "-" ? "standard output is an input too; choose another output"
                                               : "is an input too; choose another output";
        return false;
    }
    const Kind kind = standardOutput_ ? Kind::Other : KindOf(name, error);
    if (kind == Kind::Unknown) return false;  // never taken for "not there"
    if (needsFile && (kind == Kind::Directory || kind == Kind::Other)) {
        error = "is not a regular file; choose another name";
        return false;
    }
    if (kind == Kind::Directory) {
        error = "is a directory";
        return false;
    }
    if (kind == Kind::Regular && existing != Existing::Replace) {
        skipped_ = existing == Existing::Skip;
        error = skipped_ ? "exists; skipped (-n)" : "exists; -y replaces it, -n skips it";
        return false;
    }
    isFile_ = kind == Kind::Regular || kind == Kind::Missing;
    // With -y any file of that name is replaced, there now or by the commit.
    replaces_ = existing == Existing::Replace;
    existing_ = existing;
    // A link stays a link: the file it names is replaced.
    if (kind == Kind::Regular) target_ = Resolved(name);
    return true;
}

bool Output::Begin(std::string& error) {
    if (isFile_) return temporary_.Create(target_, error);
    stream_ = standardOutput_ ? sys::DuplicateStandardOutput() : sys::Open(name_, "wb");
    if (stream_ == nullptr) error = sys::LastError();
    return stream_ != nullptr;
}

bool Output::Commit(std::string& error) {
    if (isFile_) {
        bool existed = false;
        if (!sys::ReplaceWith(temporary_.Path(), target_, replaces_, existed, error)) {
            appeared_ = existed;
            skipped_ = existed && existing_ == Existing::Skip;
            if (skipped_) error = "exists; skipped (-n)";
            return false;
        }
        temporary_.Keep();
        return true;
    }
    const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
    if (!flushed) error = sys::LastError();
    const bool closed = std::fclose(stream_) == 0;
    if (flushed && !closed) error = sys::LastError();
    stream_ = nullptr;
    return flushed && closed;
}

}  // namespace wavfx
