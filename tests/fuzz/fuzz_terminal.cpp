// The screen writer against a reference teletype fed the same bytes, under
// blocks of any size, typed characters, flag changes, resizes and scrolls.
// After every command the screen and the write position equal the
// reference's, and the rectangles marked for repainting cover exactly the
// cells stored: none beyond them, none of them left out.  A scroll of the
// buffer marks the whole area, once per scroll and only then; cells stored
// before a scroll are checked against where they were when marked.  The
// stand-ins of gridcheck keep every rectangle and the caret on the grid.
//
// Input: the first two bytes give the cell size (1..32 each); then a stream
// of commands.  Byte c:
//   c % 4 == 0  write the next (c / 4) * 37 + 1 bytes as one block
//   c % 4 == 1  set fNewLine, fAutoWrap, fLocalEcho, fConnected from bits 2..5
//   c % 4 == 2  a typed character: the next byte
//   c % 4 == 3  a scroll command (c / 4) % 10 on either bar, or a resize
// Run longer by hand:  scripts/harden
#include "orvane/orvane.h"
#include "orvane/terminal/geometry.h"
#include "orvane/terminal/ttywrite.h"
#include "tests/support/gridcheck.h"

#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kCells = SCREEN_ROWS * SCREEN_COLUMNS;

void Check(bool fOk, const char* lpszWhat)
{
    if (!fOk) {
        std::fprintf(stderr, "fuzz_terminal: %s\n", lpszWhat);
        std::abort();
    }
}

// The teletype as documented: BEL beeps, BS moves left (not past column 0),
// LF moves down or, on the last row, scrolls the buffer up a row with a blank
// row below; CR goes to column 0, and with fNewLine feeds a line too; every
// other byte is stored at the write position, which then moves right, or at
// the last column stays (or, with fAutoWrap, takes a CR and an LF).  It
// notes the cells each write stored, a new list after each scroll.
struct REFTTY
{
    BYTE abScreen[kCells];
    int nRow = 0, nColumn = 0;
    std::vector<std::vector<int>> stored;

    void LineFeed()
    {
        if (nRow < SCREEN_ROWS - 1) {
            ++nRow;
            return;
        }
        std::memmove(abScreen, abScreen + SCREEN_COLUMNS, kCells - SCREEN_COLUMNS);
        std::memset(abScreen + kCells - SCREEN_COLUMNS, ' ', SCREEN_COLUMNS);
        stored.emplace_back();
    }

    void Put(BYTE b, const TTYINFO& tty)
    {
        if (b == 0x07)
            return;
        if (b == 0x08) {
            nColumn -= nColumn > 0;
        } else if (b == 0x0A) {
            LineFeed();
        } else if (b == 0x0D) {
            nColumn = 0;
            if (tty.fNewLine)
                LineFeed();
        } else {
            abScreen[nRow * SCREEN_COLUMNS + nColumn] = b;
            stored.back().push_back(nRow * SCREEN_COLUMNS + nColumn);
            if (nColumn < SCREEN_COLUMNS - 1) {
                ++nColumn;
            } else if (tty.fAutoWrap) {
                Put(0x0D, tty);
                Put(0x0A, tty);
            }
        }
    }
};

REFTTY gRef;

// A marked rectangle, in cells at the offsets of the moment; fWhole for NULL.
struct MARK
{
    bool fWhole;
    int nTop, nBottom, nLeft, nRight;
};
std::vector<MARK> gMarks;

void Marked(const RECT* lpRect)
{
    const TTYINFO& tty = gridcheck::Record();
    if (lpRect == nullptr) {
        gMarks.push_back(MARK{true, 0, 0, 0, 0});
        return;
    }
    // gridcheck has checked that the top left corner is a cell's.
    const long left = lpRect->left + tty.xOffset, top = lpRect->top + tty.yOffset;
    const long right = lpRect->right + tty.xOffset, bottom = lpRect->bottom + tty.yOffset;
    Check(right > left && bottom > top, "an empty rectangle marked");
    gMarks.push_back(MARK{false, (int)(top / tty.yChar), (int)((bottom + tty.yChar - 1) / tty.yChar - 1),
                          (int)(left / tty.xChar), (int)((right + tty.xChar - 1) / tty.xChar - 1)});
}

