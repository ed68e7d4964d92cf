// Enforces the one rule for every file a command writes where the user said.
// The rule is stated once, in cli/commands.toml under FILES WRITTEN, from which
// the manual page and docs/wavfx.md are made.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "io/Files.h"
#include "system/Failure.h"
#include "system/System.h"

namespace wavfx {

// What to do with an existing regular file: refuse it, replace it (-y) or skip it (-n).
enum class Existing { Refuse, Replace, Skip };

class Output {
public:
    Output() = default;
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Applies the rule to `name` ("-" is standard output). With `needsFile`, only
    // a regular file (or none yet) will do. A skip (-n) comes back as a failure
    // marked skipped.
    Status Open(const std::string& name, Existing existing, const std::vector<sys::FileId>& inputs,
                bool needsFile = false);
    const std::string& Name() const { return name_; }
    // A regular file, written through Temporary() and moved over Target() by Commit.
    bool IsFile() const { return isFile_; }
    // A regular file was there when Open looked.
    bool Existed() const { return existed_; }
    const std::string& Target() const { return target_; }

    // Makes the temporary, or opens what is written through.
    Status Begin();
    const std::string& Temporary() const { return temporary_.Path(); }
    // What is written through (not for a file).
    std::FILE* Stream() const { return stream_; }
    // The output is whole: moved into place, or flushed and closed. A name that
    // appeared meanwhile is not replaced without -y (and is skipped with -n).
    Status Commit();

    // A failure of this output in the system's words: what failed and the last call's reason.
    Failure Failed(const std::string& what) const { return SystemFailure(Role::Output, name_, what); }

private:
    Failure Refused(const std::string& what, bool skipped = false) const;

    std::string name_, target_;
    bool isFile_ = false, standardOutput_ = false, existed_ = false;
    bool replaces_ = false;  // -y: the commit replaces a file of that name; else it makes a new name
    Existing existing_ = Existing::Refuse;
    wavfx::Temporary temporary_;
    std::FILE* stream_ = nullptr;
};

// "-", or a name for this process's standard output (/dev/stdout, or the file it goes to).
bool NamesStandardOutput(const std::string& name);
// The identities of the command's inputs, for Open (inputs that do not exist have none).
std::vector<sys::FileId> IdsOf(const std::vector<std::string>& inputs);

}  // namespace wavfx
