// Native test support: the few Win32 functions the portable code calls,
// recorded in order.  Recorders record; they never imitate Win32.
#ifndef ORVANE_TESTS_RECORDER_H
#define ORVANE_TESTS_RECORDER_H

#include "orvane/orvane.h"

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
    std::string bytes;    // data handed over, for writes
};

// The calls recorded since the last Reset.
std::vector<Call>& Calls();
// Every call of one name.
std::vector<Call> CallsNamed(const std::string& name);
void Reset();

// What GetWindowLongA(hWnd, 0) answers for a window.
void Attach(HWND hWnd, void* record);
void DetachAll();

// A distinct fake window handle for tests.
HWND FakeWindow(int n = 1);

} // namespace recorder

#endif
