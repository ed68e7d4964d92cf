#pragma once

#include <cstdint>
#include <string>

#include "VelorikWAVDistortion.h"

namespace wavfx {

// UTF-8 (the terminal's and the file system's encoding) to the library's UTF-16.
std::basic_string<VwdChar16> ToUtf16(const std::string& utf8);

// Plain words for a result code.
const char* DescribeStatus(int32_t status);

// Peak level of 16-bit samples in dBFS; "-inf" for silence.
std::string FormatDbfs(int peak);

bool ParseInt(const std::string& text, long long& value);

}  // namespace wavfx
