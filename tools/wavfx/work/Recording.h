// A recording session: the output rule, the capture device checked first, the
// library's recorder started, watched and stopped, and N seconds kept as N
// blocks. Shared by record and demo.
#pragma once

#include <string>

#include "io/Output.h"

namespace wavfx {

struct RecordOptions {
    long long seconds = 0;  // blocks to record; 0: until a signal
    bool quiet = false;
    Existing existing = Existing::Refuse;
};
// Records to `path`; returns the process exit status.
int Record(const std::string& path, const RecordOptions& options);

}  // namespace wavfx
