// Any bytes written in blocks of any size, mixed with typed characters, flag
// changes, resizes and scroll commands, must keep every store inside the
// screen, the cursor on the grid and every cell rectangle and caret position
// where the cursor is (the stand-ins abort otherwise).
//
// Input: the first two bytes give the cell size (1..32 each); then a stream
// of commands.  Byte c:
//   c % 4 == 0  write the next (c / 4) * 37 + 1 bytes as one block
//   c % 4 == 1  set fNewLine, fAutoWrap, fLocalEcho, fConnected from bits 2..5
//   c % 4 == 2  a typed character: the next byte
//   c % 4 == 3  a scroll command (c / 4) % 10 on either bar, or a resize
// Run longer by hand:  fuzz_terminal -max_total_time=600 corpus/
#include "orvane/orvane.h"
#include "orvane/terminal/geometry.h"
#include "orvane/terminal/ttywrite.h"
#include "tests/support/gridcheck.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    gridcheck::Reset(1 + data[0] % 32, 1 + data[1] % 32);
    TTYINFO& tty = gridcheck::Record();
    const HWND hWnd = gridcheck::Window();

    size_t i = 2;
    while (i < size) {
        const uint8_t c = data[i++];
        switch (c % 4) {
        case 0: {
            size_t n = (size_t)(c / 4) * 37 + 1;    // 1 .. 2332 bytes
            if (n > size - i)
                n = size - i;
            // Exactly the block's bytes, so that a read past it is caught.
            std::vector<BYTE> block(data + i, data + i + n);
            WriteTTYBlock(hWnd, block.empty() ? nullptr : block.data(), (int)n);
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
            if (i < size)
                ProcessTTYCharacter(hWnd, data[i++]);
            break;
        default: {
            const int nCmd = (c / 4) % 10;
            const WORD wPos = (WORD)(i < size ? data[i] * 13 : 0);
            int dy, dx, nAmount;
            if (nCmd == 9)
                SizeTTYGeometry(&tty, wPos % 700, (wPos * 7) % 1300, &dy, &dx);
            else
                ScrollTTYGeometry(&tty, (c & 0x80) != 0, (WORD)nCmd, wPos, &nAmount);
            if (tty.yOffset < 0 || tty.yOffset > tty.yScroll || tty.xOffset < 0 || tty.xOffset > tty.xScroll)
                std::abort();
            break;
        }
        }
        gridcheck::CheckCursor(tty);
        MoveTTYCursor(hWnd);
    }
    return 0;
}
