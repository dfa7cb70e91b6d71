// A firmware download as a technician does it: Shift+F1, the image's name
// typed into the Install dialog, the module switched on, the verdict box
// read and answered.  The simulator plays the module and tells what it got.
#include "driver.h"

const char kWakeText[] = "Turn the power on, after removing the LAN card during power-off.";

// Control ids of the Install dialog.
enum { IDC_STATUS = 6, IDC_FILENAME = 5, IDC_PROGRESS = 8 };

std::string MakeImage(const std::string& name, size_t size, unsigned seed, bool fLetters)
{
    std::string dir = gArtefacts + "\\..\\images";
    CreateDirectoryA(dir.c_str(), NULL);
    std::string path = dir + "\\" + name;
    std::string bytes(size, '\0');
    unsigned x = seed * 2654435761u | 1;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = fLetters ? (char)('A' + x % 26) : (char)x;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, bytes.data(), (DWORD)size, &written, NULL) && written == size;
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    CHECK(ok, "could not write the image %s", path.c_str());
    return path;
}

std::string UnixPath(const std::string& windowsPath)
{
    std::string p = windowsPath.size() > 2 && windowsPath[1] == ':' ? windowsPath.substr(2) : windowsPath;
    for (char& c : p)
        if (c == '\\')
            c = '/';
    return p;
}

HWND OpenInstall()
{
    Chord(gMain, { VK_SHIFT, VK_F1 });
    return WaitDialog("Install");
}

static void SnapStep(const DownloadRun& run, const char* step)
{
    if (run.snaps)
        Snap((std::string(run.snaps) + "-" + step).c_str());
}

// The module stays off until the name is in the field, as a technician
// switches it on once the dialog asks for it.
HWND BeginDownload(const DownloadRun& run)
{
    const std::string expect = run.expect.empty() ? run.image : run.expect;
    Sim("reset");
    Sim("set model=" + run.model + " expect=" + (expect.empty() ? "none" : UnixPath(expect)) +
        " power-on-crs=none" + (run.sim.empty() ? "" : " " + run.sim));
    HWND hDlg = OpenInstall();
    if (!CHECK(hDlg != NULL, "Shift+F1 opened no Install dialog"))
        return NULL;
    CHECK(TextOf(hDlg, IDC_STATUS) == kWakeText, "the Install dialog says \"%s\"", TextOf(hDlg, IDC_STATUS).c_str());
    SnapStep(run, "start");
    if (!run.image.empty()) {
        Click(GetDlgItem(hDlg, IDC_FILENAME));
        Chord(hDlg, { VK_HOME });
        Chord(hDlg, { VK_SHIFT, VK_END });
        Type(hDlg, run.image);
        CHECK(WaitUntil([&]() { return TextOf(hDlg, IDC_FILENAME) == run.image; }),
              "the file name field holds \"%s\"", TextOf(hDlg, IDC_FILENAME).c_str());
    }
    Sim("power on");
    if (run.snaps) {
        // Screenshots need the steps to last: the simulator then answers
        // slowly, byte by byte.
        if (run.model != "710F" && WaitUntil([&]() { return TextOf(hDlg, IDC_STATUS) == "Initializing!"; }, 20000))
            SnapStep(run, "initializing");
        if (WaitUntil([&]() { return TextOf(hDlg, IDC_STATUS) == "Preparing for Programming!"; }, 20000))
            SnapStep(run, "preparing");
        auto third = [](const Json& r) { return r["image"]["bytes"].num() * 3 > r["image"]["expected_bytes"].num(); };
        if (third(WaitReport(third, 60000)))
            SnapStep(run, "transfer");
    }
    return hDlg;
}

