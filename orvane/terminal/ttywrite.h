// Writing bytes into the 80 x 25 screen, typed characters, and the caret.
// Portable: builds into orvane.exe and natively.
#ifndef ORVANE_TERMINAL_TTYWRITE_H
#define ORVANE_TERMINAL_TTYWRITE_H

#include "orvane/orvane.h"

#include <mutex>

// One writer of the screen at a time.  Held for the whole of each
// WriteTTYBlock and caret operation, by PaintTTY while it copies the screen,
// and around every change of the offsets the writer reads.  Never held across
// a call that waits for the window thread.
extern std::mutex gScreenLock;

BOOL WriteTTYBlock(HWND hWnd, const BYTE* lpBlock, int nLength);
// The screen as painting draws it: a copy taken whole under the lock.
void CopyTTYScreen(const TTYINFO* npTTYInfo, BYTE abCopy[SCREEN_ROWS * SCREEN_COLUMNS]);
BOOL ProcessTTYCharacter(HWND hWnd, BYTE bOut);
BOOL MoveTTYCursor(HWND hWnd);
BOOL SetTTYFocus(HWND hWnd);
BOOL KillTTYFocus(HWND hWnd);

#endif
