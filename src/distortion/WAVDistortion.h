#pragma once

#include <cstdint>

#include "VelorikWAVDistortion.h"

namespace velorik {

constexpr const char* DistortionSuccessLine = "Distortion effect applied successfully.\n";

// The clipping pass behind the WAVDistortion export; returns its result code.
int32_t WAVDistortion(const VwdChar16* inputPath, const VwdChar16* outputPath,
                      int32_t threshold) noexcept;

}  // namespace velorik
