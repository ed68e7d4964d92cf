#include "io/Output.h"

#include <algorithm>
#include <cerrno>

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

Failure Output::Refused(const std::string& what, bool skipped) const {
    Failure failure{Role::Output, name_, what, ""};
    failure.skipped = skipped;
    return failure;
}

Status Output::Open(const std::string& name, Existing existing, const std::vector<sys::FileId>& inputs, bool needsFile) {
    name_ = target_ = name;
    const auto out = name == "-" ? sys::StandardOutputId() : sys::IdOf(name);
    standardOutput_ = name == "-" || (out && out == sys::StandardOutputId());
    if (out && std::find(inputs.begin(), inputs.end(), *out) != inputs.end())
        return Refused(standardOutput_ && name == "-" ? "standard output is an input too; choose another output"
                                                      : "is an input too; choose another output");
    const Kind kind = standardOutput_ ? Kind::Other : KindOf(name);
    if (kind == Kind::Unknown) return Failed("");  // never taken for "not there"
    if (needsFile && (kind == Kind::Directory || kind == Kind::Other))
        return Refused("is not a regular file; choose another name");
    if (kind == Kind::Directory) return Refused("is a directory");
    existed_ = kind == Kind::Regular;
    if (existed_ && existing != Existing::Replace)
        return existing == Existing::Skip ? Refused("exists; skipped (-n)", true)
                                          : Refused("exists; -y replaces it, -n skips it");
    isFile_ = kind == Kind::Regular || kind == Kind::Missing;
    // With -y any file of that name is replaced, there now or by the commit.
    replaces_ = existing == Existing::Replace;
    existing_ = existing;
    // A link stays a link: the file it names is replaced.
    if (existed_) target_ = Resolved(name);
    return std::nullopt;
}

Status Output::Begin() {
    if (isFile_) return temporary_.Create(target_) ? Status() : Failed("cannot be written");
    stream_ = standardOutput_ ? sys::DuplicateStandardOutput() : sys::Open(name_, "wb");
    return stream_ != nullptr ? Status() : Failed("cannot be written");
}

Status Output::Commit() {
    if (isFile_) {
        switch (sys::ReplaceWith(temporary_.Path(), target_, replaces_)) {
            case sys::Replaced::Done: temporary_.Keep(); return std::nullopt;
            case sys::Replaced::Exists:
                return existing_ == Existing::Skip ? Refused("exists; skipped (-n)", true)
                                                   : Refused("exists; -y replaces it, -n skips it");
            case sys::Replaced::NotDurable: return Failed("writing the output failed");
            case sys::Replaced::NotMoved: break;
        }
        Failure failure = Failed(existed_ ? "cannot be replaced" : "cannot be created");
        const std::string refusal = errno == EPERM ? sys::MoveRefusal(target_) : "";
        if (!refusal.empty()) failure.reason += " (" + refusal + ")";
        return failure;
    }
    const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
    Status failure = flushed ? Status() : Failed("writing the output failed");
    const bool closed = std::fclose(stream_) == 0;
    if (flushed && !closed) failure = Failed("writing the output failed");
    stream_ = nullptr;
    return failure;
}

}  // namespace wavfx
