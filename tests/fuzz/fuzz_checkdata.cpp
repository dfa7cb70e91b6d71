// The reply parser, three ways per input.
//   - Free: blocks of any size, parser calls, dialog switches and phases,
//     floods included.  Both buffers stay in bounds, and afterwards the next
//     wake-up reply is still recognised.
//   - Split and whole: the appended bytes as one stream, kept within the
//     buffers (8192 bytes, lines up to 4096), fed in the input's blocks with
//     its parser calls in between, and fed as one block.  Both give the
//     sequence of phase, step and model changes and of restores that
//     replytable.h gives line by line: a restore before its line is matched,
//     made on the window thread only (CheckData, never AppendReceived), with
//     nothing behind its line matched meanwhile and the window thread asked
//     whenever such a line waits.  Then a waiting restore is dropped by the
//     Download reset.
//
// Input: a stream of commands.  Byte c:
//   c % 4 == 0  append the next n bytes as one block: n = c / 4 + 1 while
//               c / 4 < 32 (1..32 bytes), else (c / 4 - 31) * 190 (up to 6080)
//   c % 4 == 1  one parser call (a tick, an image chunk)
//   c % 4 == 2  free: switch gIsActivate between 0 and an open dialog;
//               split: the window thread parses, if it was asked to
//   c % 4 == 3  free: set the phase to (c / 4) % 7; the first of them is the
//               phase the split and whole runs start in
// Run longer by hand:  scripts/harden
#include "orvane/installer/checkdata.h"
#include "orvane/orvane.h"
#include "tests/fuzz/replytable.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using replytable::STATE;

namespace {

bool gInAppend = false;   // inside AppendReceived: the watcher's turn
bool gAsked = false;      // the window thread was asked to parse
std::string gEvents;      // a state per change, "R " per restore
STATE gLast;

void Check(bool fOk, const char* lpszWhat)
{
    if (!fOk) {
        std::fprintf(stderr, "fuzz_checkdata: %s\n", lpszWhat);
        std::abort();
    }
}

void CheckBounds()
{
    Check(received_length >= 0 && received_length <= RECEIVE_CAPACITY, "received_length out of bounds");
    Check(check_idx >= 0 && check_idx <= received_length, "check_idx out of bounds");
    Check(nCnt >= 0 && nCnt <= LINE_CAPACITY && abCmd[LINE_CAPACITY] == 0, "abCmd out of bounds");
}

void Observe()
{
    const STATE s{gCondition, gIsActivate, nModel};
    if (!(s == gLast))
        gEvents += s.Text();
    gLast = s;
}

void Append(const void* lpBlock, size_t nLength)
{
    gInAppend = true;
    AppendReceived(static_cast<const BYTE*>(lpBlock), (int)nLength);
    gInAppend = false;
    Observe();
    if (gIsActivate != 0 && nCnt > 0 && abCmd[nCnt - 1] == '\n')
        Check(gAsked, "a line waits for its restore and the window thread was not asked");
}

void Parse()
{
    CheckData();
    Observe();
}

void Drain()
{
    // Every call moves at least one byte, or the line that waits, so this ends.
    while (check_idx < received_length || gAsked) {
        gAsked = false;
        Parse();
    }
}

void Start(int nPhase)
{
    ResetReceiveState();
    gCondition = nPhase;
    gIsActivate = 1;
    nModel = 1;
    gAsked = false;
    gEvents.clear();
    gLast = STATE{nPhase, 1, 1};
}

// The input's commands: fn(kind, block, length, byte).
template <class FN>
void Walk(const uint8_t* data, size_t size, FN fn)
{
    for (size_t i = 0; i < size;) {
        const uint8_t c = data[i++];
        if (c % 4 != 0) {
            fn(c % 4, nullptr, 0, c);
            continue;
        }
        const size_t n = std::min<size_t>(c / 4 < 32 ? c / 4 + 1 : (c / 4 - 31) * 190, size - i);
        fn(0, data + i, n, c);
        i += n;
    }
}

// What the table makes of the stream, line by line, from a phase.
std::string Expected(const std::string& stream, int nPhase)
{
    std::string events;
    STATE s{nPhase, 1, 1};
    for (size_t nStart = 0, nEnd; (nEnd = stream.find('\n', nStart)) != std::string::npos; nStart = nEnd + 1) {
        const std::string line = stream.substr(nStart, nEnd + 1 - nStart);
        if (replytable::AsksRestore(line))
            events += "R ";
        const STATE next = replytable::Apply(s, line);
        if (!(next == s))
            events += next.Text();
        s = next;
    }
    return events;
}

void CheckEvents(const std::string& expected, const char* lpszRun)
{
    if (gEvents != expected) {
        std::fprintf(stderr, "fuzz_checkdata: %s run: %s\n  expected: %s\n", lpszRun, gEvents.c_str(),
                     expected.c_str());
        Check(false, "the parser and the reply table disagree");
    }
}

} // namespace

