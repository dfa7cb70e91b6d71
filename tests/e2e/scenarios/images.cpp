// The image file: its size against chunks and the progress range, a long
// path, one that is missing or held open by another program, and
// Shift+F3's plain send of a file.
#include "../lib/driver.h"

namespace {

// Sizes around a chunk and past the progress range: as many progress steps
// as chunks (the bar starts over past its range), the image byte-exact.
void Sizes()
{
    const struct { const char* model; size_t size; int chunks; int range; } rows[] = {
        { "520W", 0, 0, 256 }, { "520W", 1024, 1, 256 }, { "520W", 1025, 2, 256 }, { "41", 60 * 1024, 60, 56 },
    };
    for (const auto& r : rows) {
        DownloadRun run;
        run.model = r.model;
        run.image = MakeImage("image-" + std::to_string(r.size) + ".bin", r.size, 8);
        DownloadOutcome out = Download(run);
        ExpectSuccess(out);
        // Past the range the bar starts over from its minimum.
        const int shown = r.chunks <= r.range ? r.chunks : r.chunks % r.range;
        CHECK(out.progress == shown && out.progressMax == r.range, "%d bytes: the bar stood at %d of %d, want %d of %d",
              (int)r.size, out.progress, out.progressMax, shown, r.range);
    }
}

// A path longer than 99 characters opens and goes out.
void LongPath()
{
    std::string dir = gArtefacts + "\\..\\images\\" + std::string(60, 'd');
    CreateDirectoryA(dir.c_str(), NULL);
    const std::string name = std::string(60, 'd') + "\\" + std::string(40, 'n') + ".bin";
    DownloadRun run;
    run.image = MakeImage(name, 3000, 10);
    CHECK(run.image.size() > 99, "the path is only %d characters", (int)run.image.size());
    ExpectSuccess(Download(run));
}

// A name that opens nothing, or a file another program holds open: "Creat
// File Fail", then no image and the module's failure.
void CannotOpen(bool fHeld)
{
    DownloadRun run;
    run.expect = MakeImage("image-unread.bin", 2000, 11);
    run.image = fHeld ? run.expect : gArtefacts + "\\..\\images\\no-such-image.bin";
    run.dwLimit = 180000;
    HANDLE hHeld = fHeld ? CreateFileA(run.image.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL)
                         : INVALID_HANDLE_VALUE;
    REQUIRE(!fHeld || hHeld != INVALID_HANDLE_VALUE, "could not hold the image open");
    HWND hDlg = BeginDownload(run);
    HWND hBox = hDlg ? WaitBox("Creat File Fail") : NULL;
    if (CHECK(hBox != NULL, "no \"Creat File Fail\" box")) {
        CHECK(TextOf(hBox) == "Error", "the box is captioned \"%s\"", TextOf(hBox).c_str());
        CHECK(GetWindow(hBox, GW_OWNER) == gMain, "the box is not owned by the main window");
        Answer(hBox, "OK");
    }
    if (hHeld != INVALID_HANDLE_VALUE)
        CloseHandle(hHeld);
    DownloadOutcome out = FinishDownload(hDlg, run);
    ExpectFailure(out);
    CHECK(out.report["image"]["bytes"].num() == 0, "the module got %d image bytes", (int)out.report["image"]["bytes"].num());
}

void MissingImage() { CannotOpen(false); }
void HeldOpenImage() { CannotOpen(true); }

// Shift+F3: a chosen file goes out whole, in one piece, at the line's rate.
// (Letters only: the module would take a CR in it for a command.)
void SendFileShiftF3()
{
    const std::string file = MakeImage("plain.bin", 3000, 9, true);
    Sim("reset");
    Sim("set expect=" + UnixPath(file));
    Chord(gMain, { VK_SHIFT, VK_F3 });
    HWND hOpen = WaitDialog("Open");
    REQUIRE(hOpen != NULL, "Shift+F3 opened no file chooser");
    Snap("send-file-chooser");
    Type(hOpen, file + "\n");
    Json report = WaitReport([](const Json& r) { return LastCommand(r, "data")["count"].num() >= 3000; });
    Json sent = LastCommand(report, "data");
    CHECK(sent["count"].num() == 3000 && sent["sha256"].str() == report["image"]["expected_sha256"].str(),
          "the module got %d bytes, SHA-256 %s", (int)sent["count"].num(), sent["sha256"].str().c_str());
    CHECK(sent["line"]["baud"].num() == report["line"]["baud"].num(), "the file went out at %d, the line is at %d",
          (int)sent["line"]["baud"].num(), (int)report["line"]["baud"].num());
}

} // namespace

const Suite kImages("images", {
    { "image-sizes", Sizes },
    { "long-path", LongPath },
    { "missing-image", MissingImage },
    { "held-open-image", HeldOpenImage },
    { "send-file", SendFileShiftF3 },
});
