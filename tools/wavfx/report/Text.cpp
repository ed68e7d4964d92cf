#include "Text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Unicode.h"

namespace wavfx {

namespace {

std::size_t Sequence(const std::string& text, std::size_t at, uint32_t& cp) {
    return velorik::unicode::Utf8Sequence(text.data(), text.size(), at, cp);
}

std::string Hex(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
    uint32_t cp;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Sequence(text, i, cp);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::basic_string<VwdChar16> ToUtf16(const std::string& utf8) {
    std::basic_string<VwdChar16> out;
    uint32_t cp = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t length = Sequence(utf8, i, cp);
        if (length == 0) return {};  // the caller checked; never guess
        i += length;
        if (cp >= 0x10000) {
            out.push_back(static_cast<VwdChar16>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<VwdChar16>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<VwdChar16>(cp));
        }
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

const char* DescribeStatus(int32_t status) {
    switch (status) {
        case StatusSuccess: return "success";
        case StatusOpenFailed: return "a file or the capture device did not open";
        case StatusQueueFailed: return "the capture device refused the buffer";
        case StatusStartFailed: return "capture did not start";
        case StatusIOFailed: return "reading the input or writing the output failed";
        default: return "unknown result";
    }
}

std::string FormatDbfs(double fraction) {
    if (!(fraction > 0)) return "-inf dBFS";
    const double db = 20.0 * std::log10(fraction);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", db > -0.05 ? 0.0 : db);
    return text;
}

bool ParseInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

std::string Printable(const std::string& bytes) {
    std::string out;
    uint32_t cp;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Sequence(bytes, i, cp);
        if (length == 0 || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0xFFFE || cp == 0xFFFF) {
            out += Hex(static_cast<unsigned char>(bytes[i]));
            ++i;
        } else {
            out.append(bytes, i, length);
            i += length;
        }
    }
    return out;
}

std::string JsonString(const std::string& bytes) {
    std::string out = "\"";
    uint32_t cp;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Sequence(bytes, i, cp);
        char escaped[16];
        if (length == 0) {
            // Not text: kept visible rather than guessed at.
            std::snprintf(escaped, sizeof escaped, "\\\\x%02X", static_cast<unsigned char>(bytes[i]));
            out += escaped;
            ++i;
            continue;
        }
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp < 0x20 || cp == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\u%04X", cp);
            out += escaped;
        } else {
            out.append(bytes, i, length);
        }
        i += length;
    }
    return out + "\"";
}

}  // namespace wavfx
