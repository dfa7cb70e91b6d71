// Several ports at once: a child process runs each (the installer core keeps
// its state per process), and this one shows their lines, one changing line
// per port.
#ifndef ORVANE_CLI_SEVERAL_H
#define ORVANE_CLI_SEVERAL_H

#include "orvane/cli/options.h"

// Returns the exit code: the first non-zero one in port order.
int RunPorts(const Options& options);

#endif
