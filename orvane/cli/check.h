// --check: what would run, and any problem, with the codes a run would
// give; nothing opened for writing, nothing sent.
#ifndef ORVANE_CLI_CHECK_H
#define ORVANE_CLI_CHECK_H

#include "orvane/cli/options.h"

int RunCheck(const Options& options);

#endif
