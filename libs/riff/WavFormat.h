// What a WAV file's samples are, judged once from its fmt chunk: the PCM and
// float formats wavfx reads (8-bit unsigned, 16-, 24- and 32-bit signed, 32- and
// 64-bit float), or why they are none of them.
#pragma once

#include <optional>
#include <string>

#include "riff/RiffReader.h"

namespace velorik {

enum class Coding { U8, S16, S24, S32, F32, F64 };

struct SampleFormat {
    Coding coding;
    unsigned bytes;  // of one sample
    unsigned channels;
};

// How the samples of `layout` are coded; nullopt with `why` naming what is not
// PCM or float, or what the fmt chunk gets wrong.
std::optional<SampleFormat> SampleFormatOf(const WavLayout& layout, std::string& why);
// 16-bit PCM, which the library's pass clips.
bool IsPcm16(const WavLayout& layout);

}  // namespace velorik
