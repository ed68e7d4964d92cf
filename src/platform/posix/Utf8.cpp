#include "platform/posix/Utf8.h"

#include <cstdint>

#include "text/Unicode.h"

namespace velorik::platform {

long EncodeUtf8(const char16_t* in, char* out, std::size_t capacity) noexcept {
    if (capacity == 0) return -1;
    auto reject = [out] {
        out[0] = '\0';
        return -1L;
    };
    std::size_t used = 0;
    for (std::size_t i = 0; in[i] != 0;) {
        std::uint32_t cp;
        const std::size_t units = unicode::Utf16Sequence(in, i, cp);
        if (units == 0) return reject();
        i += units;
        unsigned char bytes[4];
        const std::size_t n = unicode::PutUtf8(cp, bytes);
        if (used + n + 1 > capacity) return reject();
        for (std::size_t k = 0; k < n; ++k) out[used++] = static_cast<char>(bytes[k]);
    }
    out[used] = '\0';
    return static_cast<long>(used);
}

}  // namespace velorik::platform
