// Writing bytes into the 80 x 25 screen, typed characters, and the caret.
// Portable: builds into orvane.exe and natively.
#ifndef ORVANE_TERMINAL_TTYWRITE_H
#define ORVANE_TERMINAL_TTYWRITE_H

#include "orvane/orvane.h"

BOOL WriteTTYBlock(HWND hWnd, const BYTE* lpBlock, int nLength);
BOOL ProcessTTYCharacter(HWND hWnd, BYTE bOut);
BOOL MoveTTYCursor(HWND hWnd);
BOOL SetTTYFocus(HWND hWnd);
BOOL KillTTYFocus(HWND hWnd);

#endif
