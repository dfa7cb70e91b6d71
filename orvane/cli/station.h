// One port in this process: one unit, or unit after unit with --station
// (also each child process of several ports or of --watch).
#ifndef ORVANE_CLI_STATION_H
#define ORVANE_CLI_STATION_H

#include "orvane/cli/options.h"
#include "orvane/cli/screen.h"

// Returns the exit code.
int RunPort(const Options& options, Screen& screen);

#endif
