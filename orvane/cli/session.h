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
// The run's "start" event (--json only): the version, the image, the ports
// (or what --watch matches) and the options.
void StartEvent(Screen& screen, const Options& options);
// The run's "summary" event (--json only): every port's exit code and
// counts, and the whole run's code.
void SummaryEvent(Screen& screen, bool json, int code, const std::vector<std::string>& ports,
                  const std::vector<int>& codes, const std::vector<int>& pass, const std::vector<int>& fail);
// --list-ports.
int ListPortsCommand(bool json);

#endif
