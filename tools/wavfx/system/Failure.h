// How wavfx says that something did not happen, from where it failed up to the
// command that prints it, unchanged: which file (as the user named it) and its
// part in the command, what failed, and the system's reason in its own words.
// Only commands print failures and choose exit statuses.
#pragma once

#include <optional>
#include <string>

namespace wavfx {

enum class Role { Input, Output, Other };

struct Failure {
    Role role = Role::Other;
    std::string name;    // the file as the user named it, or what else failed ("standard output", a device)
    std::string what;    // "reading failed", "cannot be written", ... ("" when the reason says it all)
    std::string reason;  // the system's words ("" when `what` says it all)
    bool skipped = false;  // not done because -n asked so: no failure to report as one

    std::string Message() const { return what.empty() ? reason : reason.empty() ? what : what + ": " + reason; }
};

// A step's outcome: nothing, or what failed.
using Status = std::optional<Failure>;

// A failure whose reason is the last failed system call's (errno; on Windows
// GetLastError() where the call set that).
Failure SystemFailure(Role role, const std::string& name, const std::string& what);

}  // namespace wavfx
