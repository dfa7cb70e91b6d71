// Measurements for scripts/bench, as "BENCH name value" lines: the timer's
// real tick in phase 0, the handshake latencies, and 256 KiB downloads at
// 115200 and at 57600 against the wire time, the module taking the line as
// a UART does.  Every time is the simulator's, taken where the module sees
// the bytes.
#include "tests/e2e/lib/driver.h"

#include <algorithm>
#include <vector>

namespace {


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
    Json cr = LastCommand(WaitReport([](const Json& r) { return LastCommand(r, "cr")["count"].num() >= 200; }), "cr");
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

// The installation rate, through the Settings dialog (558 57600, 559 115200).
void SetInstallRate(int idButton)
{
    Chord(gMain, { VK_MENU, 'S' });
    HWND hDlg = WaitDialog("Serial Port Setting");
    REQUIRE(hDlg != NULL, "no Settings dialog");
    Click(GetDlgItem(hDlg, idButton));
    Click(GetDlgItem(hDlg, IDOK));
    CHECK(WaitGone(hDlg), "Ok did not close Settings");
}

void Download256K(int nBaud)
{
    if (nBaud != 115200)
        SetInstallRate(558);
    DownloadRun run;
    run.image = MakeImage("bench-256k.bin", 256 * 1024, 13);
    run.sim = "install-rate=" + std::to_string(nBaud);
    run.dwLimit = 600000;
    DownloadOutcome out = Download(run);
    ExpectSuccess(out);
    const double rate = nBaud / 10.0;   // bytes per second on the wire
    const double wire = 256 * 1024 / rate * 1000;
    const Json& image = out.report["image"];
    const double transfer = image["last_ms"].num() + 1000 / rate - ReplyEnd(out.report, "200");
    const double whole = out.boxMs - out.report["replies"][0]["ms"].num();
    Log("BENCH wire_ms_%d %.1f", nBaud, wire);
    Log("BENCH transfer_ms_%d %.1f", nBaud, transfer);
    Log("BENCH whole_ms_%d %.1f", nBaud, whole);
    if (nBaud != 115200)
        SetInstallRate(559);
}

// The program connected to an idle module: scripts/bench reads its CPU time
// between these two lines.
void Idle()
{
    Sim("reset");
    Log("BENCH idle-start");
    Sleep(30000);
    Log("BENCH idle-end");
}

} // namespace

const Suite kBench("bench", {
    { "bench-idle", Idle },
    { "bench-tick", TickRate },
    { "bench-handshakes", Handshakes },
    { "bench-256k", [] { Download256K(115200); } },
    { "bench-256k-57600", [] { Download256K(57600); } },
});
