// One record, both writers: what each shows of the same description, and the
// failure value's words.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "report/Record.h"
#include "system/Failure.h"

namespace {

using wavfx::Record;
using wavfx::Value;

template <typename Write>
std::string Written(Write write) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    write(out);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
}

TEST(Record, OneDescriptionTwoWriters) {
    Record record;
    record.Lines({"name", "level", "parts"});
    record.Add("name", "a \"b\"\x01").Show("name", "a \"b\"");
    record.Add("bytes", std::uint64_t{12}).Show("name", " (12 bytes)").Wrap();
    record.Add("hidden", true);  // JSON only
    record.Add("level", Value(0.5, "%.2f")).Show("level", "-6 dB");
    record.Add("none", Value(std::nan(""), "%.2f"));
    record.Add("parts", Value({Record().Add("id", "x"), Value()}, true));
    record.Text("parts", "first").Text("parts", "\nsecond").Text("", "a line of its own");
    record.Text("level", ", loud");  // a line fills in the order it was named, wherever its pieces stand
    EXPECT_EQ(Written([&](std::FILE* out) { wavfx::WriteJson(out, record); }),
              "{\"name\": \"a \\\"b\\\"\\u0001\", \"bytes\": 12,\n \"hidden\": true, \"level\": 0.50, \"none\": null, "
              "\"parts\": [{\"id\": \"x\"},\n null]}");
    EXPECT_EQ(Written([&](std::FILE* out) { wavfx::WriteText(out, record); }),
              "name:      a \"b\" (12 bytes)\n"
              "level:     -6 dB, loud\n"
              "parts:     first\n"
              "           second\n"
              "a line of its own\n");
}

TEST(Failure, SaysWhatFailedAndWhyInOneLine) {
    const struct {
        wavfx::Failure failure;
        const char* message;
    } rows[] = {
        {{wavfx::Role::Input, "in.wav", "reading failed", "Input/output error"}, "reading failed: Input/output error"},
        {{wavfx::Role::Output, "out.wav", "is a directory", ""}, "is a directory"},
        {{wavfx::Role::Input, "in.wav", "", "No such file or directory"}, "No such file or directory"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.failure.Message(), row.message);
    errno = ENOSPC;
    const wavfx::Failure full = wavfx::SystemFailure(wavfx::Role::Output, "out.wav", "writing the output failed");
    EXPECT_EQ(full.Message(), "writing the output failed: No space left on device");
    EXPECT_EQ(full.role, wavfx::Role::Output);
}

}  // namespace
