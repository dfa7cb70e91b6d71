// Faults on the line and misuse: a hang-up in the middle of the image, a
// long flood, dirty and endless reply lines, a module at another rate, and
// Disconnect or Settings pressed while the module floods.  orvane must not
// hang or crash, must say what happened, and must work normally afterwards.
#include "../lib/driver.h"

namespace {

// A small download that must still succeed after a fault, as every other
// success does: the box and its caption, the module's 101, the image whole.
void ExpectStillWorks(const char* what)
{
    DownloadRun run;
    run.image = MakeImage("image-after.bin", 4000, 14);
    DownloadOutcome out = Download(run);
    if (!out.box.empty() && out.box != "Install Success!")
        Problem("after %s:", what);
    ExpectSuccess(out);
}

// Disconnect and Connect by their accelerators, each seen in the menu.
void Reconnect(const char* after)
{
    Chord(gMain, { VK_SHIFT, VK_NEXT });
    std::string menu = ActionMenu();
    CHECK(menu == "normal grey grey normal", "Disconnect after %s left the menu [%s]", after, menu.c_str());
    Chord(gMain, { VK_SHIFT, VK_PRIOR });
    menu = ActionMenu();
    CHECK(menu == "grey normal normal normal", "Connect after %s left the menu [%s]", after, menu.c_str());
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
    run.fFence = false;   // nothing reaches the module on the old line
    DownloadOutcome out = Download(run);
    ExpectFailure(out);
    CHECK(out.report["hangups"].num() == 1, "the simulator hung up %d times", (int)out.report["hangups"].num());
    Reconnect("the hang-up");
    ExpectStillWorks("a hang-up");
}

// The end of a flood: what the module has not sent is dropped, and a line
// follows what it has, which the terminal shows once the program has read
// all of it (every scenario here runs after a download; before the first one
// the terminal shows nothing the module sends).  Only then the next
// download: Download drops what has come, but a flood line still on its way
// would end up in front of the module's reply, and a NUL in it would hide
// the reply.
void EndFlood()
{
    Sim("reset");
    Sim("send \\r\\nflood over\\r\\n");
    const bool shown = WaitUntil([]() {
        for (const std::string& row : Screen())
            if (row.find("flood over") != std::string::npos)
                return true;
        return false;
    });
    if (!shown)
        Snap("flood-end");
    CHECK(shown, "the line after the flood never reached the terminal (flood-end.png); it shows the module's "
                 "lines once a download has run");
}

// 10 MB of random bytes while no download runs; then a normal download.
void FloodThenDownload()
{
    Sim("reset");
    Sim("flood 10000000 21");
    Json report = WaitReport([](const Json& r) { return r["flood"]["sent"].num() >= 10000000; }, 300000);
    CHECK(report["flood"]["sent"].num() >= 10000000, "only %.0f bytes of the flood went out in 5 minutes",
          report["flood"]["sent"].num());
    EndFlood();
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
// its side), or deaf to the CRs (it listens at 57600).  Once the module has
// answered (or has taken the CRs without understanding them) the dialog
// still wakes it; a plain reply sent behind the garbled one moves it on, so
// the garbled one was read before it and taken for nothing; Cancel still
// closes it.
void WrongRate()
{
    const struct { const char* sim; const char* state; } rows[] = {
        { "garble=1 power-on-crs=3", "monitor" }, { "install-rate=57600 power-on-crs=3", "off" },
    };
    for (const auto& row : rows) {
        Sim("reset");
        Sim(std::string("set ") + row.sim);
        HWND hDlg = OpenInstall();
        REQUIRE(hDlg != NULL, "no Install dialog");
        auto answered = [&](const Json& r) {
            const Json& cr = LastCommand(r, "cr");
            return r["state"].str() == row.state && cr["count"].num() >= 3 &&
                   (r["replies"].size() == 0 ? cr["ignored"].truth() : !r["replies"][0]["end_ms"].isNull());
        };
        Json report = WaitReport(answered);
        CHECK(answered(report), "%s: the module is %s and answered %d times", row.sim, report["state"].str().c_str(),
              (int)report["replies"].size());
        const double crs = LastCommand(report, "cr")["count"].num();
        report = WaitReport([&](const Json& r) { return LastCommand(r, "cr")["count"].num() > crs + 10; });
        CHECK(LastCommand(report, "flash").isNull(), "%s: \"flash\" went out", row.sim);
        CHECK(TextOf(hDlg, 6).rfind("Turn the power on", 0) == 0, "%s: the dialog moved on to \"%s\"", row.sim,
              TextOf(hDlg, 6).c_str());
        Sim("send MRQ-520W boot 000\\r\\n");
        CHECK(WaitUntil([&]() { return TextOf(hDlg, 6) == "Initializing!"; }), "%s: a plain reply then left the "
              "dialog at \"%s\"", row.sim, TextOf(hDlg, 6).c_str());
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
    const std::string menu = ActionMenu();
    CHECK(menu == "grey normal normal normal", "the menu is [%s], not the connected one", menu.c_str());
    EndFlood();
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
    CHECK(SimReport()["flood"]["sent"].num() < 50000000, "the flood ended before Settings did");
    EndFlood();
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
