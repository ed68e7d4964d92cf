// Plots as plain SVG: the input's waveform with the clipped output over it,
// the threshold, a time axis and a level axis; or the two files' spectra on a
// logarithmic frequency axis. One pass over each file, in constant memory
// whatever its length.
#pragma once

#include <optional>
#include <cstdio>
#include <string>

#include "system/Failure.h"

namespace wavfx {

struct PlotRequest {
    std::string in, out;          // out may be empty
    std::optional<double> level;  // the threshold as a fraction of full scale, drawn as lines; without it, OUT's peak
    std::string levelText;        // as the user spelled it
    bool spectrum = false;        // the averaged spectra instead of the waveforms
};

// Writes the SVG to `svg`, which the user knows as `svgName`.
Status WritePlot(const PlotRequest& request, std::FILE* svg, const std::string& svgName);

}  // namespace wavfx
