// A plot written where the user said, by the output rule; shared by plot and demo.
#pragma once

#include <string>

#include "io/Output.h"
#include "report/Plot.h"

namespace wavfx {

// Writes a plot where `path` says (- for standard output).
Status WritePlotFile(const PlotRequest& request, const std::string& path, Existing existing);

}  // namespace wavfx
