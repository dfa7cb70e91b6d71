// The unit log (--log): its CSV columns, writing a field and reading a line
// back.  Columns are only ever added at the end, so every older layout is a
// prefix of this one; `report` and the check for a repeated unit id read
// them all.
#ifndef ORVANE_CLI_LOGFILE_H
#define ORVANE_CLI_LOGFILE_H

#include <string>
#include <vector>

enum LogColumn
{
    kColStart, kColPort, kColModel, kColImage, kColSize, kColSha256, kColDuration, kColBytesPerS, kColResult,
    kColReason,                         // the layout before ports by identity ends here (10 columns)
    kColAttempt, kColReasonCode,        // then these two (12)
    kColUnitId, kColOperator, kColBench, kColToolVersion, kColImageLabel, kColAdapter, kColBootLine,
    kColFlags,                          // the current layout (20)
    kLogColumns
};

// The column names, in order.
extern const char* const kLogColumnNames[kLogColumns];

// The number of columns of each layout written so far, oldest first.
extern const size_t kLogLayouts[3];

// The header line of the current layout (with its line feed).
std::string LogHeader();

// A field as CSV writes it: quoted when it holds a comma, a quote or a line
// end.
std::string CsvField(const std::string& text);

// One line's fields; false when its quotes do not close (a torn line).
bool SplitCsv(const std::string& line, std::vector<std::string>* fields);

#endif
