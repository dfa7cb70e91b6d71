// One unit: a whole download into the module on this process's port, run by
// the installer core's state machine (InstallInit, InstallTick every 10 ms,
// InstallCommand for Ctrl+C, InstallDestroy) with the console as its dialog.
#ifndef ORVANE_CLI_UNIT_H
#define ORVANE_CLI_UNIT_H

#include "orvane/cli/options.h"
#include "orvane/cli/screen.h"
#include "orvane/orvane.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ImageInfo
{
    std::string path;    // the file sent
    std::string name;    // what the log calls it
    uint64_t size = 0;
    std::string sha256;
};

// Reads the image through the core's image-file functions, for its size and
// SHA-256.  False with a reason when it is missing, unreadable or empty, or
// when its digest is not --sha256's (*reasonCode says which).
bool InspectImage(const std::string& path, const std::string& sha256, ImageInfo* image, std::string* error,
                  std::string* reasonCode);

// The image is larger than the model's progress range (nModel's numbering;
// 0: any model's): the warning, or "".
std::string ImageTooLarge(const ImageInfo& image, int nModelNo);

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

struct UnitContext
{
    const Options* options = nullptr;
    const ImageInfo* image = nullptr;
    Screen* screen = nullptr;
    std::string port;
    int attempt = 1;
    HWND hDlg = NULL;
    int pass = 0, fail = 0;   // shown while a station runs
    // The unit's id: --unit-id's, or read from ids once the module has
    // answered the wake-up (idKnown then).
    class UnitIds* ids = nullptr;
    std::string unitId;
    bool idKnown = false;
    std::vector<std::string> flags;   // the unit's first attempt's, for the others
    // A second Ctrl+C while the image is sent: the unit is reported through
    // this, which does not come back.
    std::function<void(const UnitReport&)> stopNow;
};

UnitReport RunUnit(UnitContext& context);
// The verdict line, and the reason below it when there is one.
void ShowReport(const UnitContext& context, const UnitReport& report);

// A report for a unit that never reached the module (image or port).
UnitReport EarlyFailure(int code, const std::string& reason, const std::string& reasonCode);

// The result event of a unit on a port.
std::string ResultEvent(const UnitReport& report, const std::string& port, const ImageInfo& image);

// The received bytes, as the port's watcher hands them on: the last line,
// and whether the module said 302.
void TapReceived(const unsigned char* lpBlock, int nLength);

// Who and what the unit was: operator, bench, tool version, image label,
// adapter (from the options).
void Stamp(UnitReport* report, const Options& options);

// One CSV line for a unit (logfile.h has the header).
std::string LogLine(const UnitReport& report, const std::string& port, const ImageInfo& image);

// "%.1f" without the locale's say.
std::string Fixed(double value, int decimals);

#endif
