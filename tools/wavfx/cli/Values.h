// The values options and operands take: whole numbers and thresholds.
#pragma once

#include <string>

#include "format/SampleFormat.h"

namespace wavfx {

// A whole decimal number, all of `text`.
bool ParseInt(const std::string& text, long long& value);

// A threshold as N (of 32768, as the library takes it), decibels of full scale
// ("-6dB", "-6dBFS"), or a fraction of it ("0.5"); false with `error` saying
// what is wrong or out of range.
bool ParseThreshold(const std::string& text, Threshold& out, std::string& error);

}  // namespace wavfx
