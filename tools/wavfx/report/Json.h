// The one JSON writer behind every --json: objects and arrays written as they
// are built, commas and escapes its own business, so no command prints JSON by hand.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace wavfx {

class JsonWriter {
public:
    explicit JsonWriter(std::FILE* out) : out_(out) {}

    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    // The next member of an object.
    JsonWriter& Key(const char* key);
    // A line break before the next member or element, so long records stay readable.
    JsonWriter& Wrap();

    JsonWriter& String(const std::string& text);
    JsonWriter& Unsigned(std::uint64_t value);
    // A number as `format` prints it; null where JSON has none (infinity, NaN).
    JsonWriter& Number(double value, const char* format);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // A value already in JSON's form.
    JsonWriter& Raw(const std::string& json);

private:
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    void BeforeValue();

    std::FILE* out_;
    std::vector<bool> first_;  // per open bracket: nothing in it yet
    bool afterKey_ = false, wrap_ = false;
};

}  // namespace wavfx