DownloadOutcome FinishDownload(HWND hDlg, const DownloadRun& run)
{
    DownloadOutcome out;
    out.fOpened = hDlg != NULL;
    if (!hDlg)
        return out;
    if (HWND hBox = WaitAnyBox(hDlg, run.dwLimit)) {
        out.boxMs = SimReport()["now_ms"].num();
        out.box = BoxText(hBox);
        out.caption = TextOf(hBox);
        Progress bar = ReadProgress(GetDlgItem(hDlg, IDC_PROGRESS));
        out.progress = bar.pos;
        out.progressMax = bar.high;
        SnapStep(run, "box");
        Answer(hBox, "OK");
    } else {
        // What it was waiting for, for whoever reads the failure.
        const Json report = SimReport();
        std::string got;
        for (size_t i = 0; i < report["commands"].size(); i++)
            got += " " + report["commands"][i]["kind"].str() + "x" +
                   std::to_string((int)report["commands"][i]["count"].num());
        Problem("no box: the dialog says \"%s\"; the module (%s) got%s", TextOf(hDlg, IDC_STATUS).c_str(),
                report["state"].str().c_str(), got.empty() ? " nothing" : got.c_str());
    }
    CHECK(WaitGone(hDlg, 10000), "the Install dialog did not close");
    out.report = run.fFence ? Fence() : SimReport();
    return out;
}

DownloadOutcome Download(const DownloadRun& run)
{
    return FinishDownload(BeginDownload(run), run);
}

// The key Fence types: a byte no reply table or command holds.
const char kFence = '~';

static bool IsFence(const Json& command)
{
    const std::string& text = command["text"].str();
    return command["kind"].str() == "data" && !text.empty() && text.back() == kFence &&
           command["count"].num() == text.size();
}

Json Fence()
{
    const double sent = SimReport()["now_ms"].num();
    Type(gMain, std::string(1, kFence));
    auto arrived = [&](const Json& r) {
        const Json& last = r["commands"][r["commands"].size() - 1];
        return IsFence(last) && last["end_ms"].num() > sent;
    };
    Json report = WaitReport(arrived);
    if (!arrived(report)) {
        const Json& last = report["commands"][report["commands"].size() - 1];
        Problem("the key typed behind the program's last bytes did not reach the module on its own: the module "
                "last got %s x%d \"%s\" in state %s", last["kind"].str().c_str(), (int)last["count"].num(),
                last["text"].str().substr(0, 16).c_str(), report["state"].str().c_str());
    }
    return report;
}

bool AllAtRate(const Json& report, long baud, std::string* pWhy)
{
    const Json& commands = report["commands"];
    for (size_t i = 0; i < commands.size(); i++) {
        long seen = (long)commands[i]["line"]["baud"].num();
        if (seen != baud && !IsFence(commands[i])) {
            *pWhy = commands[i]["kind"].str() + " at " + std::to_string(seen);
            return false;
        }
    }
    return true;
}

void ExpectBox(const DownloadOutcome& out, const char* box, const char* caption)
{
    CHECK(out.box == box, "the download ended with \"%s\", want \"%s\"", out.box.c_str(), box);
    CHECK(out.caption == caption, "the box is captioned \"%s\", want \"%s\"", out.caption.c_str(), caption);
}

void ExpectSuccess(const DownloadOutcome& out)
{
    ExpectBox(out, "Install Success!", kAppTitle);
    const Json& image = out.report["image"];
    CHECK(out.report["verdict"].str() == "101", "the module's verdict was \"%s\"", out.report["verdict"].str().c_str());
    CHECK(image["equal"].truth() && image["sha256"].str() == image["expected_sha256"].str(),
          "the module got %d bytes with SHA-256 %s, want %d bytes with %s", (int)image["bytes"].num(),
          image["sha256"].str().c_str(), (int)image["expected_bytes"].num(), image["expected_sha256"].str().c_str());
    std::string why;
    CHECK(AllAtRate(out.report, (long)out.report["install_rate"].num(), &why), "the module got %s", why.c_str());
}

void ExpectFailure(const DownloadOutcome& out)
{
    ExpectBox(out, "Install Fail!", "Merrow Systems. Co. LTD.");
}

void CancelInstall(HWND hDlg)
{
    Click(ChildOf(hDlg, "Button", "Cancel"));
    CHECK(WaitGone(hDlg), "Cancel did not close the Install dialog");
    // The key typed next reaches the main window (no box came up) and goes
    // out at the rate the line is back at.
    const Json fence = LastCommand(Fence(), "data");
    CHECK(fence["line"]["baud"].num() == 19200, "the line is at %d after Cancel, want 19200",
          (int)fence["line"]["baud"].num());
}
