// The screen on the main window (Win32 side): the terminal font and cell,
// painting, and the scroll bars.  The numbers come from geometry.cpp.
#include "orvane/terminal/screen.h"
#include "orvane/terminal/geometry.h"
#include "orvane/terminal/ttywrite.h"

#include <array>
#include <cstring>

BOOL ResetTTYScreen(HWND hWnd, NPTTYINFO npTTYInfo)
{
    if (npTTYInfo == NULL)
        return FALSE;

    if (npTTYInfo->hTTYFont)
        DeleteObject(npTTYInfo->hTTYFont);
    npTTYInfo->hTTYFont = CreateFontIndirectA(&npTTYInfo->lfTTYFont);

    HDC hDC = GetDC(hWnd);
    HGDIOBJ hOldFont = SelectObject(hDC, npTTYInfo->hTTYFont);
    TEXTMETRICA tm{};   // all zero should the metrics be unavailable
    GetTextMetricsA(hDC, &tm);
    SelectObject(hDC, hOldFont);
    ReleaseDC(hWnd, hDC);

    {
        std::lock_guard<std::mutex> hold(gScreenLock);
        npTTYInfo->xChar = tm.tmAveCharWidth;
        npTTYInfo->yChar = tm.tmHeight + tm.tmExternalLeading;
    }

    // Lay the window out again with its outer size; the system's own WM_SIZE
    // follows with the client size.
    RECT rc;
    GetWindowRect(hWnd, &rc);
    const WORD width = (WORD)(rc.right - rc.left);
    const WORD height = (WORD)(rc.bottom - rc.top);
    SendMessageA(hWnd, WM_SIZE, 0, MAKELPARAM(width, height));
    return TRUE;
}

BOOL PaintTTY(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;

    PAINTSTRUCT ps;
    HDC hDC = BeginPaint(hWnd, &ps);

    // Draw from a copy: the watcher may be writing meanwhile.  Each of its
    // stores invalidates the cell afterwards, so a byte missed here is drawn
    // by the next paint.
    std::array<BYTE, sizeof npTTYInfo->abScreen> abCopy;
    CopyTTYScreen(npTTYInfo, abCopy.data());

    HGDIOBJ hOldFont = SelectObject(hDC, npTTYInfo->hTTYFont);
    SetTextColor(hDC, npTTYInfo->rgbFGColor);
    SetBkColor(hDC, GetSysColor(COLOR_WINDOW));

    const TTYPAINTRANGE range = TTYPaintRange(npTTYInfo, ps.rcPaint);
    if (!range.fEmpty) {
        const int nCount = range.nLastColumn - range.nFirstColumn + 1;
        for (int nRow = range.nFirstRow; nRow <= range.nLastRow; ++nRow) {
            RECT rc = TTYCellRect(npTTYInfo, nRow, range.nFirstColumn);
            rc.right = rc.left + nCount * npTTYInfo->xChar;
            SetBkMode(hDC, OPAQUE);
            ExtTextOutA(hDC, rc.left, rc.top, ETO_OPAQUE | ETO_CLIPPED, &rc,
                        (LPCSTR)&abCopy[nRow * SCREEN_COLUMNS + range.nFirstColumn], (UINT)nCount, NULL);
        }
    }

    SelectObject(hDC, hOldFont);
    EndPaint(hWnd, &ps);
    MoveTTYCursor(hWnd);
    return TRUE;
}

BOOL SizeTTY(HWND hWnd, WORD wVertSize, WORD wHorzSize)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;

    int nVertAmount, nHorzAmount;
    SizeTTYGeometry(npTTYInfo, wVertSize, wHorzSize, &nVertAmount, &nHorzAmount);

    // Showing or hiding a bar changes the client area, and the system sends
    // WM_SIZE again from inside SetScrollRange.  That nested call leaves the
    // record right for the final size, so the bars are set from the record as
    // it stands after each call, never from the numbers this call began with.
    ScrollWindow(hWnd, 0, -nVertAmount, NULL, NULL);
    SetScrollPos(hWnd, SB_VERT, npTTYInfo->yOffset, FALSE);
    SetScrollRange(hWnd, SB_VERT, 0, npTTYInfo->yScroll, TRUE);

    ScrollWindow(hWnd, -nHorzAmount, 0, NULL, NULL);
    SetScrollPos(hWnd, SB_HORZ, npTTYInfo->xOffset, FALSE);
    SetScrollRange(hWnd, SB_HORZ, 0, npTTYInfo->xScroll, TRUE);

    InvalidateRect(hWnd, NULL, TRUE);
    return TRUE;
}

namespace {

BOOL ScrollTTY(HWND hWnd, BOOL fVertical, WORD wScrollCmd, WORD wScrollPos)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;

    int nAmount;
    if (!ScrollTTYGeometry(npTTYInfo, fVertical, wScrollCmd, wScrollPos, &nAmount))
        return FALSE;

    // The caret travels with the pixels; the repaint of the uncovered strip
    // places it again from the new offsets.
    if (fVertical) {
        ScrollWindow(hWnd, 0, -nAmount, NULL, NULL);
        SetScrollPos(hWnd, SB_VERT, npTTYInfo->yOffset, TRUE);
    } else {
        ScrollWindow(hWnd, -nAmount, 0, NULL, NULL);
        SetScrollPos(hWnd, SB_HORZ, npTTYInfo->xOffset, TRUE);
    }
    return TRUE;
}

} // namespace

BOOL ScrollTTYVert(HWND hWnd, WORD wScrollCmd, WORD wScrollPos)
{
    return ScrollTTY(hWnd, TRUE, wScrollCmd, wScrollPos);
}

BOOL ScrollTTYHorz(HWND hWnd, WORD wScrollCmd, WORD wScrollPos)
{
    return ScrollTTY(hWnd, FALSE, wScrollCmd, wScrollPos);
}
