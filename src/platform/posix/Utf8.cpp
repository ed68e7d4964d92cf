#include "Utf8.h"

#include <cstdint>

namespace velorik::platform {

long EncodeUtf8(const char16_t* in, char* out, std::size_t capacity) noexcept {
    if (capacity == 0) return -1;
    auto reject = [out] {
        out[0] = '\0';
        return -1L;
    };
    std::size_t used = 0;
    for (std::size_t i = 0; in[i] != 0; ++i) {
        uint32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            const uint32_t low = in[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) return reject();
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return reject();
        }
        unsigned char bytes[4];
        std::size_t n;
        if (cp < 0x80) {
            bytes[0] = static_cast<unsigned char>(cp);
            n = 1;
        } else if (cp < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
            bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            n = 2;
        } else if (cp < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
            bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            n = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
            bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
            n = 4;
        }
        if (used + n + 1 > capacity) return reject();
        for (std::size_t k = 0; k < n; ++k) out[used++] = static_cast<char>(bytes[k]);
    }
    out[used] = '\0';
    return static_cast<long>(used);
}

}  // namespace velorik::platform
