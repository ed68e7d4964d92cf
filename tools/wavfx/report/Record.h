// A command's output described once, as records of named values, and the two
// writers that render any record: JSON for programs, text for people (FFmpeg's
// textformat is the model). Each value says, where it is described, how it reads
// in text and on which line; a value without a line is shown in JSON only, and a
// piece of text without a key in text only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace wavfx {

class Record;

// A JSON value: null, true or false, a whole number, a number as a printf format
// spells it (null where JSON has none), a string, a list, or a record.
class Value {
public:
    Value();  // null
    Value(bool value);
    Value(std::uint64_t value);
    Value(unsigned value) : Value(static_cast<std::uint64_t>(value)) {}
    Value(double value, const char* format);
    Value(const std::string& text);
    Value(const char* text) : Value(std::string(text)) {}
    // With `wrapEach`, a line break after each element.
    Value(std::vector<Value> list, bool wrapEach = false);
    Value(Record record);

    enum class Kind { Literal, String, List, Record };
    Kind kind() const { return kind_; }
    const std::string& Literal() const { return text_; }  // null, true, a number: as JSON spells it
    const std::string& Text() const { return text_; }     // a string
    const std::vector<Value>& List() const { return list_; }
    bool WrapsEach() const { return wrapEach_; }
    const Record& Nested() const { return *record_; }

private:
    Kind kind_;
    std::string text_;
    std::vector<Value> list_;
    bool wrapEach_ = false;
    std::shared_ptr<const Record> record_;
};

class Record {
public:
    struct Entry {
        std::string key;        // "" for text only
        Value value;
        std::string line;       // the text line it is shown on; "" for none
        std::string text;       // what it adds to that line
        bool wrap = false;      // JSON: a line break after it
    };

    // The text's lines, by label, in the order they are shown; a labelled line
    // not named here comes after them. Lines that nothing fills are left out.
    Record& Lines(std::vector<std::string> labels);
    // A member, shown in JSON as `key`.
    Record& Add(const std::string& key, Value value);
    // In text, the member just added (or, with no key before it, this text alone) on
    // line `line` ("" for a line of its own without a label); several on one line run
    // on in order, and a text that starts with a line break continues the line below it.
    Record& Show(const std::string& line, const std::string& text);
    Record& Text(const std::string& line, const std::string& text);
    // JSON: a line break after the member just added, so that long records stay readable.
    Record& Wrap();

    const std::vector<Entry>& Entries() const { return entries_; }
    const std::vector<std::string>& LineOrder() const { return lines_; }

private:
    std::vector<Entry> entries_;
    std::vector<std::string> lines_;
};

// `value` as JSON, on one line but where a record asks for breaks.
void WriteJson(std::FILE* out, const Value& value);
// `record`'s text lines: "label:" in a column 11 wide, then what its members add
// (a line break in it goes on under the label's column); then its unlabelled lines.
void WriteText(std::FILE* out, const Record& record);

}  // namespace wavfx
