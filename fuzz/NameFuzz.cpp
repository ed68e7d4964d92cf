// UTF-16 names to UTF-8: every well-formed name round-trips through an
// independent decoder, and every ill-formed one is rejected with an empty result.
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/Utf8.h"

namespace {

bool WellFormed(const std::u16string& s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] >= 0xD800 && s[i] <= 0xDBFF) {
            if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// Strict UTF-8 to UTF-16; false on anything that is not shortest-form UTF-8.
bool Decode(const std::string& in, std::u16string& out) {
    for (std::size_t i = 0; i < in.size();) {
        const auto b = static_cast<unsigned char>(in[i]);
        const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > in.size()) return false;
        uint32_t cp = n == 1 ? b : b & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(in[i + k]);
            if ((c >> 6) != 2) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // The first byte picks the output capacity, small ones included, to reach the fit checks.
    if (size == 0) return 0;
    const std::size_t capacity = 1 + data[0] * 8u;
    std::u16string name;
    for (std::size_t i = 1; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
        if (unit == 0) break;
        name.push_back(unit);
    }
    std::string out(capacity, '\x7F');
    const long length = velorik::platform::EncodeUtf8(name.c_str(), out.data(), capacity);
    if (length < 0) {
        if (out[0] != '\0') std::abort();
        if (WellFormed(name)) {
            // Only a name too long for the buffer may be refused.
            std::string big(name.size() * 3 + 1, '\0');
            const long needed = velorik::platform::EncodeUtf8(name.c_str(), big.data(), big.size());
            if (needed < 0 || static_cast<std::size_t>(needed) + 1 <= capacity) std::abort();
        }
        return 0;
    }
    if (!WellFormed(name) || static_cast<std::size_t>(length) + 1 > capacity || out[length] != '\0') std::abort();
    std::u16string back;
    if (!Decode(out.substr(0, length), back) || back != name) std::abort();
    return 0;
}
