// Whole downloads: each model to its success, a second one from the
// remembered name, one after Disconnect and Connect, one at 57600 after the
// Settings dialog, and a module that stops reading the line
// for a while mid-image.  The simulator takes the line as a UART does, so
// the port's writes end by their time-out now and then: the image must still
// arrive whole and in order.
#include "../lib/driver.h"

#include <algorithm>
#include <cstdlib>

namespace {

// The build's 200 KiB sample image, as the program names it.
std::string SampleImage()
{
    const char* path = std::getenv("ORVANE_SAMPLE");
    if (!CHECK(path && *path, "ORVANE_SAMPLE names no sample image"))
        return "";
    std::string windows = std::string("Z:") + path;
    for (char& c : windows)
        if (c == '/')
            c = '\\';
    return windows;
}

// The terminal's lines with text, the last n of them.
std::vector<std::string> LastLines(size_t n)
{
    std::vector<std::string> lines;
    for (const std::string& row : Screen())
        if (!row.empty())
            lines.push_back(row);
    lines.erase(lines.begin(), lines.end() - std::min(n, lines.size()));
    return lines;
}

// One model: besides success, one progress step per chunk of the model's
// range, "flash" for all but the MRQ-710F, and "r" at the end for the
// MRQ-520W alone.  The terminal shows the replies from the one after the
// wake-up on, never the wake-up's own.  With screenshots (the sample image,
// slow replies) the bar is seen drawn further chunk by chunk while the
// image is still going out.
void DownloadModel(const char* model, int progressMax, std::vector<std::string> shown, const char* snaps = nullptr)
{
    DownloadRun run;
    run.model = model;
    run.image = snaps ? SampleImage() : MakeImage(std::string("image-") + model + ".bin", 20 * 1024 + 5, 3);
    if (snaps) {
        run.snaps = snaps;
        run.sim = "byte-delay-ms=25";   // steps that last long enough to be seen
        run.dwLimit = 120000;
    }
    HWND hDlg = BeginDownload(run);
    if (snaps && hDlg) {
        // BeginDownload returns a third of the way through the image.
        auto past = [](double share) {
            return [=](const Json& r) { return r["image"]["bytes"].num() >= share * r["image"]["expected_bytes"].num(); };
        };
        HWND hBar = GetDlgItem(hDlg, 8);
        const int third = BarDrawn(hBar);
        const bool fGoing = !past(0.67)(WaitReport(past(0.5)));
        const int half = BarDrawn(hBar);
        CHECK(fGoing && 0 < third && third < half, "while the image went out the bar was drawn %d pixels at a third, "
              "%d at a half%s", third, half, fGoing ? "" : " (too late)");
    }
    DownloadOutcome out = FinishDownload(hDlg, run);
    ExpectSuccess(out);
    const int chunks = ((int)out.report["image"]["expected_bytes"].num() + 1023) / 1024;
    CHECK(out.progress == chunks && out.progressMax == progressMax, "the bar stood at %d of %d, want %d of %d",
          out.progress, out.progressMax, chunks, progressMax);
    const bool f710 = std::string(model) == "710F", f520 = std::string(model) == "520W";
    CHECK(LastCommand(out.report, "flash").isNull() == f710, "\"flash\" %s sent to the %s",
          f710 ? "was" : "was not", model);
    CHECK(LastCommand(out.report, "reset").isNull() != f520, "\"r\" %s sent at the end for the %s",
          f520 ? "was not" : "was", model);
    shown.push_back("prog 200");
    shown.push_back("101");
    const std::vector<std::string> screen = Screen(), last = LastLines(shown.size());
    CHECK(last == shown, "the terminal ends with [%s], want [%s]", Join(last).c_str(), Join(shown).c_str());
    for (const std::string& row : screen)
        CHECK(row.find("boot") == std::string::npos, "the terminal shows the wake-up reply: \"%s\"", row.c_str());
}

void Download520W() { DownloadModel("520W", 256, { "flash ready 100" }, "download"); }
void Download41() { DownloadModel("41", 56, { "AVR flash ready 100" }); }
void Download710F() { DownloadModel("710F", 256, {}); }

// The next download starts over with the name the dialog remembers.
void SecondFromRememberedName()
{
    DownloadRun run;
    run.expect = MakeImage("image-710F.bin", 20 * 1024 + 5, 3);   // what download-710f sent
    run.model = "41";
    ExpectSuccess(Download(run));
}

// Disconnect and Connect between downloads, by their accelerators: the
// menu follows, a key typed while disconnected goes nowhere (the one typed
// after Connect is the only one the module gets, and the terminal shows no
// notice of a failed write), and the next download works.
void AfterReconnect()
{
    Chord(gMain, { VK_SHIFT, VK_NEXT });
    std::string menu = ActionMenu("disconnected-menu");
    CHECK(menu == "normal grey grey normal", "after Disconnect the menu is [%s], not the disconnected one", menu.c_str());
    Sim("clear");
    Type(gMain, "z");
    Chord(gMain, { VK_SHIFT, VK_PRIOR });
    Type(gMain, "y");
    const Json typed = LastCommand(WaitReport([](const Json& r) { return !LastCommand(r, "data").isNull(); }), "data");
    CHECK(typed["text"].str() == "y", "the module got \"%s\" for z typed disconnected and y connected",
          typed["text"].str().c_str());
    for (const std::string& row : Screen())
        CHECK(row.find("<CE-") == std::string::npos && row.find('z') == std::string::npos,
              "the terminal shows \"%s\" after the key typed while disconnected", row.c_str());
    menu = ActionMenu("reconnected-menu");
    CHECK(menu == "grey normal normal normal", "after Connect the menu is [%s], not the connected one", menu.c_str());
    DownloadRun run;
    run.image = MakeImage("image-reconnect.bin", 5000, 4);
    ExpectSuccess(Download(run));
}

// The installation rate set to 57600 in Settings: an image larger than the
// pty holds (64 KiB) goes out at it, whole.
void At57600()
{
    auto setRate = [](int idButton) {
        Chord(gMain, { VK_MENU, 'S' });
        HWND hDlg = WaitDialog("Serial Port Setting");
        if (!CHECK(hDlg != NULL, "no Settings dialog"))
            return;
        Click(GetDlgItem(hDlg, idButton));
        Click(GetDlgItem(hDlg, IDOK));
        CHECK(WaitGone(hDlg), "Ok did not close Settings");
    };
    setRate(558);   // 57600
    DownloadRun run;
    run.image = MakeImage("image-57600.bin", 80 * 1024 + 7, 5);
    run.sim = "install-rate=57600";
    DownloadOutcome out = Download(run);
    ExpectSuccess(out);
    CHECK(out.report["install_rate"].num() == 57600 && LastCommand(out.report, "p60")["line"]["baud"].num() == 57600,
          "\"p 60\" went out at %d", (int)LastCommand(out.report, "p60")["line"]["baud"].num());
    setRate(559);   // back to 115200
}

// The module stops reading the line for a while in the middle of the image:
// for 1.5 s (longer than a chunk's write time-out) the image still arrives
// whole; for longer than the program waits on a port that takes nothing,
// the download fails at once, the bar short of full and the line back at
// the normal rate, as Cancel leaves it.
void Stalls()
{
    // Larger than what the pty holds (64 KiB), or the program's writes
    // would all end before the module stopped reading.
    const int chunks = 100;
    DownloadRun run;
    run.image = MakeImage("image-stall.bin", chunks * 1024, 12);
    run.sim = "stall-offset=12000 stall-ms=1500";
    DownloadOutcome out = Download(run);
    ExpectSuccess(out);
    CHECK(!out.report["stall_ms"].isNull(), "the module never stalled");

    run.sim = "stall-offset=12000 stall-ms=9000";
    HWND hDlg = BeginDownload(run);
    WaitReport([](const Json& r) { return !r["stall_ms"].isNull(); });
    Snap("stall-sending");
    run.snaps = "stall";   // what the technician then sees: the box over a bar short of full
    out = FinishDownload(hDlg, run);
    ExpectFailure(out);
    CHECK(out.progress >= 0 && out.progress < chunks, "the bar stood at %d of %d chunks after the port stopped",
          out.progress, chunks);
    CHECK(out.report["image"]["bytes"].num() < chunks * 1024, "the module got the whole image");
    CHECK(out.report["line"]["baud"].num() == 19200, "the line is at %d after the failure, want 19200",
          (int)out.report["line"]["baud"].num());
}

} // namespace

const Suite kDownloads("downloads", {
    { "download-520w", Download520W },
    { "download-41", Download41 },
    { "download-710f", Download710F },
    { "second-from-remembered-name", SecondFromRememberedName },
    { "after-reconnect", AfterReconnect },
    { "at-57600", At57600 },
    { "stalls", Stalls },
});
