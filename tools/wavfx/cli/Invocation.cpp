#include "cli/Invocation.h"

#include <cstdio>

#include "cli/CommandSpec.h"
#include "report/Text.h"

namespace wavfx {

Existing Invocation::WhenExists() const {
    return Has("overwrite") ? Existing::Replace : Has("no-clobber") ? Existing::Skip : Existing::Refuse;
}

int Invocation::Usage(const std::string& why) const {
    std::fprintf(stderr, "wavfx %s: %s\n%s'wavfx %s --help' describes it.\n", command.name, Printable(why).c_str(),
                 command.usage, command.name);
    return 2;
}

}  // namespace wavfx
