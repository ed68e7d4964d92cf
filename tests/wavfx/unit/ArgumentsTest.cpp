#include "cli/Arguments.h"

#include <gtest/gtest.h>

namespace wavfx {
namespace {

const OptionSpec Options[] = {
    {"threshold", nullptr, 't', "N"}, {"duration", "seconds", 'd', "N"}, {"overwrite", nullptr, 'y', nullptr},
    {"quiet", nullptr, 'q', nullptr}, {"raw", nullptr, 0, nullptr},
};

struct Case {
    std::vector<std::string> args;
    std::string parsed;  // operands then name=value pairs, or "error: ..."
};

std::string Describe(const std::vector<std::string>& args) {
    ParsedArgs out;
    std::string error;
    if (!ParseArgs(Options, std::size(Options), args, out, error)) return "error: " + error;
    std::string text;
    for (const auto& operand : out.operands) text += "[" + operand + "]";
    for (const auto& [name, value] : out.given) text += " " + name + "=" + value;
    return text;
}

TEST(ParseArgs, FollowsGetoptAndGnuConventions) {
    const Case cases[] = {
        {{"in", "out", "100"}, "[in][out][100]"},
        {{"-t", "100", "in", "-y"}, "[in] threshold=100 overwrite="},
        {{"--threshold=100", "--threshold", "200"}, " threshold=100 threshold=200"},
        {{"-t100", "-yq"}, " threshold=100 overwrite= quiet="},
        {{"-yt", "5"}, " overwrite= threshold=5"},
        {{"--seconds", "3", "-d", "4"}, " duration=3 duration=4"},
        {{"-t", "-6dB"}, " threshold=-6dB"},
        {{"--threshold", "--raw"}, " threshold=--raw"},
        {{"--threshold="}, " threshold="},
        {{"in", "-5", "-.5", "-"}, "[in][-5][-.5][-]"},
        {{"--", "-in.wav", "--raw", "-"}, "[-in.wav][--raw][-]"},
        {{"-y", "--", "--", "x"}, "[--][x] overwrite="},
        {{"--bogus"}, "error: unknown option '--bogus'"},
        {{"--bogus=1"}, "error: unknown option '--bogus'"},
        {{"-yx"}, "error: unknown option '-x' in '-yx'"},
        {{"-.x"}, "error: unknown option '-.' in '-.x'; to name a file that starts with '-', write ./-.x or put -- before it"},
        {{"-in.wav"}, "error: unknown option '-i' in '-in.wav'; to name a file that starts with '-', write ./-in.wav "
                      "or put -- before it"},
        {{"--thresh", "1"}, "error: unknown option '--thresh'"},
        {{"in", "-t"}, "error: option '-t' needs a value (N)"},
        {{"--duration"}, "error: option '--duration' needs a value (N)"},
        {{"--raw=yes"}, "error: option '--raw' takes no value"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& arg : c.args) line += arg + " ";
        EXPECT_EQ(Describe(c.args), c.parsed) << line;
    }
}

}  // namespace
}  // namespace wavfx
