// Any byte sequence, cut into blocks of any size and interleaved with parser
// calls at any pace, must leave both buffers in bounds, must not hang, and
// must not stop the parser from recognising the next complete reply.
//
// Input: a stream of commands.  Byte c:
//   c % 4 == 0  append the next (c / 4) bytes as one block (lengths scaled)
//   c % 4 == 1  one parser call (a timer tick)
//   c % 4 == 2  switch gIsActivate between 0 and an open dialog
//   c % 4 == 3  set the phase to (c / 4) % 7
// Run longer by hand:  fuzz_checkdata -max_total_time=600 corpus/
#include "orvane/installer/checkdata.h"
#include "orvane/orvane.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

BOOL SetupConnection(HWND, int) { return TRUE; }

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

void CheckBounds()
{
    Check(received_length >= 0 && received_length <= RECEIVE_CAPACITY);
    Check(check_idx >= 0 && check_idx <= received_length);
    Check(nCnt >= 0 && nCnt <= LINE_CAPACITY);
    Check(abCmd[LINE_CAPACITY] == 0);
}

void Append(const char* text)
{
    AppendReceived(reinterpret_cast<const BYTE*>(text), (int)std::strlen(text));
}

void Drain()
{
    // Every call moves at least one byte while any wait, so this ends.
    while (check_idx < received_length)
        CheckData();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ResetReceiveState();
    gCondition = 0;
    gIsActivate = 0;
    nModel = 1;

    size_t i = 0;
    while (i < size) {
        const uint8_t c = data[i++];
        switch (c % 4) {
        case 0: {
            size_t n = (size_t)(c / 4) * 97 + 1;     // 1 .. 6112 bytes
            if (n > size - i)
                n = size - i;
            // Blocks come from a 4096-byte read; the fuzz input may be longer.
            std::vector<BYTE> block(data + i, data + i + n);
            AppendReceived(block.empty() ? nullptr : block.data(), (int)n);
            i += n;
            break;
        }
        case 1:
            CheckData();
            break;
        case 2:
            gIsActivate = gIsActivate ? 0 : 1 + (c / 4) % 11;
            break;
        default:
            gCondition = (c / 4) % 7;
            break;
        }
        CheckBounds();
    }

    // The module's next verdict is still recognised: finish whatever line is
    // pending, open a dialog in phase 0, and send the wake-up reply.
    gIsActivate = 1;
    Append("\n");
    Drain();
    gCondition = 0;
    gIsActivate = 1;
    Append("monitor 000\r\n");
    Drain();
    CheckBounds();
    Check(gCondition == 1 && gIsActivate == 2);
    return 0;
}
