#include "platform/posix/Utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Files.h"

namespace velorik::platform {
namespace {

struct Case {
    const char* what;
    std::u16string in;
    const char* out;  // nullptr: unconvertible
};

TEST(EncodeUtf8, Table) {
    const Case cases[] = {
        {"ascii", u"in.wav", "in.wav"},
        {"empty", u"", ""},
        {"two bytes", u"ą.wav", "\xC4\x85.wav"},
        {"three bytes", u"音.wav", "\xE9\x9F\xB3.wav"},
        {"surrogate pair", u"\xD83C\xDFB5", "\xF0\x9F\x8E\xB5"},
        {"lone high surrogate", u"a\xD83C", nullptr},
        {"high surrogate then letter", u"\xD83Cx", nullptr},
        {"lone low surrogate", u"\xDFB5.wav", nullptr},
        {"reversed pair", u"\xDFB5\xD83C", nullptr},
    };
    for (const Case& c : cases) {
        char out[64] = "untouched";
        const long length = EncodeUtf8(c.in.c_str(), out, sizeof out);
        if (c.out == nullptr) {
            EXPECT_EQ(length, -1) << c.what;
            EXPECT_STREQ(out, "") << c.what;
        } else {
            EXPECT_EQ(length, static_cast<long>(std::string(c.out).size())) << c.what;
            EXPECT_STREQ(out, c.out) << c.what;
        }
    }
}

TEST(EncodeUtf8, NameThatDoesNotFitIsRejectedNotCut) {
    const std::u16string name(10, u'音');  // 30 bytes as UTF-8
    char exact[31], tooSmall[30];
    EXPECT_EQ(EncodeUtf8(name.c_str(), exact, sizeof exact), 30);
    EXPECT_EQ(EncodeUtf8(name.c_str(), tooSmall, sizeof tooSmall), -1);
    EXPECT_STREQ(tooSmall, "");
}

TEST(Utf16ToNarrow, LongestNameTheOsTakesFits) {
    const std::u16string name(NarrowNameCapacity - 1, u'a');
    static char out[NarrowNameCapacity];
    EXPECT_TRUE(Utf16ToNarrow(name.c_str(), out, sizeof out));
    EXPECT_EQ(std::string(out).size(), NarrowNameCapacity - 1);
    const std::u16string longer(NarrowNameCapacity, u'a');
    EXPECT_FALSE(Utf16ToNarrow(longer.c_str(), out, sizeof out));
    EXPECT_STREQ(out, "");
}

}  // namespace
}  // namespace velorik::platform
