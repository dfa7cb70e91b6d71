#include "orvane/terminal/geometry.h"
#include "orvane/terminal/ttywrite.h"

#include <algorithm>
#include <mutex>

namespace {

constexpr int kLastRow = SCREEN_ROWS - 1;
constexpr int kLastColumn = SCREEN_COLUMNS - 1;

// The cells of one axis that meet the pixel span [nFrom, nTo) of the client
// area, with the division truncating toward zero.
void CellSpan(int nFrom, int nTo, int nOffset, int nCell, int nLast, int* pnFirst, int* pnLastOut)
{
    *pnFirst = std::clamp((nFrom + nOffset) / nCell, 0, nLast);
    *pnLastOut = std::min((nTo + nOffset - 1) / nCell, nLast);
}

// The largest offset of one axis: the part of the grid the client area cannot show.
int ScrollLimit(int nCells, int nCell, int nClient)
{
    return std::max(0, nCells * nCell - nClient);
}

} // namespace

RECT TTYCellRect(const TTYINFO* npTTYInfo, int nRow, int nColumn)
{
    RECT rc;
    rc.left = nColumn * npTTYInfo->xChar - npTTYInfo->xOffset;
    rc.top = nRow * npTTYInfo->yChar - npTTYInfo->yOffset;
    rc.right = rc.left + npTTYInfo->xChar;
    rc.bottom = rc.top + npTTYInfo->yChar;
    return rc;
}

TTYPAINTRANGE TTYPaintRange(const TTYINFO* npTTYInfo, const RECT& rcPaint)
{
    TTYPAINTRANGE range{0, -1, 0, -1, TRUE};
    if (npTTYInfo->xChar <= 0 || npTTYInfo->yChar <= 0)
        return range;
    CellSpan(rcPaint.top, rcPaint.bottom, npTTYInfo->yOffset, npTTYInfo->yChar, kLastRow, &range.nFirstRow,
             &range.nLastRow);
    CellSpan(rcPaint.left, rcPaint.right, npTTYInfo->xOffset, npTTYInfo->xChar, kLastColumn,
             &range.nFirstColumn, &range.nLastColumn);
    // An empty update rectangle can end before it starts; never hand a
    // negative count to the text output.
    range.fEmpty = range.nLastRow < range.nFirstRow || range.nLastColumn < range.nFirstColumn;
    return range;
}

void SizeTTYGeometry(NPTTYINFO npTTYInfo, int nVertSize, int nHorzSize, int* pnVertAmount, int* pnHorzAmount)
{
    // The writer reads the offsets for its invalidation rectangles.
    std::lock_guard<std::mutex> hold(gScreenLock);
    TTYINFO& tty = *npTTYInfo;

    tty.ySize = nVertSize;
    tty.yScroll = ScrollLimit(SCREEN_ROWS, tty.yChar, tty.ySize);
    *pnVertAmount = std::min(tty.yScroll, tty.yOffset) - tty.yOffset;
    tty.yOffset += *pnVertAmount;

    tty.xSize = nHorzSize;
    tty.xScroll = ScrollLimit(SCREEN_COLUMNS, tty.xChar, tty.xSize);
    *pnHorzAmount = std::min(tty.xScroll, tty.xOffset) - tty.xOffset;
    tty.xOffset += *pnHorzAmount;
}

BOOL ScrollTTYGeometry(NPTTYINFO npTTYInfo, BOOL fVertical, WORD wScrollCmd, WORD wScrollPos, int* pnAmount)
{
    TTYINFO& tty = *npTTYInfo;
    int& nOffset = fVertical ? tty.yOffset : tty.xOffset;
    const int nScroll = fVertical ? tty.yScroll : tty.xScroll;
    const int nLine = fVertical ? tty.yChar : tty.xChar;
    const int nPage = fVertical ? tty.ySize : tty.xSize;

    int nAmount;
    switch (wScrollCmd) {
    case SB_LINEUP:        nAmount = -nLine; break;
    case SB_LINEDOWN:      nAmount = nLine; break;
    case SB_PAGEUP:        nAmount = -nPage; break;
    case SB_PAGEDOWN:      nAmount = nPage; break;
    case SB_THUMBPOSITION: nAmount = (int)wScrollPos - nOffset; break;
    case SB_TOP:           nAmount = -nOffset; break;
    case SB_BOTTOM:        nAmount = nScroll - nOffset; break;
    default:               return FALSE;   // thumb tracking, end of scroll, unknown
    }

    if (nOffset + nAmount > nScroll)
        nAmount = nScroll - nOffset;
    if (nOffset + nAmount < 0)
        nAmount = -nOffset;

    std::lock_guard<std::mutex> hold(gScreenLock);
    nOffset += nAmount;
    *pnAmount = nAmount;
    return TRUE;
}
