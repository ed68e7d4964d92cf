// Text for people and for other programs: levels, names safe to print, JSON
// strings, and the one way wavfx says a file failed or was skipped.
#pragma once

#include <string>

#include "system/Failure.h"

namespace wavfx {

// A level relative to full scale in dBFS; "-inf dBFS" for silence.
std::string FormatDbfs(double fraction);

// Safe to print, and to put in XML: control bytes, U+FFFE, U+FFFF and bytes
// that are not UTF-8 become \xNN.
std::string Printable(const std::string& bytes);
// A JSON string literal, quotes included.
std::string JsonString(const std::string& bytes);

// "wavfx: NAME: REASON" on stderr; exit status 1.
int Fail(const std::string& name, const std::string& reason);
// "wavfx: NAME: exists; skipped (-n)" on stderr; exit status 0.
int Skipped(const std::string& name);
// A failure as Fail says it, or a skip as Skipped does; its exit status.
int Report(const Failure& failure);

}  // namespace wavfx
