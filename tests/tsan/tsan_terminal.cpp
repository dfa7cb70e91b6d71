// The watcher thread writes received blocks while the window thread echoes
// typed characters, writes notices, moves the caret, scrolls and takes the
// copy of the screen that painting draws from.  Built with -fsanitize=thread: any unprotected access is
// a report and a non-zero exit; the Win32 stand-ins abort when a cell
// rectangle or the caret leaves the grid.
#include "orvane/orvane.h"
#include "orvane/terminal/geometry.h"
#include "orvane/terminal/ttywrite.h"
#include "tests/support/gridcheck.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Lines of every length up to a little over a row, so that wraps, CR LF and
// the buffer scroll at the last row all happen inside one block.
std::string ReceivedBlock(unsigned nSeed)
{
    std::string block;
    while (block.size() < 600) {
        const unsigned nLine = (nSeed = nSeed * 75 + 74) % 97;
        block.append(nLine, (char)('a' + nSeed % 26));
        block += (nSeed % 3) ? "\r\n" : "\n\x08";
    }
    return block;
}

void Write(const std::string& bytes)
{
    WriteTTYBlock(gridcheck::Window(), reinterpret_cast<const BYTE*>(bytes.data()), (int)bytes.size());
}

} // namespace

int main()
{
    gridcheck::Reset(8, 12);
    TTYINFO& tty = gridcheck::Record();
    tty.fConnected = TRUE;
    tty.fLocalEcho = TRUE;
    int dy, dx;
    SizeTTYGeometry(&tty, 100, 300, &dy, &dx);

    constexpr int kBlocks = 3000;
    std::atomic<int> running{2};

    std::thread watcher([&] {
        for (int i = 0; i < kBlocks; ++i)
            Write(ReceivedBlock((unsigned)i));
        --running;
    });
    std::thread notices([&] {
        for (int i = 0; i < kBlocks; ++i) {
            Write("<CE-" + std::to_string(i % 32) + ">");
            ProcessTTYCharacter(gridcheck::Window(), (BYTE)(i % 4 ? 'k' : '\r'));
        }
        --running;
    });

    // The window thread.
    const HWND hWnd = gridcheck::Window();
    const WORD kCommands[] = {SB_LINEDOWN, SB_PAGEDOWN, SB_LINEUP, SB_BOTTOM, SB_THUMBPOSITION, SB_TOP};
    long nPaints = 0;
    BYTE abCopy[sizeof tty.abScreen];
    while (running > 0) {
        if (nPaints % 7 == 0)
            SetTTYFocus(hWnd);
        if (nPaints % 11 == 0)
            KillTTYFocus(hWnd);
        int nAmount;
        ScrollTTYGeometry(&tty, nPaints % 2, kCommands[nPaints % 6], (WORD)(nPaints % 150), &nAmount);
        if (nPaints % 50 == 0)
            SizeTTYGeometry(&tty, 60 + nPaints % 400, 100 + nPaints % 700, &dy, &dx);
        CopyTTYScreen(&tty, abCopy);   // what PaintTTY draws from
        {
            std::lock_guard<std::mutex> hold(gScreenLock);
            gridcheck::CheckCursor(tty);
        }
        MoveTTYCursor(hWnd);
        ++nPaints;
    }
    watcher.join();
    notices.join();

    gridcheck::CheckCursor(tty);
    std::printf("tsan_terminal: %d received blocks, %d notices and keys, %ld window-thread rounds: ok\n",
                kBlocks, kBlocks, nPaints);
    return 0;
}
