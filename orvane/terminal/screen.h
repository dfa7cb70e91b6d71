// The terminal screen on the main window: font and cell geometry, painting,
// sizing and scrolling (Win32 side).
#ifndef ORVANE_TERMINAL_SCREEN_H
#define ORVANE_TERMINAL_SCREEN_H

#include "orvane/orvane.h"

BOOL ResetTTYScreen(HWND hWnd, NPTTYINFO npTTYInfo);
BOOL PaintTTY(HWND hWnd);
BOOL SizeTTY(HWND hWnd, WORD wVertSize, WORD wHorzSize);
BOOL ScrollTTYVert(HWND hWnd, WORD wScrollCmd, WORD wScrollPos);
BOOL ScrollTTYHorz(HWND hWnd, WORD wScrollCmd, WORD wScrollPos);

#endif
