// --watch: a station on every port --match names, as ports come and go.
#ifndef ORVANE_CLI_WATCH_H
#define ORVANE_CLI_WATCH_H

#include "orvane/cli/options.h"
#include "orvane/cli/ports.h"

#include <vector>

// Returns the exit code.
int RunWatch(const Options& options);

// The ports that --match names now, each under the name it matched by: a
// path pattern's own path (a link in a bench's folder), otherwise the
// port's name.  One port reached by two names is taken once.
std::vector<PortInfo> MatchingPorts(const Options& options);

#endif
