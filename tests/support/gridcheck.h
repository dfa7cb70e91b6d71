// Test support for the sanitizer runs: one record on one window, and Win32
// stand-ins that check every cell rectangle and caret position the screen
// writer hands over lies on the grid (at the offsets of the moment), and
// abort otherwise.  Like the recorder they imitate nothing.
#ifndef ORVANE_TESTS_GRIDCHECK_H
#define ORVANE_TESTS_GRIDCHECK_H

#include "orvane/orvane.h"

namespace gridcheck {

// The window whose GetTTYInfo(hWnd) is Record().
HWND Window();
TTYINFO& Record();

// A fresh record: blank screen, cursor home, the given cell size, auto-wrap.
void Reset(int xChar, int yChar);

// Aborts with a message unless the write position is on the grid.
void CheckCursor(const TTYINFO& tty);

// When set, sees every rectangle the writer marks (NULL: the whole client
// area), after the checks above.
extern void (*gpfnInvalidated)(const RECT* lpRect);

} // namespace gridcheck

#endif
