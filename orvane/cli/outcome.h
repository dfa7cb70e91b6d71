// How a unit's run ended: its exit code, the stable reason code and the
// reason a technician reads, from where the run stopped and what it left
// behind.  No port, no clock, no globals: what the run saw goes in, the
// outcome comes out.
#ifndef ORVANE_CLI_OUTCOME_H
#define ORVANE_CLI_OUTCOME_H

#include "orvane/cli/record.h"

#include <cstdint>
#include <string>

// The dialog's message box texts.
const char kSuccess[] = "Install Success!";
const char kFail[] = "Install Fail!";
const char kNoFile[] = "Creat File Fail";

// Where a run can stop, in order.
enum Stage { kWake, kFlash, kPrepare, kImage, kVerdict };

// What ended a run from outside the dialog (Ctrl+C, the wake-up limit, the
// image's open failing, the port going away, another model than expected).
enum Stop { kRunning, kCancel, kNoAnswer, kImageProblem, kPortGone, kWrongModel };

struct RunEnd
{
    Stage stage = kWake;
    Stop stop = kRunning;
    std::string message;          // the dialog's message box text, if any
    bool transferred = false;     // the image transfer has returned
    bool stalled = false;         // the port stopped taking the image (fImageStalled)
    bool goneInImage = false;     // the port went away while the image was written
    bool saw302 = false;          // the module sent a line with 302
    long earlyVerdictAt = -1;     // the bytes the port had taken when a 101 came too early
    uint64_t taken = 0, size = 0; // of the image
    double wakeTimeout = 0;       // --wake-timeout, seconds
    double verdictSeconds = 0;    // the verdict's waiting limit, seconds
    int model = 0, expectModel = 0;   // nModel's numbering
    std::string lastReceived;     // the module's last line, printable
    std::string cancelledBy = "Ctrl+C";
};

struct RunResult
{
    int code = 0;
    std::string reasonCode;   // stable: installed, module_failed, ... (docs/cli.md)
    std::string reason;       // empty on success
};

RunResult Judge(const RunEnd& end);

// The record of a unit that never reached the module (image or port).
UnitRecord EarlyFailure(int code, const std::string& reason, const std::string& reasonCode);

// A unit whose log line could not be written: a failure of its own when
// it had passed (exit 9, log_unwritten); a failed one keeps its code.
void LogUnwritten(UnitRecord* record, const std::string& error);

// What a technician should look at for a code, before the image or from it
// on; "" when nothing is to be checked.
std::string Advice(int code, bool fromImage);

#endif
