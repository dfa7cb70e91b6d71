// The JSON report: the module's state and everything in its record, on one
// line.  docs/simulator.md describes the fields.
#ifndef ORVANE_TOOLS_MODSIM_REPORT_H
#define ORVANE_TOOLS_MODSIM_REPORT_H

#include "tools/modsim/line.h"
#include "tools/modsim/module.h"

#include <string>
#include <string_view>

namespace modsim {

// A JSON string literal, quotes included; bytes outside printable ASCII are
// written as \u00XX.
std::string json_string(std::string_view bytes);

// `line` is the line settings in force now.
std::string report_json(const Module& module, const Line& line, double now_ms);

} // namespace modsim

#endif
