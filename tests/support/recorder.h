// Native test support: the few Win32 functions the portable code calls,
// recorded in order.  Recorders record; they never imitate Win32.
#ifndef ORVANE_TESTS_RECORDER_H
#define ORVANE_TESTS_RECORDER_H

#include "orvane/orvane.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace recorder {

struct Call
{
    std::string name;     // "InvalidateRect", "SetupConnection", ...
    HWND hWnd = nullptr;
    long a = 0, b = 0, c = 0, d = 0;   // arguments, by position
    bool hasRect = false;
    RECT rect{};
    std::string bytes;    // data handed over, for writes; texts
    std::string caption;  // message boxes
};

// The calls recorded since the last Reset.
std::vector<Call>& Calls();
// Every call of one name.
std::vector<Call> CallsNamed(const std::string& name);
void Reset();
void ClearCalls();   // the calls only

// What GetTTYInfo(hWnd) answers for a window.
void Attach(HWND hWnd, void* record);
void DetachAll();

// A distinct fake window handle for tests.
HWND FakeWindow(int n = 1);

// The Install dialog's answers: what its file-name field holds (set also by
// InstallSetFileName), and what the file chooser returns (nullopt: the user
// cancels it).
extern std::string gFileField;
extern std::optional<std::string> gChooserAnswer;
// Runs after every recorded WriteCommBlock (a module answering, say), and
// while a message box is up (the dialog's timer ticks on in its loop).
extern std::function<void(const Call&)> gOnWrite;
extern std::function<void(const Call&)> gOnMessage;
// Runs while the window thread waits in a pause or in the file chooser (the
// module may answer meanwhile; the dialog's timer ticks on in the chooser).
extern std::function<void(const Call&)> gOnWait;
// How much of a WriteCommBytes the port takes, and whether the write fails
// (unset: all of it, no failure).  InstallClock answers gClock.
struct Take
{
    DWORD dwTaken;
    BOOL fOk;
};
extern std::function<Take(DWORD dwRequested)> gPortTakes;
extern DWORD gClock;

// The calls since the last Reset as one line, for comparing whole runs:
// "w:flash" a write (of WriteCommBytes: what the port took), "s:text" a status, "m:text/caption" a message box,
// "range:n", "step", "pause:ms", "end", "setup:mode", "clear" (output dropped),
// "drain" (waited until the output has gone),
// "choose", "field:name",
// "en:id=0|1", "timer:0|1".  Repaints and InvalidateRect are left out.
std::string Transcript();

// The steps each phase of the download can show (phase 5 keeps whatever
// step Cancel found it in).
inline bool PhaseAndStepBelong(int nPhase, int nStep)
{
    switch (nPhase) {
    case 0: return nStep == 1;
    case 1: return nStep == 2 || nStep == 3;
    case 2: return nStep == 4 || nStep == 5;
    case 3: return nStep >= 6 && nStep <= 8;
    case 5: return nStep >= 1 && nStep <= 11;
    }
    return false;
}

} // namespace recorder

#endif
