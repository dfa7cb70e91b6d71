// The unit in progress, shared by the loop that ticks the state machine
// (unit.cpp) and the core's front end (frontend.cpp).  One unit at a time
// per process.
#ifndef ORVANE_CLI_UNITSTATE_H
#define ORVANE_CLI_UNITSTATE_H

#include "orvane/cli/events.h"
#include "orvane/cli/outcome.h"
#include "orvane/cli/unit.h"

#include <chrono>
#include <deque>

using Clock = std::chrono::steady_clock;

struct UNIT
{
    UnitContext* context = nullptr;
    std::string startIso;
    Clock::time_point start, stageSince, transferStart, transferEnd;
    Stage stage = kWake;
    bool modelKnown = false;
    bool ended = false;
    std::string message;
    Stop outcome = kRunning;
    bool transferring = false, transferred = false, verdictTimeSet = false;
    int milestone = 0;
    std::deque<std::pair<Clock::time_point, uint64_t>> recent;   // progress over the last seconds
    int interruptBase = 0;
    bool cancelNoticed = false;
    bool wrongModel = false;
    bool goneInImage = false;   // the port went away while the image was written
    Clock::time_point lastProgressEvent;
    int eventMilestone = -1;
    std::string live;
    int told = -1;              // what underWay was last told (stage, id, model)
};
extern UNIT gUnit;

double Since(Clock::time_point t);
// A JSON event of the unit (--json only).
void Event(const std::string& json);
// The fields every event of a unit carries.
JsonObject UnitEvent(const char* name);
// A line that stays: the port, the seconds since the unit started, the text.
void Note(const std::string& text);
// The unit's changing line.
void Live(const std::string& text, bool milestone = false);
// Where the run stands, from phase and step.
void Observe();
// The unit's report as the run stands now.
UnitRecord Finish();
// The record so far to whoever follows the unit (a parent), when there is
// something new to tell.
void TellUnderWay();

#endif
