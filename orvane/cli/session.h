// A run of orvane-cli: one port in this process (once, or unit after unit
// with --station), or several ports, each in a child process of its own.
#ifndef ORVANE_CLI_SESSION_H
#define ORVANE_CLI_SESSION_H

#include "orvane/cli/options.h"
#include "orvane/cli/screen.h"

// Returns the exit code.
int RunPort(const Options& options, Screen& screen);
int RunPorts(const Options& options);
// --watch: a station on every port --match names, as ports come and go
// (watch.cpp).
int RunWatch(const Options& options);
// orvane-cli report LOG...: units and yield over the logs of any number of
// benches (report.cpp); args are what follows "report".
int RunReport(const std::vector<std::string>& args);
// --check: what would run, and any problem, with the codes a run would give;
// nothing opened for writing, nothing sent.
int RunCheck(const Options& options);
// --list-ports.
int ListPortsCommand(bool json);

#endif
