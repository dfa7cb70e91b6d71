// Placeholders until the terminal display lands: the window shows nothing.
#include "orvane/terminal/screen.h"
#include "orvane/terminal/ttywrite.h"

BOOL WriteTTYBlock(HWND, const BYTE*, int) { return TRUE; }
BOOL ProcessTTYCharacter(HWND, BYTE) { return FALSE; }
BOOL MoveTTYCursor(HWND) { return TRUE; }
BOOL SetTTYFocus(HWND) { return TRUE; }
BOOL KillTTYFocus(HWND) { return TRUE; }

BOOL PaintTTY(HWND hWnd)
{
    PAINTSTRUCT ps;
    BeginPaint(hWnd, &ps);
    EndPaint(hWnd, &ps);
    return TRUE;
}
BOOL SizeTTY(HWND, WORD, WORD) { return TRUE; }
BOOL ScrollTTYVert(HWND, WORD, WORD) { return FALSE; }
BOOL ScrollTTYHorz(HWND, WORD, WORD) { return FALSE; }
