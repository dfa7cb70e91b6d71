// Measurements for scripts/bench, as "BENCH name value" lines: the timer's
// real tick in phase 0, the handshake latencies, and a 256 KiB download
// against the wire time.  Every time is the simulator's, taken where the
// module sees the bytes.
#include "tests/e2e/lib/driver.h"

#include <algorithm>
#include <vector>

namespace {

const double kRate = 115200 / 10.0;   // bytes per second on the wire

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// The end of the first reply holding this code.
double ReplyEnd(const Json& report, const char* code)
{
    const Json& replies = report["replies"];
    for (size_t i = 0; i < replies.size(); i++)
        if (replies[i]["text"].str().find(code) != std::string::npos)
            return replies[i]["end_ms"].num();
    return -1;
}

// While the module stays off, phase 0 sends one CR per tick.
void TickRate()
{
    Sim("reset");
    Sim("set power-on-crs=none");
    HWND hDlg = OpenInstall();
    REQUIRE(hDlg != NULL, "no Install dialog");
    Sleep(3000);
    Json cr = LastCommand(SimReport(), "cr");
    CancelInstall(hDlg);
    const double span = cr["end_ms"].num() - cr["ms"].num();
    REQUIRE(cr["count"].num() > 10 && span > 0, "too few CRs to measure");
    Log("BENCH tick_ms %.2f", span / (cr["count"].num() - 1));
}

void Handshakes()
{
    std::vector<double> toFlash, toImage;
    const std::string image = MakeImage("bench-small.bin", 8 * 1024, 12);
    for (int i = 0; i < 7; i++) {
        DownloadRun run;
        run.image = image;
        DownloadOutcome out = Download(run);
        ExpectSuccess(out);
        toFlash.push_back(LastCommand(out.report, "flash")["ms"].num() - ReplyEnd(out.report, "000"));
        toImage.push_back(out.report["image"]["first_ms"].num() - ReplyEnd(out.report, "200"));
    }
    Log("BENCH flash_after_000_ms %.2f", Median(toFlash));
    Log("BENCH image_after_200_ms %.2f", Median(toImage));
}

void Download256K()
{
    DownloadRun run;
    run.image = MakeImage("bench-256k.bin", 256 * 1024, 13);
    run.dwLimit = 600000;
    DownloadOutcome out = Download(run);
    ExpectSuccess(out);
    const double wire = 256 * 1024 / kRate * 1000;
    const Json& image = out.report["image"];
    const double transfer = image["last_ms"].num() + 1000 / kRate - ReplyEnd(out.report, "200");
    const double whole = out.boxMs - out.report["replies"][0]["ms"].num();
    Log("BENCH wire_ms %.1f", wire);
    Log("BENCH transfer_ms %.1f", transfer);
    Log("BENCH whole_ms %.1f", whole);
}

// The program connected to an idle module: scripts/bench reads its CPU time
// between these two lines.
void Idle()
{
    Sim("reset");
    Settle();
    Log("BENCH idle-start");
    Sleep(30000);
    Log("BENCH idle-end");
}

} // namespace

const Suite kBench("bench", {
    { "bench-idle", Idle },
    { "bench-tick", TickRate },
    { "bench-handshakes", Handshakes },
    { "bench-256k", Download256K },
});
