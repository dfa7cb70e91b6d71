// The user guide's screenshots (scripts/guide-shots): what a technician
// sees at each stage, taken from a real run by the end-to-end driver, which
// this suite is built into.  Each picture is named guide-*; the script keeps
// those and trims them to the windows.  Snap paints what is due first.
#include "tests/e2e/lib/driver.h"

namespace {

// Started with COM1 absent: the box a technician meets when the adapter is
// on another port, then Settings with the port list open, as it is while
// disconnected.
void NoPort()
{
    REQUIRE(Attach() != NULL, "no window of class TTYWndClass appeared");
    HWND hBox = WaitBox("Connection failed.");
    REQUIRE(hBox != NULL, "no \"Connection failed.\" box");
    Snap("guide-connection-failed");
    CHECK(KeyCloses(hBox, VK_RETURN), "Enter did not close the box");
    CHECK(WaitUntil([]() { return IsWindowVisible(gMain) != FALSE; }), "the main window did not show");

    Chord(gMain, { VK_MENU, 'S' });
    HWND hDlg = WaitDialog("Serial Port Setting");
    REQUIRE(hDlg != NULL, "Alt+S opened no Settings dialog");
    HWND hPort = GetDlgItem(hDlg, 544);
    SendMessageA(hPort, CB_SHOWDROPDOWN, TRUE, 0);
    CHECK(WaitUntil([&]() { return SendMessageA(hPort, CB_GETDROPPEDSTATE, 0, 0) != 0; }),
          "the port list did not open");
    Snap("guide-settings-port");
    SendMessageA(hPort, CB_SHOWDROPDOWN, FALSE, 0);
    CHECK(KeyCloses(hDlg, VK_ESCAPE), "Esc did not close Settings");
}

// Started with the module on COM1: the main window, connected.
void MainWindow()
{
    REQUIRE(Attach() != NULL, "no window of class TTYWndClass appeared");
    CHECK(WaitUntil([]() { return IsWindowVisible(gMain) != FALSE; }), "the main window did not show");
    Snap("guide-main");
}

void Settings()
{
    Chord(gMain, { VK_MENU, 'S' });
    HWND hDlg = WaitDialog("Serial Port Setting");
    REQUIRE(hDlg != NULL, "Alt+S opened no Settings dialog");
    Snap("guide-settings");
    CHECK(KeyCloses(hDlg, VK_ESCAPE), "Esc did not close Settings");
}

// A download to its success, each stage slow enough to be pictured, then
// one the module refuses (302 once part of the image has come).
void Downloads()
{
    // The image where a technician keeps one, rather than in the test's
    // folders; the simulator compares with the original.
    DownloadRun run;
    run.expect = MakeImage("mrq520w.bin", 96 * 1024, 7);
    CreateDirectoryA("C:\\firmware", NULL);
    REQUIRE(CopyFileA(run.expect.c_str(), "C:\\firmware\\mrq520w-2.4.bin", FALSE), "cannot copy the image to C:");
    run.image = "C:\\firmware\\mrq520w-2.4.bin";
    run.sim = "byte-delay-ms=25";
    run.snaps = "guide";
    ExpectSuccess(Download(run));

    DownloadRun bad = run;
    bad.sim = "byte-delay-ms=25 fail-offset=16384";
    bad.snaps = "guide-fail";
    ExpectFailure(Download(bad));
}

// The terminal after the downloads: what the module said.
void Terminal()
{
    Snap("guide-terminal");
}

} // namespace

const Suite kGuide("guide", {
    { "guide-no-port", NoPort, true },
    { "guide-main", MainWindow, true },
    { "guide-settings", Settings },
    { "guide-downloads", Downloads },
    { "guide-terminal", Terminal },
});
