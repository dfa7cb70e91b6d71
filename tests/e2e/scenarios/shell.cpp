// The application shell: starting without a port, the Action menu and its
// accelerators while disconnected, Settings, About and closing the program.
#include "../lib/driver.h"

namespace {

const char kAboutLine[] = "orvane v2.1 for MRQ-41/41c/520W/520W Lite/710F ";

// Control ids of the program's dialogs.
enum {
    IDC_ABOUTTITLE = 530,
    IDC_PORTCB = 544, IDC_BAUDCB = 545, IDC_DATABITSCB = 546,
    IDC_PARITYCB = 547, IDC_STOPBITSCB = 548,
    IDC_INSTBAUD57600 = 558, IDC_INSTBAUD115200 = 559,
};

const char kSaved57600[] = "port COM1, baud 19200, data bits 8, parity None, stop bits 1, install 57600";

// The values the Settings dialog shows, in one line for messages.
std::string SettingsShown(HWND hDlg)
{
    return "port " + ReadCombo(hDlg, IDC_PORTCB).selected +
           ", baud " + ReadCombo(hDlg, IDC_BAUDCB).selected +
           ", data bits " + ReadCombo(hDlg, IDC_DATABITSCB).selected +
           ", parity " + ReadCombo(hDlg, IDC_PARITYCB).selected +
           ", stop bits " + ReadCombo(hDlg, IDC_STOPBITSCB).selected +
           ", install " + (Checked(hDlg, IDC_INSTBAUD57600) ? "57600" : "") +
           (Checked(hDlg, IDC_INSTBAUD115200) ? "115200" : "");
}

// The program starts with no COM1: "Connection failed." comes before the
// main window is shown; the window then comes up.
void StartWithoutPort()
{
    REQUIRE(Attach() != NULL, "no window of class TTYWndClass appeared");

    HWND hBox = WaitBox("Connection failed.");
    REQUIRE(hBox != NULL, "no \"Connection failed.\" box");
    CHECK(!IsWindowVisible(gMain), "the main window was visible while \"Connection failed.\" was shown");
    CHECK(TextOf(hBox) == kAppTitle, "the box is captioned \"%s\"", TextOf(hBox).c_str());
    CHECK(GetWindow(hBox, GW_OWNER) == gMain, "the box is not owned by the main window");

    CHECK(KeyCloses(hBox, VK_RETURN), "Enter did not close the box");
    CHECK(WaitUntil([]() { return IsWindowVisible(gMain) != FALSE; }), "the main window did not show");
    CHECK(TextOf(gMain) == kAppTitle, "the main window is titled \"%s\"", TextOf(gMain).c_str());
}

// The open Action menu: Connect in normal text, Disconnect and Download
// greyed, Exit in normal text.
void DisconnectedMenu()
{
    std::string lines = ActionMenu("main-menu");
    CHECK(lines == "normal grey grey normal", "Action menu lines are [%s], want [normal grey grey normal] "
          "(Connect, Disconnect, Download, Exit)", lines.c_str());
    CHECK(OtherWindows().empty(), "the menu did not close");
}

// Shift+F1, Shift+PgDn (greyed) and Shift+F2 (no port) do nothing; the
// Shift+PgUp after them is answered, so they have been handled by then.
void AcceleratorsWhileDisconnected()
{
    Chord(gMain, { VK_SHIFT, VK_F1 });
    Chord(gMain, { VK_SHIFT, VK_NEXT });
    Chord(gMain, { VK_SHIFT, VK_F2 });
    Chord(gMain, { VK_SHIFT, VK_PRIOR });

    HWND hBox = WaitBox("Connection failed.");
    REQUIRE(hBox != NULL, "Shift+PgUp (Connect) showed no \"Connection failed.\"");
    for (HWND hWnd : OtherWindows())
        CHECK(hWnd == hBox, "a window \"%s\" (%s) appeared", TextOf(hWnd).c_str(), ClassOf(hWnd).c_str());
    CHECK(KeyCloses(hBox, VK_RETURN), "Enter did not close the box");
}

HWND OpenSettings()
{
    Chord(gMain, { VK_MENU, 'S' });
    return WaitDialog("Serial Port Setting");
}

// Settings with a fresh record: every list and its selection.
void SettingsDefaults()
{
    HWND hDlg = OpenSettings();
    REQUIRE(hDlg != NULL, "Alt+S opened no \"Serial Port Setting\" dialog");
    Snap("settings");

    LONG style = GetWindowLongA(hDlg, GWL_STYLE);
    CHECK(!(style & WS_SYSMENU), "the dialog has a system menu (close box)");

    struct { int id; const char* name; const char* items; const char* sel; bool enabled; } want[] = {
        { IDC_PORTCB, "port", "COM1,COM2,COM3,COM4", "COM1", true },
        { IDC_BAUDCB, "baud", "19200,115200", "19200", true },
        { IDC_DATABITSCB, "data bits", "5,6,7,8", "8", false },
        { IDC_PARITYCB, "parity", "None,Even,Odd,Mark,Space", "None", false },
        { IDC_STOPBITSCB, "stop bits", "1", "1", false },
    };
    for (const auto& w : want) {
        Combo c = ReadCombo(hDlg, w.id);
        CHECK(Join(c.items) == w.items, "%s list is [%s], want [%s]", w.name, Join(c.items).c_str(), w.items);
        CHECK(c.selected == w.sel, "%s shows \"%s\", want \"%s\"", w.name, c.selected.c_str(), w.sel);
        CHECK(c.enabled == w.enabled, "%s list is %s", w.name, c.enabled ? "enabled" : "disabled");
    }
    CHECK(Checked(hDlg, IDC_INSTBAUD115200) && !Checked(hDlg, IDC_INSTBAUD57600),
          "the installation rate is not 115200 alone");

    CHECK(KeyCloses(hDlg, VK_ESCAPE), "Esc did not close the dialog");
}

// Ends a dialog with one of its buttons.
bool ClickToClose(HWND hDlg, int id, const char* what)
{
    Click(GetDlgItem(hDlg, id));
    return CHECK(WaitGone(hDlg), "%s did not close the dialog", what);
}

// Opens Settings again, compares what it shows, and closes it with a key.
void ExpectSettingsShown(const char* want, WORD vkClose)
{
    HWND hDlg = OpenSettings();
    REQUIRE(hDlg != NULL, "Settings did not open again");
    std::string shown = SettingsShown(hDlg);
    CHECK(shown == want, "shows %s, want %s", shown.c_str(), want);
    CHECK(KeyCloses(hDlg, vkClose), "the key did not close the dialog");
}

// 57600 and Ok: the next Settings shows 57600.
void SettingsOk57600()
{
    HWND hDlg = OpenSettings();
    REQUIRE(hDlg != NULL, "no Settings dialog");
    Click(GetDlgItem(hDlg, IDC_INSTBAUD57600));
    CHECK(WaitUntil([&]() { return Checked(hDlg, IDC_INSTBAUD57600) && !Checked(hDlg, IDC_INSTBAUD115200); }),
          "clicking 57600 did not set it alone");
    if (ClickToClose(hDlg, IDOK, "Ok"))
        ExpectSettingsShown(kSaved57600, VK_ESCAPE);
}

// Changes ended with Cancel are not kept; Enter (Ok) on an unchanged dialog
// keeps everything too.
void SettingsCancel()
{
    HWND hDlg = OpenSettings();
    REQUIRE(hDlg != NULL, "no Settings dialog");
    // The port list has the focus: COM2, then the baud list: 115200.
    for (WORD vk : { VK_DOWN, VK_TAB, VK_DOWN })
        Chord(hDlg, { vk });
    Click(GetDlgItem(hDlg, IDC_INSTBAUD115200));
    const char kChanged[] = "port COM2, baud 115200, data bits 8, parity None, stop bits 1, install 115200";
    CHECK(WaitUntil([&]() { return SettingsShown(hDlg) == kChanged; }), "the changes did not take in the dialog: %s",
          SettingsShown(hDlg).c_str());

    if (ClickToClose(hDlg, IDCANCEL, "Cancel")) {
        ExpectSettingsShown(kSaved57600, VK_RETURN);
        ExpectSettingsShown(kSaved57600, VK_ESCAPE);
    }
}

// Ok keeps a port and a rate at different places in their lists (COM3 is
// third, 115200 second, so no mix-up of the two lists can pass); then back.
void SettingsOkPortAndRate()
{
    auto choose = [](std::initializer_list<WORD> keys) {
        HWND hDlg = OpenSettings();
        if (!CHECK(hDlg != NULL, "no Settings dialog"))
            return;
        for (WORD vk : keys)   // the port list has the focus; Tab to the rate
            Chord(hDlg, { vk });
        ClickToClose(hDlg, IDOK, "Ok");
    };
    choose({ VK_DOWN, VK_DOWN, VK_TAB, VK_DOWN });
    ExpectSettingsShown("port COM3, baud 115200, data bits 8, parity None, stop bits 1, install 57600", VK_ESCAPE);
    choose({ VK_UP, VK_UP, VK_TAB, VK_UP });
    ExpectSettingsShown(kSaved57600, VK_ESCAPE);
}

// About: the exact first line; Esc and the close box leave it open, Enter
// closes it.
void About()
{
    Chord(gMain, { VK_MENU, 'B' });
    HWND hDlg = WaitDialog("About orvane");
    REQUIRE(hDlg != NULL, "Alt+B opened no \"About orvane\" dialog");
    Snap("about");

    std::string line = TextOf(hDlg, IDC_ABOUTTITLE);
    CHECK(line == kAboutLine, "the first line is \"%s\"", line.c_str());
    bool fNotice = false;
    for (HWND hChild : Children(hDlg))
        if (ClassOf(hChild) == "Static" && GetDlgCtrlID(hChild) != IDC_ABOUTTITLE && !TextOf(hChild).empty())
            fNotice = true;
    CHECK(fNotice, "no maker's notice line");

    Chord(hDlg, { VK_ESCAPE });
    CHECK(Handled(hDlg, "Esc") && IsWindowVisible(hDlg), "Esc closed the About box");
    if (CHECK(ClickCloseBox(hDlg), "no close box found on the About box"))
        CHECK(Handled(hDlg, "a click on the close box") && IsWindowVisible(hDlg), "the close box closed the About box");
    if (!IsWindow(hDlg))
        return;
    CHECK(KeyCloses(hDlg, VK_RETURN), "Enter did not close the About box");
}

// Asks to close; answers the question with the button of this text.
bool AnswerClose(const std::function<void()>& ask, const char* answer)
{
    ask();
    HWND hBox = WaitBox("OK to close window?");
    gEndExpected = std::string(answer) == "OK";
    if (!CHECK(hBox != NULL, "no \"OK to close window?\" question"))
        return false;
    CHECK(TextOf(hBox) == kAppTitle, "the question is captioned \"%s\"", TextOf(hBox).c_str());
    return Answer(hBox, answer);
}

void CloseAnsweredCancel()
{
    if (AnswerClose([]() { CHECK(ClickCloseBox(gMain), "no close box on the main window"); }, "Cancel"))
        CHECK(Handled(gMain, "Cancel") && IsWindowVisible(gMain), "the close box with Cancel closed the window");
    if (AnswerClose([]() { Chord(gMain, { VK_MENU, 'A' }); Chord(gMain, { 'X' }); }, "Cancel"))
        CHECK(Handled(gMain, "Cancel") && IsWindowVisible(gMain), "Exit with Cancel closed the window");
}

void CloseAnsweredOk()
{
    if (AnswerClose([]() { Chord(gMain, { VK_MENU, VK_F4 }); }, "OK"))
        CHECK(WaitGone(gMain), "OK did not close the main window");
    if (gProcess) {
        CHECK(WaitForSingleObject(gProcess, kWindowWait) == WAIT_OBJECT_0, "the program did not end");
        DWORD code = 1;
        GetExitCodeProcess(gProcess, &code);
        CHECK(code == 0, "the program ended with %lu", (unsigned long)code);
    }
}

} // namespace

const Suite kShell("shell", {
    { "start-without-com1", StartWithoutPort, true },
    { "disconnected-menu", DisconnectedMenu },
    { "accelerators-while-disconnected", AcceleratorsWhileDisconnected },
    { "settings-defaults", SettingsDefaults },
    { "settings-ok-57600", SettingsOk57600 },
    { "settings-cancel", SettingsCancel },
    { "settings-ok-port-and-rate", SettingsOkPortAndRate },
    { "about", About },
    { "close-cancel", CloseAnsweredCancel },
    { "close-ok", CloseAnsweredOk },
});
