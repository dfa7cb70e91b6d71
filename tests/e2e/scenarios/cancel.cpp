// Cancel in each phase before the image: the dialog closes on the next tick
// with no box and the line goes back to the normal rate.  Esc and the close
// box leave the dialog open.
#include "../lib/driver.h"

namespace {

// The module stays silent from a phase on, so the run waits there.
void CancelWaitingIn(const char* silentPhase, const char* status)
{
    DownloadRun run;
    run.image = MakeImage("image-cancel.bin", 3000, 7);
    run.sim = std::string("silent-phase=") + silentPhase;
    HWND hDlg = BeginDownload(run);
    REQUIRE(hDlg != NULL, "no Install dialog");
    CHECK(WaitUntil([&]() { return TextOf(hDlg, 6) == status; }, 20000), "the dialog says \"%s\", want \"%s\"",
          TextOf(hDlg, 6).c_str(), status);
    CancelInstall(hDlg);
    // (A module that took "p 60" counts Cancel's "r" as image bytes.)
    CHECK(SimReport()["image"]["bytes"].num() < 3000, "the image went out after Cancel");
}

// Phase 0: the module never switched on.  Esc and the close box first.
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
    Handled(hDlg, "Esc and the close box");
    CHECK(IsWindowVisible(hDlg), "Esc or the close box closed the Install dialog");
    CancelInstall(hDlg);
}

void CancelAfterWakeUp() { CancelWaitingIn("1", "Initializing!"); }
void CancelAfterFlash() { CancelWaitingIn("2", "Preparing for Programming!"); }

} // namespace

const Suite kCancel("cancel", {
    { "cancel-while-waking", CancelWhileWaking },
    { "cancel-after-wake-up", CancelAfterWakeUp },
    { "cancel-after-flash", CancelAfterFlash },
});
