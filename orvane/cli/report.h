// orvane-cli report LOG...: units and yield over the logs of any number of
// benches.
#ifndef ORVANE_CLI_REPORT_H
#define ORVANE_CLI_REPORT_H

#include <string>
#include <vector>

// args are what follows "report"; returns the exit code.
int RunReport(const std::vector<std::string>& args);

#endif
