#pragma once

#include <cstdint>
#include <string>

#include "VelorikWAVDistortion.h"

namespace wavfx {

// Well-formed UTF-8: no stray continuation bytes, overlong forms, surrogates
// or values past U+10FFFF.
bool IsValidUtf8(const std::string& text);
// Valid UTF-8 (the terminal's and the file system's encoding) to the library's UTF-16.
std::basic_string<VwdChar16> ToUtf16(const std::string& utf8);
// UTF-16 from Windows to UTF-8; false on a lone surrogate.
bool FromUtf16(const std::basic_string<char16_t>& utf16, std::string& out);

// Plain words for a result code.
const char* DescribeStatus(int32_t status);

// A level relative to full scale in dBFS; "-inf dBFS" for silence.
std::string FormatDbfs(double fraction);

bool ParseInt(const std::string& text, long long& value);

// Safe to print, and to put in XML: control bytes, U+FFFE, U+FFFF and bytes
// that are not UTF-8 become \xNN.
std::string Printable(const std::string& bytes);
// A JSON string literal, quotes included.
std::string JsonString(const std::string& bytes);

}  // namespace wavfx
