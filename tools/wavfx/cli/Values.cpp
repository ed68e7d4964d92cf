#include "cli/Values.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace wavfx {

namespace {

bool EndsWith(const std::string& text, const char* tail) {
    const std::size_t n = std::strlen(tail);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != tail[i]) return false;
    return true;
}

bool ParseDouble(const std::string& text, double& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value) &&
           text.find_first_not_of("+-.0123456789") == std::string::npos;
}

}  // namespace

bool ParseInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && end != nullptr && *end == '\0';
}

bool ParseThreshold(const std::string& text, Threshold& out, std::string& error) {
    const bool fs = EndsWith(text, "dbfs"), db = fs || EndsWith(text, "db");
    double value = 0;
    if (db) {
        if (!ParseDouble(text.substr(0, text.size() - (fs ? 4 : 2)), value) || value > 0)
            return error = "THRESHOLD " + text + " is no level in dB of full scale, 0 or below (-6dB)", false;
        out = {Threshold::Spelling::Decibels, 0, std::pow(10.0, value / 20.0)};
        return true;
    }
    if (text.find('.') != std::string::npos) {
        if (!ParseDouble(text, value) || value < 0 || value > 1)
            return error = "THRESHOLD " + text + " is no fraction of full scale in 0.0..1.0", false;
        out = {Threshold::Spelling::Fraction, 0, value};
        return true;
    }
    long long count = 0;
    if (!ParseInt(text, count))
        return error = "THRESHOLD " + text + " is no whole number, level in dB or fraction", false;
    if (count < 0 || count > 32767)
        return error = "THRESHOLD " + text + " is outside 0..32767; --raw hands any value to the library as it is",
               false;
    out = {Threshold::Spelling::Count, count, static_cast<double>(count) / 32768.0};
    return true;
}

}  // namespace wavfx
