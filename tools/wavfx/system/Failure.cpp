#include "system/Failure.h"

#include "system/System.h"

namespace wavfx {

Failure SystemFailure(Role role, const std::string& name, const std::string& what) {
    return Failure{role, name, what, sys::LastError()};
}

}  // namespace wavfx
