// --watch: a station on every port --match names, as ports come and go.
#ifndef ORVANE_CLI_WATCH_H
#define ORVANE_CLI_WATCH_H

#include "orvane/cli/options.h"

// Returns the exit code.
int RunWatch(const Options& options);

#endif
