#include "tests/support/gridcheck.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace gridcheck {
namespace {

TTYINFO gRecord;

void Fail(const char* what, long a, long b)
{
    std::fprintf(stderr, "gridcheck: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

} // namespace

void (*gpfnInvalidated)(const RECT*) = nullptr;

HWND Window() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5000)); }
TTYINFO& Record() { return gRecord; }

void Reset(int xChar, int yChar)
{
    std::memset(&gRecord, 0, sizeof gRecord);
    std::memset(gRecord.abScreen, ' ', sizeof gRecord.abScreen);
    gRecord.fAutoWrap = TRUE;
    gRecord.xChar = xChar;
    gRecord.yChar = yChar;
    gRecord.hTermWnd = Window();
}

void CheckCursor(const TTYINFO& tty)
{
    if (tty.nRow < 0 || tty.nRow >= SCREEN_ROWS || tty.nColumn < 0 || tty.nColumn >= SCREEN_COLUMNS)
        Fail("cursor off the grid", tty.nRow, tty.nColumn);
}

} // namespace gridcheck

using gridcheck::Fail;

NPTTYINFO GetTTYInfo(HWND hWnd)
{
    return hWnd != NULL && hWnd == gridcheck::Window() ? &gridcheck::gRecord : NULL;
}

// Called by the writer with the screen lock held: the offsets are those the
// rectangle was computed with.
BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase)
{
    const TTYINFO& tty = gridcheck::gRecord;
    if (hWnd != gridcheck::Window() || bErase)
        Fail("unexpected invalidation", (long)bErase, 0);
    if (lpRect) {
        const long left = lpRect->left + tty.xOffset, top = lpRect->top + tty.yOffset;
        if (left < 0 || left + tty.xChar > SCREEN_COLUMNS * tty.xChar || left % tty.xChar != 0)
            Fail("cell rectangle off the grid (x)", left, lpRect->right - lpRect->left);
        if (top < 0 || top + tty.yChar > SCREEN_ROWS * tty.yChar || top % tty.yChar != 0)
            Fail("cell rectangle off the grid (y)", top, lpRect->bottom - lpRect->top);
    }
    gridcheck::CheckCursor(tty);
    if (gridcheck::gpfnInvalidated)
        gridcheck::gpfnInvalidated(lpRect);
    return TRUE;
}

BOOL WINAPI SetCaretPos(int X, int Y)
{
    const TTYINFO& tty = gridcheck::gRecord;
    if (X + tty.xOffset != tty.nColumn * tty.xChar || Y + tty.yOffset != tty.nRow * tty.yChar)
        Fail("caret away from the write position", X, Y);
    gridcheck::CheckCursor(tty);
    return TRUE;
}

BOOL WINAPI MessageBeep(UINT) { return TRUE; }
BOOL WINAPI CreateCaret(HWND, HBITMAP, int, int) { return TRUE; }
BOOL WINAPI ShowCaret(HWND) { return TRUE; }
BOOL WINAPI HideCaret(HWND) { return TRUE; }
BOOL WINAPI DestroyCaret(void) { return TRUE; }
BOOL SetupConnection(HWND, int) { return TRUE; }
BOOL ClearCommInput(HWND) { return TRUE; }
BOOL WriteCommBlock(HWND, LPBYTE, DWORD) { return FALSE; }
