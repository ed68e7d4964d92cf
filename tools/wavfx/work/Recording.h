// A recording session: the output rule, the capture device checked first, the
// library's recorder started, watched and stopped, and N seconds kept as N
// blocks. Shared by record and demo.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "io/Output.h"
#include "system/Failure.h"

namespace wavfx {

struct RecordOptions {
    long long seconds = 0;  // blocks to record; 0: until a signal
    Existing existing = Existing::Refuse;
    // Once the recording runs, and then about ten times a second while it does:
    // seconds since it began, whole blocks in the file, the newest block's peak.
    std::function<void()> started;
    std::function<void(double seconds, std::uint64_t blocks, int peak)> tick;
};

struct Recorded {
    std::uint64_t blocks = 0;  // whole blocks the file holds
    Status failure;
};

Recorded Record(const std::string& path, const RecordOptions& options);

}  // namespace wavfx
