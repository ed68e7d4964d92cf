// A whole command line (the program's name first) to the command the table names,
// with help, version and usage errors answered here; its exit status.
#pragma once

#include <string>
#include <vector>

namespace wavfx {

int RunCommandLine(const std::vector<std::string>& all);

}  // namespace wavfx