// The normal line settings: only from the window thread, and before the line
// that asked for them is matched (a state change already made shows here).
BOOL SetupConnection(HWND hWnd, int nMode)
{
    Check(!gInAppend, "the watcher changed the line's settings");
    Check(hWnd == hTTYWnd && nMode == 1, "not the normal settings of the main window");
    Observe();
    gEvents += "R ";
    return TRUE;
}

BOOL ClearCommInput(HWND) { return TRUE; }

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    hTTYWnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000));
    gpfnParseOnWindowThread = [] { gAsked = true; };
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Free.
    Start(0);
    gIsActivate = 0;
    Walk(data, size, [](int nKind, const uint8_t* lpBlock, size_t n, uint8_t c) {
        if (nKind == 0 && n > 0) {
            // Exactly the block's bytes, so that a read past it is caught.
            std::vector<BYTE> block(lpBlock, lpBlock + n);
            Append(block.data(), n);
        } else if (nKind == 1) {
            Parse();
        } else if (nKind == 2) {
            gIsActivate = gIsActivate ? 0 : 1 + (c / 4) % 11;
        } else if (nKind == 3) {
            gCondition = (c / 4) % 7;
        }
        CheckBounds();
    });
    // The module's next verdict is still recognised: finish whatever line is
    // pending, open a dialog in phase 0, and send the wake-up reply.
    gIsActivate = 1;
    Append("\n", 1);
    Drain();
    gCondition = 0;
    Append("monitor 000\r\n", 13);
    Drain();
    CheckBounds();
    Check(gCondition == 1 && gIsActivate == 2, "the wake-up reply after a flood was not recognised");

    // The stream for split and whole, within the buffers.
    std::string stream;
    int nPhase = -1;
    Walk(data, size, [&](int nKind, const uint8_t* lpBlock, size_t n, uint8_t c) {
        if (nKind == 0)
            stream.append(reinterpret_cast<const char*>(lpBlock), n);
        else if (nKind == 3 && nPhase < 0)
            nPhase = (c / 4) % 7;
    });
    nPhase = std::max(nPhase, 0);
    stream.resize(std::min<size_t>(stream.size(), RECEIVE_CAPACITY));
    for (size_t i = 0, nStart = 0; i < stream.size(); i++) {
        if (i - nStart + 1 > LINE_CAPACITY)
            stream.resize(i);
        else if (stream[i] == '\n')
            nStart = i + 1;
    }
    const std::string expected = Expected(stream, nPhase);

    // Split: the input's blocks and parser calls.
    Start(nPhase);
    size_t nFed = 0;
    Walk(data, size, [&](int nKind, const uint8_t* lpBlock, size_t n, uint8_t) {
        n = std::min(n, stream.size() - nFed);
        if (nKind == 0 && n > 0) {
            Append(lpBlock, n);
            nFed += n;
        } else if (nKind == 1 || (nKind == 2 && gAsked)) {
            gAsked = false;
            Parse();
        }
        CheckBounds();
    });
    Drain();
    CheckEvents(expected, "split");

    // Whole: one block.
    Start(nPhase);
    if (!stream.empty())
        Append(stream.data(), stream.size());
    Drain();
    CheckEvents(expected, "whole");

    // A line that waits for its restore when Download resets the buffers:
    // dropped, restore and all.
    Append("\n", 1);
    Drain();
    const std::string before = gEvents;
    Append("error\r302\r\n", 11);
    Check(gEvents == before, "the watcher matched a line that waits for its restore");
    ResetReceiveState();
    gAsked = false;
    Parse();
    Check(gEvents == before, "a restore of the run before landed after the Download reset");
    return 0;
}
