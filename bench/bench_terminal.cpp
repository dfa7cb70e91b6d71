// WriteTTYBlock on the watcher's 4096-byte blocks of mixed text and line
// feeds.  The platform calls are counting stand-ins, so the figure is the
// writer's own cost; the line it has to keep up with carries at most 11,520
// bytes/s (115200 baud, 8N1).
#include "orvane/orvane.h"
#include "orvane/terminal/ttywrite.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TTYINFO gRecord;
long gInvalidates = 0;

HWND BenchWindow() { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000)); }

// Module chatter: lines of 10 to 120 characters (some longer than a row, so
// the wrap runs too), CR LF endings, an occasional BS and a bare LF.
std::vector<BYTE> MixedBlock(size_t nSize)
{
    std::vector<BYTE> block;
    unsigned seed = 12345;
    while (block.size() < nSize) {
        seed = seed * 1103515245u + 12345u;
        const int nLine = 10 + (int)((seed >> 16) % 111);
        for (int i = 0; i < nLine; ++i)
            block.push_back((BYTE)(' ' + (i * 7 + (int)(seed >> 8)) % 95));
        if ((seed >> 4) % 13 == 0)
            block.push_back(0x08);
        if ((seed >> 6) % 5 == 0)
            block.push_back('\n');
        else {
            block.push_back('\r');
            block.push_back('\n');
        }
    }
    block.resize(nSize);
    return block;
}

void BM_WriteTTYBlock(benchmark::State& state)
{
    std::memset(&gRecord, 0, sizeof gRecord);
    std::memset(gRecord.abScreen, ' ', sizeof gRecord.abScreen);
    gRecord.fAutoWrap = TRUE;
    gRecord.fConnected = TRUE;
    gRecord.wCursorState = 1;
    gRecord.xChar = 8;
    gRecord.yChar = 12;
    const std::vector<BYTE> block = MixedBlock((size_t)state.range(0));

    for (auto _ : state) {
        WriteTTYBlock(BenchWindow(), block.data(), (int)block.size());
        benchmark::DoNotOptimize(gRecord.abScreen);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)block.size());
    state.counters["line_rate_multiple"] = benchmark::Counter(
        (double)state.iterations() * (double)block.size() / 11520.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteTTYBlock)->Arg(4096);

} // namespace

LONG_PTR WINAPI GetWindowLongA(HWND, int nIndex)
{
    return nIndex == 0 ? reinterpret_cast<LONG_PTR>(&gRecord) : 0;
}
BOOL WINAPI InvalidateRect(HWND, const RECT*, BOOL)
{
    ++gInvalidates;
    return TRUE;
}
BOOL WINAPI MessageBeep(UINT) { return TRUE; }
BOOL WINAPI CreateCaret(HWND, HBITMAP, int, int) { return TRUE; }
BOOL WINAPI ShowCaret(HWND) { return TRUE; }
BOOL WINAPI HideCaret(HWND) { return TRUE; }
BOOL WINAPI DestroyCaret(void) { return TRUE; }
BOOL WINAPI SetCaretPos(int, int) { return TRUE; }
BOOL SetupConnection(HWND, int) { return TRUE; }
BOOL WriteCommBlock(HWND, LPBYTE, DWORD) { return TRUE; }

BENCHMARK_MAIN();
