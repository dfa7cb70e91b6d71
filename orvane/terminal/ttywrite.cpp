// The screen as a small teletype: BEL beeps, BS moves left, LF moves down
// (scrolling the buffer at the last row), CR returns to column 0; every other
// byte is stored in its cell and the cell is marked for repainting.  The
// watcher thread and the window thread both write here, one at a time.
#include "orvane/terminal/ttywrite.h"
#include "orvane/terminal/geometry.h"

#include <cstring>

std::mutex gScreenLock;

namespace {

constexpr int kLastRow = SCREEN_ROWS - 1;
constexpr int kLastColumn = SCREEN_COLUMNS - 1;
constexpr BYTE kBell = 0x07;
constexpr BYTE kBackspace = 0x08;
constexpr BYTE kLineFeed = 0x0A;
constexpr BYTE kReturn = 0x0D;

// The caret operations below run with gScreenLock held.

void MoveCursorLocked(NPTTYINFO npTTYInfo)
{
    if (IsConnected(npTTYInfo) && (npTTYInfo->wCursorState & 1)) {
        const RECT rc = TTYCellRect(npTTYInfo, npTTYInfo->nRow, npTTYInfo->nColumn);
        SetCaretPos(rc.left, rc.top);
    }
}

void LineFeed(HWND hWnd, NPTTYINFO npTTYInfo)
{
    if (npTTYInfo->nRow == kLastRow) {
        // No scroll-back: the top row is lost and the new bottom row is blank.
        BYTE* abScreen = npTTYInfo->abScreen;
        std::memmove(abScreen, abScreen + SCREEN_COLUMNS, kLastRow * SCREEN_COLUMNS);
        std::memset(abScreen + kLastRow * SCREEN_COLUMNS, ' ', SCREEN_COLUMNS);
        InvalidateRect(hWnd, NULL, FALSE);
    } else {
        // The row only ever takes values inside the grid.
        npTTYInfo->nRow = npTTYInfo->nRow + 1;
    }
    MoveCursorLocked(npTTYInfo);
}

// Cells stored one after another on a row are marked for repainting
// together: one rectangle per run rather than one per byte, since each mark
// can be a round trip to the window system.
struct DIRTYRUN
{
    int nRow = -1, nFirst = 0, nLast = 0;
};

void MarkRun(HWND hWnd, NPTTYINFO npTTYInfo, DIRTYRUN& run)
{
    if (run.nRow < 0)
        return;
    RECT rc = TTYCellRect(npTTYInfo, run.nRow, run.nFirst);
    rc.right = TTYCellRect(npTTYInfo, run.nRow, run.nLast).right;
    InvalidateRect(hWnd, &rc, FALSE);
    run.nRow = -1;
}

void WriteBlockLocked(HWND hWnd, NPTTYINFO npTTYInfo, const BYTE* lpBlock, int nLength)
{
    static const BYTE abNewLine[] = {kReturn, kLineFeed};
    DIRTYRUN run;

    for (int i = 0; i < nLength; ++i) {
        const BYTE b = lpBlock[i];
        if (b == kBell || b == kBackspace || b == kLineFeed || b == kReturn)
            MarkRun(hWnd, npTTYInfo, run);
        switch (b) {
        case kBell:
            MessageBeep(0);
            break;
        case kBackspace:
            if (npTTYInfo->nColumn > 0)
                --npTTYInfo->nColumn;
            MoveCursorLocked(npTTYInfo);
            break;
        case kLineFeed:
            LineFeed(hWnd, npTTYInfo);
            break;
        case kReturn:
            npTTYInfo->nColumn = 0;
            MoveCursorLocked(npTTYInfo);
            if (npTTYInfo->fNewLine)
                LineFeed(hWnd, npTTYInfo);
            break;
        default: {
            const int nRow = npTTYInfo->nRow, nColumn = npTTYInfo->nColumn;
            npTTYInfo->abScreen[nRow * SCREEN_COLUMNS + nColumn] = b;
            if (run.nRow == nRow && run.nLast + 1 == nColumn) {
                run.nLast = nColumn;
            } else {
                MarkRun(hWnd, npTTYInfo, run);
                run = DIRTYRUN{nRow, nColumn, nColumn};
            }
            // The caret stays put; it catches up at the next paint, BS, CR or LF.
            if (nColumn < kLastColumn) {
                npTTYInfo->nColumn = nColumn + 1;
            } else if (npTTYInfo->fAutoWrap) {
                MarkRun(hWnd, npTTYInfo, run);
                WriteBlockLocked(hWnd, npTTYInfo, abNewLine, 2);   // stores nothing: no deeper
            }
            break;
        }
        }
    }
    MarkRun(hWnd, npTTYInfo, run);
}

} // namespace

BOOL WriteTTYBlock(HWND hWnd, const BYTE* lpBlock, int nLength)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;
    if (nLength <= 0)
        return TRUE;
    if (lpBlock == NULL)
        return FALSE;

    std::lock_guard<std::mutex> hold(gScreenLock);
    WriteBlockLocked(hWnd, npTTYInfo, lpBlock, nLength);
    return TRUE;
}

void CopyTTYScreen(const TTYINFO* npTTYInfo, BYTE abCopy[SCREEN_ROWS * SCREEN_COLUMNS])
{
    std::lock_guard<std::mutex> hold(gScreenLock);
    std::memcpy(abCopy, npTTYInfo->abScreen, sizeof(npTTYInfo->abScreen));
}

BOOL ProcessTTYCharacter(HWND hWnd, BYTE bOut)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || !IsConnected(npTTYInfo))
        return FALSE;

    // Sent as typed first (a CR goes out alone whatever fNewLine says), then
    // echoed; the echo follows even when the write failed.
    WriteCommBlock(hWnd, &bOut, 1);
    if (npTTYInfo->fLocalEcho)
        WriteTTYBlock(hWnd, &bOut, 1);
    return TRUE;
}

namespace {

// Runs fn on the window's record with the screen lock held; FALSE when the
// window has no record.
template <class Fn>
BOOL WithScreen(HWND hWnd, Fn fn)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;
    std::lock_guard<std::mutex> hold(gScreenLock);
    fn(npTTYInfo);
    return TRUE;
}

} // namespace

BOOL MoveTTYCursor(HWND hWnd)
{
    return WithScreen(hWnd, MoveCursorLocked);
}

BOOL SetTTYFocus(HWND hWnd)
{
    return WithScreen(hWnd, [hWnd](NPTTYINFO npTTYInfo) {
        if (IsConnected(npTTYInfo) && npTTYInfo->wCursorState != 1) {
            CreateCaret(hWnd, NULL, npTTYInfo->xChar, npTTYInfo->yChar);
            ShowCaret(hWnd);
            npTTYInfo->wCursorState = 1;
        }
        MoveCursorLocked(npTTYInfo);
    });
}

BOOL KillTTYFocus(HWND hWnd)
{
    return WithScreen(hWnd, [hWnd](NPTTYINFO npTTYInfo) {
        if (IsConnected(npTTYInfo) && npTTYInfo->wCursorState != 0) {
            HideCaret(hWnd);
            DestroyCaret();
            npTTYInfo->wCursorState = 0;
        }
    });
}
