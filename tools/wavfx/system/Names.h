// Names and arguments as the OS hands them to wavfx, checked or converted
// through the library's one codec (src/text), never guessed.
#pragma once

#include <string>

namespace wavfx {

// Well-formed UTF-8: no stray continuation bytes, overlong forms, surrogates
// or values past U+10FFFF.
bool IsValidUtf8(const std::string& text);
// Valid UTF-8 to UTF-16 (the library's names, Windows' wide calls); empty
// for text that is not UTF-8, which the callers checked: a name is never guessed.
std::u16string ToUtf16(const std::string& utf8);
// UTF-16 from Windows to UTF-8; false on a lone surrogate.
bool FromUtf16(const std::basic_string<char16_t>& utf16, std::string& out);

}  // namespace wavfx
