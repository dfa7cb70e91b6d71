// The simulator's options: the command line, and `set NAME=VALUE` on the
// control channel, which takes the same names without their dashes.
#ifndef ORVANE_TOOLS_MODSIM_OPTIONS_H
#define ORVANE_TOOLS_MODSIM_OPTIONS_H

#include "tools/modsim/module.h"

#include <optional>
#include <string>
#include <string_view>

namespace modsim {

struct Options {
    std::string link;
    std::optional<int> control_port;
    std::string ready_file;
    std::string report_file;
    bool powered = false;
    bool pace = true;
    bool gulp = false;   // read the line 4 KiB at a time instead of as a UART does
    double byte_delay_ms = 0;
    Behaviour module;
};

// Sets one option.  Flags (noise, any-rate, powered, no-pace, pace, gulp) take
// 0/1; optional values take "none".  `running` refuses the options that only
// make sense at start (link, control, ready-file).  Returns an error text, or
// an empty string when the value was taken.
std::string apply_option(Options& options, std::string_view name, std::string_view value, bool running);

// Parses argv.  Returns false with an error text (or "help" for --help).
bool parse_command_line(int argc, char** argv, Options& options, std::string& error);

const char* usage_text();

} // namespace modsim

#endif
