// CSV as the unit log (--log) writes it: a field written, a line read back
// into its fields.  The columns themselves are the record's (record.h).
#ifndef ORVANE_CLI_LOGFILE_H
#define ORVANE_CLI_LOGFILE_H

#include <string>
#include <vector>

// A field as CSV writes it: quoted when it holds a comma, a quote or a line
// end.
std::string CsvField(const std::string& text);

// One line's fields; false when its quotes do not close (a torn line).
bool SplitCsv(const std::string& line, std::vector<std::string>* fields);

#endif
