// Downloads through the Install dialog: each model to its success, the
// module's failure, a module that falls silent, a missing image, Cancel,
// and Shift+F3's plain send of a file.
#include "../lib/driver.h"

namespace {

const char kFailCaption[] = "Merrow Systems. Co. LTD.";

void ExpectBox(const DownloadOutcome& out, const char* box, const char* caption)
{
    CHECK(out.box == box, "the download ended with \"%s\", want \"%s\"", out.box.c_str(), box);
    CHECK(out.caption == caption, "the box is captioned \"%s\", want \"%s\"", out.caption.c_str(), caption);
}

void ExpectAtInstallRate(const Json& report)
{
    std::string why;
    CHECK(AllAtRate(report, 115200, &why), "the module got %s during the install", why.c_str());
}

// A whole download for one model: the verdict box, the image byte-exact at
// the module, the line at 115200 throughout, one progress step per chunk of
// the model's range, and "r" at the end for the MRQ-520W alone.
void DownloadModel(const char* model, int progressMax, const char* snaps = nullptr)
{
    DownloadRun run;
    run.model = model;
    run.image = MakeImage(std::string("image-") + model + ".bin", snaps ? 64 * 1024 : 20 * 1024 + 5, 3);
    if (snaps) {
        run.snaps = snaps;
        run.sim = "byte-delay-ms=25";
    }
    DownloadOutcome out = Download(run);
    ExpectBox(out, "Install Success!", kAppTitle);
    const Json& image = out.report["image"];
    CHECK(out.report["verdict"].str() == "101", "the module's verdict was \"%s\"", out.report["verdict"].str().c_str());
    CHECK(image["equal"].truth() && image["sha256"].str() == image["expected_sha256"].str(),
          "the module got %d bytes with SHA-256 %s, want the image's %s", (int)image["bytes"].num(),
          image["sha256"].str().c_str(), image["expected_sha256"].str().c_str());
    ExpectAtInstallRate(out.report);
    const int chunks = ((int)image["expected_bytes"].num() + 1023) / 1024;
    CHECK(out.progress == chunks && out.progressMax == progressMax, "the bar stood at %d of %d, want %d of %d",
          out.progress, out.progressMax, chunks, progressMax);
    CHECK(LastCommand(out.report, "flash").isNull() == (std::string(model) == "710F"),
          "\"flash\" %s sent to the %s", LastCommand(out.report, "flash").isNull() ? "was not" : "was", model);
    CHECK(!LastCommand(out.report, "reset").isNull() == (std::string(model) == "520W"),
          "\"r\" %s sent at the end for the %s", LastCommand(out.report, "reset").isNull() ? "was not" : "was", model);
}

void Download520W() { DownloadModel("520W", 256, "download"); }
void Download41() { DownloadModel("41", 56); }
void Download710F() { DownloadModel("710F", 256); }

// The module answers "p 60" with 302: failure, with its own caption.
void Fail302()
{
    DownloadRun run;
    run.image = MakeImage("image-302.bin", 3000);
    run.sim = "fail-phase=2";
    DownloadOutcome out = Download(run);
    ExpectBox(out, "Install Fail!", kFailCaption);
    CHECK(out.report["image"]["bytes"].num() == 0, "the image went out after the module's 302");
    ExpectAtInstallRate(out.report);
}

// The module takes the image and never answers: the waiting counter fails it.
void SilentAfterImage()
{
    DownloadRun run;
    run.image = MakeImage("image-silent.bin", 4000);
    run.sim = "silent-phase=3";
    run.dwLimit = 180000;
    DownloadOutcome out = Download(run);
    ExpectBox(out, "Install Fail!", kFailCaption);
    CHECK(out.report["image"]["equal"].truth(), "the module did not get the image whole");
}

// A name that opens nothing: "Creat File Fail", then no image and the
// module's failure.
void MissingImage()
{
    DownloadRun run;
    run.image = gArtefacts + "\\..\\images\\no-such-image.bin";
    run.expect = MakeImage("image-missing.bin", 2000);
    HWND hDlg = BeginDownload(run);
    REQUIRE(hDlg != NULL, "no Install dialog");
    HWND hBox = WaitBox("Creat File Fail");
    if (CHECK(hBox != NULL, "no \"Creat File Fail\" box")) {
        CHECK(TextOf(hBox) == "Error", "the box is captioned \"%s\"", TextOf(hBox).c_str());
        CHECK(GetWindow(hBox, GW_OWNER) == gMain, "the box is not owned by the main window");
        Answer(hBox, "OK");
    }
    run.dwLimit = 180000;
    ExpectBox(FinishDownload(hDlg, run), "Install Fail!", kFailCaption);
}

// Cancel while the module is still off: the dialog closes with no box and
// the line is back at the normal rate; Esc and the close box did nothing.
void CancelWhileWaking()
{
    Sim("reset");
    Sim("set power-on-crs=none");
    HWND hDlg = OpenInstall();
    REQUIRE(hDlg != NULL, "Shift+F1 opened no Install dialog");
    Json report = WaitReport([](const Json& r) { return LastCommand(r, "cr")["count"].num() >= 5; });
    CHECK(report["line"]["baud"].num() == 115200, "the line is at %d while waking", (int)report["line"]["baud"].num());

    Chord(hDlg, { VK_ESCAPE });
    CHECK(ClickCloseBox(hDlg), "no close box on the Install dialog");
    Settle();
    CHECK(IsWindowVisible(hDlg), "Esc or the close box closed the Install dialog");

    Click(ChildOf(hDlg, "Button", "Cancel"));
    CHECK(WaitGone(hDlg), "Cancel did not close the Install dialog");
    Settle();
    CHECK(OtherWindows().empty(), "a window \"%s\" came after Cancel",
          OtherWindows().empty() ? "" : TextOf(OtherWindows()[0]).c_str());
    report = SimReport();
    CHECK(report["line"]["baud"].num() == 19200, "the line is at %d after Cancel", (int)report["line"]["baud"].num());
}

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
    Settle();
    Snap("send-file-chooser");
    Type(hOpen, file + "\n");
    Json report = WaitReport([](const Json& r) { return LastCommand(r, "data")["count"].num() >= 3000; });
    Json sent = LastCommand(report, "data");
    CHECK(sent["count"].num() == 3000 && sent["sha256"].str() == report["image"]["expected_sha256"].str(),
          "the module got %d bytes, SHA-256 %s", (int)sent["count"].num(), sent["sha256"].str().c_str());
    CHECK(sent["line"]["baud"].num() == 19200, "the file went out at %d", (int)sent["line"]["baud"].num());
}

} // namespace

const Suite kInstall("install", {
    { "download-520w", Download520W },
    { "download-41", Download41 },
    { "download-710f", Download710F },
    { "fail-302", Fail302 },
    { "silent-after-image", SilentAfterImage },
    { "missing-image", MissingImage },
    { "cancel-while-waking", CancelWhileWaking },
    { "send-file", SendFileShiftF3 },
});
