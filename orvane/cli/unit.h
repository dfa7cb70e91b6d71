// One unit: a whole download into the module on this process's port, run by
// the installer core's state machine (InstallInit, InstallTick every 10 ms,
// InstallCommand for Ctrl+C, InstallDestroy) with the console as its dialog.
#ifndef ORVANE_CLI_UNIT_H
#define ORVANE_CLI_UNIT_H

#include "orvane/cli/image.h"
#include "orvane/cli/options.h"
#include "orvane/cli/record.h"
#include "orvane/cli/screen.h"
#include "orvane/orvane.h"

#include <functional>
#include <string>
#include <vector>

struct UnitContext
{
    const Options* options = nullptr;
    const ImageInfo* image = nullptr;
    Screen* screen = nullptr;
    std::string port;
    int attempt = 1;
    int interruptBase = 0;    // Ctrl+C counted before the unit began
    HWND hDlg = NULL;
    int pass = 0, fail = 0;   // shown while a station runs
    // The unit's id: --unit-id's, or read from ids once the module has
    // answered the wake-up (idKnown then).
    class UnitIds* ids = nullptr;
    std::string unitId;
    bool idKnown = false;
    std::vector<std::string> flags;   // the unit's first attempt's, for the others
    // The unit's record as it stands, once the unit is one (a station's once
    // a module has answered) and whenever it learns something.
    std::function<void(const UnitRecord&)> underWay;
    // A second Ctrl+C while the image is sent: the unit is reported through
    // this, which does not come back.
    std::function<void(const UnitRecord&)> stopNow;
};

UnitRecord RunUnit(UnitContext& context);
// The verdict line, and the reason below it when there is one.
void ShowReport(const UnitContext& context, const UnitRecord& report);

#endif
