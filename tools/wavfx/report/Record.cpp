#include "report/Record.h"

#include <algorithm>
#include <cmath>

#include "report/Text.h"

namespace wavfx {

Value::Value() : kind_(Kind::Literal), text_("null") {}

Value::Value(bool value) : kind_(Kind::Literal), text_(value ? "true" : "false") {}

Value::Value(std::uint64_t value) : kind_(Kind::Literal), text_(std::to_string(value)) {}

Value::Value(double value, const char* format) : kind_(Kind::Literal), text_("null") {
    if (!std::isfinite(value)) return;
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    text_ = text;
}

Value::Value(const std::string& text) : kind_(Kind::String), text_(text) {}

Value::Value(std::vector<Value> list, bool wrapEach) : kind_(Kind::List), list_(std::move(list)), wrapEach_(wrapEach) {}

Value::Value(Record record) : kind_(Kind::Record), record_(std::make_shared<const Record>(std::move(record))) {}

Record& Record::Lines(std::vector<std::string> labels) {
    lines_ = std::move(labels);
    return *this;
}

Record& Record::Add(const std::string& key, Value value) {
    entries_.push_back(Entry{key, std::move(value), "", "", false});
    return *this;
}

Record& Record::Show(const std::string& line, const std::string& text) {
    if (entries_.empty() || !entries_.back().line.empty() || entries_.back().key.empty()) return Text(line, text);
    entries_.back().line = line;
    entries_.back().text = text;
    return *this;
}

Record& Record::Text(const std::string& line, const std::string& text) {
    entries_.push_back(Entry{"", Value(), line, text, false});
    return *this;
}

Record& Record::Wrap() {
    if (!entries_.empty()) entries_.back().wrap = true;
    return *this;
}

void WriteJson(std::FILE* out, const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Literal: std::fputs(value.Literal().c_str(), out); return;
        case Value::Kind::String: std::fputs(JsonString(value.Text()).c_str(), out); return;
        case Value::Kind::List: {
            std::fputc('[', out);
            const char* between = value.WrapsEach() ? ",\n " : ", ";
            for (std::size_t i = 0; i < value.List().size(); ++i) {
                if (i > 0) std::fputs(between, out);
                WriteJson(out, value.List()[i]);
            }
            std::fputc(']', out);
            return;
        }
        case Value::Kind::Record: {
            std::fputc('{', out);
            const char* between = "";
            for (const Record::Entry& entry : value.Nested().Entries()) {
                if (entry.key.empty()) continue;
                std::fprintf(out, "%s%s: ", between, JsonString(entry.key).c_str());
                WriteJson(out, entry.value);
                between = entry.wrap ? ",\n " : ", ";
            }
            std::fputc('}', out);
            return;
        }
    }
}

void WriteText(std::FILE* out, const Record& record) {
    // Labelled lines gather what their entries add, in the order the record names them;
    // an unlabelled piece is a line of its own, where it stands among them.
    std::vector<std::pair<std::string, std::string>> lines;  // label, text
    for (const std::string& label : record.LineOrder()) lines.emplace_back(label, "");
    std::vector<std::string> own;  // unlabelled lines, in order, after every labelled one
    for (const Record::Entry& entry : record.Entries()) {
        if (entry.line.empty()) {
            if (!entry.text.empty()) own.push_back(entry.text);
            continue;
        }
        auto line = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == entry.line; });
        if (line == lines.end()) line = lines.insert(lines.end(), {entry.line, ""});
        line->second += entry.text;
    }
    const std::string indent(11, ' ');
    for (const auto& [label, text] : lines) {
        if (text.empty()) continue;
        std::string shown = label + ":";
        shown.resize(std::max(shown.size() + 1, indent.size()), ' ');
        for (std::size_t at = 0, next; at < text.size(); at = next + 1) {
            next = std::min(text.find('\n', at), text.size());
            std::fprintf(out, "%s%s\n", at == 0 ? shown.c_str() : indent.c_str(), text.substr(at, next - at).c_str());
        }
    }
    for (const std::string& line : own) std::fprintf(out, "%s\n", line.c_str());
}

}  // namespace wavfx
