#include "system/Names.h"

#include "text/Unicode.h"

namespace wavfx {

bool IsValidUtf8(const std::string& text) {
    uint32_t cp;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = velorik::unicode::Utf8Sequence(text.data(), text.size(), i, cp);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::u16string ToUtf16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        uint32_t cp = 0;
        const std::size_t length = velorik::unicode::Utf8Sequence(utf8.data(), utf8.size(), i, cp);
        if (length == 0) return {};
        i += length;
        char16_t units[2];
        out.append(units, velorik::unicode::PutUtf16(cp, units));
    }
    return out;
}

bool FromUtf16(const std::basic_string<char16_t>& utf16, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < utf16.size();) {
        uint32_t cp;
        const std::size_t units = velorik::unicode::Utf16Sequence(utf16.c_str(), i, cp);
        if (units == 0) return false;
        i += units;
        unsigned char bytes[4];
        out.append(reinterpret_cast<const char*>(bytes), velorik::unicode::PutUtf8(cp, bytes));
    }
    return true;
}

}  // namespace wavfx
