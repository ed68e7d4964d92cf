// UTF-8 and UTF-16, one code point at a time: the one codec behind the
// library's file names and wavfx's arguments. Strict: overlong forms,
// surrogates in UTF-8 and lone surrogates in UTF-16 are refused, never guessed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velorik::unicode {

// The length of the well-formed UTF-8 sequence at text[at] (its code point in `cp`), or 0.
inline std::size_t Utf8Sequence(const char* text, std::size_t size, std::size_t at, std::uint32_t& cp) noexcept {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length;
    std::uint32_t min;
    if (lead < 0x80) {
        cp = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, cp = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > size) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (next & 0x3Fu);
    }
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    return cp < min || cp > 0x10FFFF || surrogate ? 0 : length;
}

// The code point at in[at] and how many units it takes (1 or 2), or 0 for a
// lone surrogate. `in` ends with a NUL unit.
inline std::size_t Utf16Sequence(const char16_t* in, std::size_t at, std::uint32_t& cp) noexcept {
    cp = in[at];
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        const std::uint32_t low = in[at + 1];
        if (low < 0xDC00 || low > 0xDFFF) return 0;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        return 2;
    }
    return cp >= 0xDC00 && cp <= 0xDFFF ? 0 : 1;
}

// Writes `cp` as UTF-8; how many bytes (1 to 4).
inline std::size_t PutUtf8(std::uint32_t cp, unsigned char (&out)[4]) noexcept {
    if (cp < 0x80) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

// Writes `cp` (no surrogate) as UTF-16 in units of 16 bits (char16_t, or wchar_t on
// Windows); how many units (1 or 2).
template <typename Unit>
inline std::size_t PutUtf16(std::uint32_t cp, Unit (&out)[2]) noexcept {
    static_assert(sizeof(Unit) == 2, "UTF-16 units are 16 bits wide");
    if (cp < 0x10000) {
        out[0] = static_cast<Unit>(cp);
        return 1;
    }
    out[0] = static_cast<Unit>(0xD800 + ((cp - 0x10000) >> 10));
    out[1] = static_cast<Unit>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    return 2;
}

}  // namespace velorik::unicode
