// orvane-cli --serve and report --serve: where the bench view meets the run.
// The run's events go to BenchViewEvent (from whichever thread makes them);
// the state and the server do the rest on threads of their own.
#ifndef ORVANE_CLI_SERVE_SERVE_H
#define ORVANE_CLI_SERVE_SERVE_H

#include <string>
#include <vector>

// Starts serving the bench view at "[ADDR:]PORT".  *firstLine: what
// orvane-cli says first (where the page is, and whether the network can
// reach it).  False with a reason when the address is wrong or taken.
bool StartBenchView(const std::string& address, std::string* firstLine, std::string* error);
// One event line of the run (as --json prints it).
void BenchViewEvent(const std::string& line);
// The run has ended: its last events go out to the open pages (a second at
// most) before the process ends.
void EndBenchView();

// report --serve: the report over the logs as a page, read again as they
// grow, until Ctrl+C.  Returns the exit code.
int ServeReport(const std::string& address, const std::string& by, const std::vector<std::string>& files);

#endif
