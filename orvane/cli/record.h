// A unit's record: what it was and how it ended, as the log line and the
// result event give it.
#ifndef ORVANE_CLI_RECORD_H
#define ORVANE_CLI_RECORD_H

#include "orvane/cli/image.h"
#include "orvane/cli/options.h"

#include <string>
#include <vector>

struct UnitReport
{
    int code = kExitInstalled;
    std::string start;           // ISO 8601, UTC
    std::string model;           // empty when the module never said
    double seconds = 0;
    double bytesPerSecond = 0;   // 0: no image was sent
    std::string verdict;         // the dialog's message, if any
    std::string reason;          // empty on success
    std::string reasonCode;      // stable: installed, module_failed, ... (docs/cli.md)
    std::string lastReceived;    // the module's last line, printable
    int attempt = 1;
    bool unit = true;            // false: a station's wait that no module answered
    std::string bootLine;        // the first line the boot monitor printed
    std::string device;          // the device the port was when it was opened

    // Who and what (Stamp), for the log and the result event.
    std::string unitId, operatorName, bench, toolVersion, imageLabel, adapter;
    std::vector<std::string> flags;   // unit_id_empty, unit_id_repeated

    const char* Result() const;  // PASS, FAIL or CANCELLED
};

// A report for a unit that never reached the module (image or port).
UnitReport EarlyFailure(int code, const std::string& reason, const std::string& reasonCode);

// Who and what the unit was: operator, bench, tool version, image label,
// adapter (from the options).
void Stamp(UnitReport* report, const Options& options);

// The result event of a unit on a port.
std::string ResultEvent(const UnitReport& report, const std::string& port, const ImageInfo& image);

// One CSV line for a unit (logfile.h has the header).
std::string LogLine(const UnitReport& report, const std::string& port, const ImageInfo& image);

// Now, as ISO 8601 in UTC.
std::string NowIso();

// "%.1f" without the locale's say.
std::string Fixed(double value, int decimals);

#endif
