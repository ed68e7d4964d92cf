#include "Text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace wavfx {

std::basic_string<VwdChar16> ToUtf16(const std::string& utf8) {
    std::basic_string<VwdChar16> out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = lead;
        std::size_t extra = 0;
        if (lead >= 0xF0) {
            cp = lead & 0x07;
            extra = 3;
        } else if (lead >= 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
        } else if (lead >= 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
        }
        for (std::size_t k = 1; k <= extra && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<VwdChar16>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<VwdChar16>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<VwdChar16>(cp));
        }
    }
    return out;
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

std::string FormatDbfs(int peak) {
    if (peak <= 0) return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(peak / 32768.0));
    return text;
}

bool ParseInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

}  // namespace wavfx
