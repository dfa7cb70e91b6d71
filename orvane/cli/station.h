// One port in this process: one unit, or unit after unit with --station
// (also each child process of several ports or of --watch).
#ifndef ORVANE_CLI_STATION_H
#define ORVANE_CLI_STATION_H

#include "orvane/cli/image.h"
#include "orvane/cli/options.h"
#include "orvane/cli/record.h"
#include "orvane/cli/screen.h"

// Returns the exit code.
int RunPort(const Options& options, Screen& screen);

// Where and what the unit was: the port (and its device, when the record
// has none yet), the image, and who and what from the options (operator,
// bench, tool version, image label, adapter).
void Stamp(UnitRecord* record, const Options& options, const std::string& port, const ImageInfo& image);

// A unit's log line that could not be written: the record says so
// (LogUnwritten), a line and (--json) a warning event say why.
void LogUnwritten(Screen& screen, const Options& options, UnitRecord* record, const std::string& error);

#endif
