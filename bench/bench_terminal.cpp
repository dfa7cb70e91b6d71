// WriteTTYBlock on the watcher's 4096-byte blocks of mixed text and line
// feeds.  The platform calls are the grid-checking stand-ins of the tests
// (cheap, and a fault aborts the run), so the figure is the writer's own cost
// plus those checks; the line it has to keep up with carries at most 11,520
// bytes/s (115200 baud, 8N1).
#include "orvane/orvane.h"
#include "orvane/terminal/ttywrite.h"
#include "tests/support/gridcheck.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

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
    gridcheck::Reset(8, 12);
    TTYINFO& tty = gridcheck::Record();
    tty.fConnected = TRUE;
    tty.wCursorState = 1;
    const std::vector<BYTE> block = MixedBlock((size_t)state.range(0));

    for (auto _ : state) {
        WriteTTYBlock(gridcheck::Window(), block.data(), (int)block.size());
        benchmark::DoNotOptimize(tty.abScreen);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)block.size());
    state.counters["line_rate_multiple"] = benchmark::Counter(
        (double)state.iterations() * (double)block.size() / 11520.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteTTYBlock)->Arg(4096);

} // namespace

BENCHMARK_MAIN();