// The marks of one write against the cells the reference stored.
void CheckMarks()
{
    size_t nEpoch = 0;
    std::bitset<kCells> stored, marked;
    const auto load = [&stored, &marked](size_t n) {
        stored.reset();
        marked.reset();
        for (int nCell : gRef.stored[n])
            stored.set(nCell);
    };
    load(0);
    for (const MARK& m : gMarks) {
        if (m.fWhole) {
            Check(++nEpoch < gRef.stored.size(), "the whole area marked without a scroll");
            load(nEpoch);
            continue;
        }
        Check(m.nBottom < SCREEN_ROWS && m.nRight < SCREEN_COLUMNS, "a rectangle beyond the grid");
        for (int r = m.nTop; r <= m.nBottom; r++)
            for (int c = m.nLeft; c <= m.nRight; c++) {
                Check(stored.test(r * SCREEN_COLUMNS + c), "a rectangle beyond the cells stored");
                marked.set(r * SCREEN_COLUMNS + c);
            }
    }
    Check(nEpoch + 1 == gRef.stored.size(), "a scroll of the buffer without the whole area marked");
    // Cells stored before the last scroll are repainted with the whole area.
    Check((stored & ~marked).none(), "a stored cell left unmarked");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    gridcheck::Reset(1 + data[0] % 32, 1 + data[1] % 32);
    gridcheck::gpfnInvalidated = Marked;
    TTYINFO& tty = gridcheck::Record();
    const HWND hWnd = gridcheck::Window();
    gRef = REFTTY();
    std::memset(gRef.abScreen, ' ', kCells);

    size_t i = 2;
    while (i < size) {
        const uint8_t c = data[i++];
        gMarks.clear();
        gRef.stored.assign(1, {});
        switch (c % 4) {
        case 0: {
            size_t n = (size_t)(c / 4) * 37 + 1;    // 1 .. 2332 bytes
            if (n > size - i)
                n = size - i;
            // Exactly the block's bytes, so that a read past it is caught.
            std::vector<BYTE> block(data + i, data + i + n);
            WriteTTYBlock(hWnd, block.empty() ? nullptr : block.data(), (int)n);
            for (BYTE b : block)
                gRef.Put(b, tty);
            i += n;
            break;
        }
        case 1:
            tty.fNewLine = (c >> 2) & 1;
            tty.fAutoWrap = (c >> 3) & 1;
            tty.fLocalEcho = (c >> 4) & 1;
            tty.fConnected = (c >> 5) & 1;
            if (c & 0x40)
                SetTTYFocus(hWnd);
            if (c & 0x80)
                KillTTYFocus(hWnd);
            break;
        case 2:
            if (i < size) {
                ProcessTTYCharacter(hWnd, data[i]);
                if (tty.fConnected && tty.fLocalEcho)
                    gRef.Put(data[i], tty);
                i++;
            }
            break;
        default: {
            const int nCmd = (c / 4) % 10;
            const WORD wPos = (WORD)(i < size ? data[i] * 13 : 0);
            int dy, dx, nAmount;
            if (nCmd == 9)
                SizeTTYGeometry(&tty, wPos % 700, (wPos * 7) % 1300, &dy, &dx);
            else
                ScrollTTYGeometry(&tty, (c & 0x80) != 0, (WORD)nCmd, wPos, &nAmount);
            Check(tty.yOffset >= 0 && tty.yOffset <= tty.yScroll && tty.xOffset >= 0 && tty.xOffset <= tty.xScroll,
                  "an offset beyond its scroll range");
            break;
        }
        }
        CheckMarks();
        Check(std::memcmp(tty.abScreen, gRef.abScreen, kCells) == 0, "the screen differs from the reference's");
        Check(tty.nRow == gRef.nRow && tty.nColumn == gRef.nColumn, "the write position differs from the reference's");
        gridcheck::CheckCursor(tty);
        MoveTTYCursor(hWnd);
    }
    return 0;
}
