// The arithmetic of the screen on the window: cell rectangles, the cells an
// update rectangle meets, the scroll limits and the scroll commands.  Portable:
// the Win32 side (screen.cpp) makes the GDI and scroll-bar calls with the
// numbers worked out here.
#ifndef ORVANE_TERMINAL_GEOMETRY_H
#define ORVANE_TERMINAL_GEOMETRY_H

#include "orvane/orvane.h"

// The client rectangle covered by the cell at (nRow, nColumn).
RECT TTYCellRect(const TTYINFO* npTTYInfo, int nRow, int nColumn);

// The rows and columns of the grid that meet an update rectangle.  Empty
// (nothing to draw) when the rectangle is empty or the cell size unknown.
struct TTYPAINTRANGE
{
    int nFirstRow, nLastRow;
    int nFirstColumn, nLastColumn;
    BOOL fEmpty;
};
TTYPAINTRANGE TTYPaintRange(const TTYINFO* npTTYInfo, const RECT& rcPaint);

// A new client size (height, width): sets ySize/xSize and the scroll maxima,
// and pulls each offset back to its new maximum.  *pnVertAmount and
// *pnHorzAmount receive how far each offset moved (never positive).
void SizeTTYGeometry(NPTTYINFO npTTYInfo, int nVertSize, int nHorzSize, int* pnVertAmount, int* pnHorzAmount);

// One scroll-bar command on one axis.  Returns FALSE for a command that is
// ignored (nothing changes); otherwise moves the offset, clamped to
// 0..maximum, and gives the distance moved in *pnAmount.
BOOL ScrollTTYGeometry(NPTTYINFO npTTYInfo, BOOL fVertical, WORD wScrollCmd, WORD wScrollPos, int* pnAmount);

#endif
