// Faults on the line and misuse: a hang-up in the middle of the image, a
// long flood, dirty and endless reply lines, a module at another rate, and
// Disconnect or Settings pressed while the module floods.  orvane must not
// hang or crash, must say what happened, and must work normally afterwards.
#include "../lib/driver.h"

namespace {

// A small download that must still succeed after a fault (once the
// program has taken in what the fault left on the line).
void ExpectStillWorks(const char* what)
{
    Sleep(2000);
    Settle();
    DownloadRun run;
    run.image = MakeImage("image-after.bin", 4000, 14);
    DownloadOutcome out = Download(run);
    CHECK(out.box == "Install Success!", "after %s the next download ended with \"%s\"", what, out.box.c_str());
}

// The module hangs up at 8 KiB: the rest of the image goes nowhere, the
// waiting counter fails the run, and Disconnect and Connect bring the line
// back (the simulator publishes a new one at the same path).
void HangUpMidTransfer()
{
    DownloadRun run;
    run.image = MakeImage("image-hangup.bin", 40 * 1024, 15);
    run.sim = "hangup-offset=8192";
    run.dwLimit = 180000;
    DownloadOutcome out = Download(run);
    ExpectFailure(out);
    CHECK(out.report["hangups"].num() == 1, "the simulator hung up %d times", (int)out.report["hangups"].num());

    Chord(gMain, { VK_SHIFT, VK_NEXT });
    Settle();
    CHECK(ActionMenu() == "normal grey grey normal", "Disconnect after the hang-up left the menu [%s]",
          ActionMenu().c_str());
    Chord(gMain, { VK_SHIFT, VK_PRIOR });
    Settle();
    REQUIRE(OtherWindows().empty(), "Connect after the hang-up showed \"%s\"", TextOf(OtherWindows()[0]).c_str());
    ExpectStillWorks("a hang-up");
}

// 10 MB of random bytes while no download runs; then a normal download.
void FloodThenDownload()
{
    Sim("reset");
    Sim("flood 10000000 21");
    Json report = WaitReport([](const Json& r) { return r["flood"]["sent"].num() >= 10000000; }, 300000);
    CHECK(report["flood"]["sent"].num() >= 10000000, "only %.0f bytes of the flood went out in 5 minutes",
          report["flood"]["sent"].num());
    Settle();
    CHECK(IsWindow(gMain) && OtherWindows().empty(), "the program did not come through the flood unharmed");
    ExpectStillWorks("a 10 MB flood");
}

// Every reply behind a line with NUL and bytes above 0x7F (the NUL hides a
// "100" and a "200" behind it), and high bytes before each code.
void DirtyReplies()
{
    DownloadRun run;
    run.image = MakeImage("image-dirty.bin", 6000, 16);
    run.sim = "dirty=1";
    DownloadOutcome out = Download(run);
    ExpectSuccess(out);
    CHECK(out.progressMax == 256, "the progress range is %d: a hidden \"100\" was taken", out.progressMax);
}

// 20,000 bytes without a line feed, then a valid "200": the long line is
// cut, the "200" at its end still found.
void LongLineThenReply()
{
    DownloadRun run;
    run.image = MakeImage("image-long-line.bin", 5000, 17);
    run.sim = "silent-phase=2";   // the module keeps quiet after "p 60" ...
    HWND hDlg = BeginDownload(run);
    REQUIRE(hDlg != NULL, "no Install dialog");
    REQUIRE(WaitReport([](const Json& r) { return !LastCommand(r, "p60").isNull(); }, 30000)["commands"].size() > 0,
            "\"p 60\" never came");
    Sim("set silent-phase=none");    // ... and speaks up for the verdict
    Sim("send " + std::string(20000, 'A'));
    Sim("send prog 200\\r\\n");
    ExpectSuccess(FinishDownload(hDlg, run));
}

// A module that cannot be understood: its replies garbled (another rate on
// its side), or deaf to the CRs (it listens at 57600).  The dialog keeps
// waking it without end and Cancel still closes it.
void WrongRate()
{
    for (const char* sim : { "garble=1 power-on-crs=3", "install-rate=57600 power-on-crs=3" }) {
        Sim("reset");
        Sim(std::string("set ") + sim);
        HWND hDlg = OpenInstall();
        REQUIRE(hDlg != NULL, "no Install dialog");
        Sleep(3000);
        CHECK(TextOf(hDlg, 6).rfind("Turn the power on", 0) == 0, "%s: the dialog moved on to \"%s\"", sim,
              TextOf(hDlg, 6).c_str());
        CHECK(LastCommand(SimReport(), "flash").isNull(), "%s: \"flash\" went out", sim);
        CancelInstall(hDlg);
    }
}

// Disconnect and Connect, 20 times, while the module floods the line.
void DisconnectDuringFlood()
{
    Sim("reset");
    Sim("flood 50000000 22");
    for (int i = 0; i < 20; i++) {
        Chord(gMain, { VK_SHIFT, VK_NEXT });
        Chord(gMain, { VK_SHIFT, VK_PRIOR });
    }
    Settle();
    CHECK(OtherWindows().empty(), "a window \"%s\" came up", OtherWindows().empty() ? "" : TextOf(OtherWindows()[0]).c_str());
    CHECK(ActionMenu() == "grey normal normal normal", "the menu is not the connected one");
    Sim("reset");   // ends the flood
    ExpectStillWorks("20 Disconnects in a flood");
}

// The Settings dialog opened and closed (Ok, then Cancel) while the module
// floods the line.
void SettingsDuringFlood()
{
    Sim("reset");
    Sim("flood 50000000 23");
    for (int i = 0; i < 6; i++) {
        Chord(gMain, { VK_MENU, 'S' });
        HWND hDlg = WaitDialog("Serial Port Setting", 20000);
        if (!CHECK(hDlg != NULL, "round %d: Settings did not open during the flood", i))
            break;
        Click(GetDlgItem(hDlg, i % 2 ? IDCANCEL : IDOK));
        CHECK(WaitGone(hDlg, 20000), "round %d: Settings did not close during the flood", i);
    }
    Sim("reset");
    Settle();
    CHECK(OtherWindows().empty(), "a window \"%s\" came up", OtherWindows().empty() ? "" : TextOf(OtherWindows()[0]).c_str());
    ExpectStillWorks("Settings in a flood");
}

} // namespace

const Suite kFaults("faults", {
    { "hang-up-mid-transfer", HangUpMidTransfer },
    { "flood-then-download", FloodThenDownload },
    { "dirty-replies", DirtyReplies },
    { "long-line-then-reply", LongLineThenReply },
    { "wrong-rate", WrongRate },
    { "disconnect-during-flood", DisconnectDuringFlood },
    { "settings-during-flood", SettingsDuringFlood },
});
