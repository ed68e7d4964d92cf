#include "report/Text.h"

#include <cmath>
#include <cstdio>

#include "text/Unicode.h"

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

std::string FormatDbfs(double fraction) {
    if (!(fraction > 0)) return "-inf dBFS";
    const double db = 20.0 * std::log10(fraction);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", db > -0.05 ? 0.0 : db);
    return text;
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

int Fail(const std::string& name, const std::string& reason) {
    std::fprintf(stderr, "wavfx: %s: %s\n", Printable(name).c_str(), Printable(reason).c_str());
    return 1;
}

int Skipped(const std::string& name) {
    std::fprintf(stderr, "wavfx: %s: exists; skipped (-n)\n", Printable(name).c_str());
    return 0;
}

int Report(const Failure& failure) { return failure.skipped ? Skipped(failure.name) : Fail(failure.name, failure.Message()); }

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
