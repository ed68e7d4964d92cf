#include "report/Json.h"

#include <cmath>

#include "report/Text.h"

namespace wavfx {

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty() && !first_.back()) std::fputs(wrap_ ? ",\n " : ", ", out_);
    wrap_ = false;
    if (!first_.empty()) first_.back() = false;
}

JsonWriter& JsonWriter::Open(char bracket) {
    BeforeValue();
    std::fputc(bracket, out_);
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
    first_.pop_back();
    std::fputc(bracket, out_);
    return *this;
}

JsonWriter& JsonWriter::Key(const char* key) {
    BeforeValue();
    std::fprintf(out_, "%s: ", JsonString(key).c_str());
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::Wrap() {
    wrap_ = true;
    return *this;
}

JsonWriter& JsonWriter::Raw(const std::string& json) {
    BeforeValue();
    std::fputs(json.c_str(), out_);
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& text) { return Raw(JsonString(text)); }

JsonWriter& JsonWriter::Unsigned(std::uint64_t value) { return Raw(std::to_string(value)); }

JsonWriter& JsonWriter::Number(double value, const char* format) {
    if (!std::isfinite(value)) return Null();
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return Raw(text);
}

JsonWriter& JsonWriter::Bool(bool value) { return Raw(value ? "true" : "false"); }

JsonWriter& JsonWriter::Null() { return Raw("null"); }

}  // namespace wavfx
