// The end-to-end driver: plays the user of a running orvane.exe in the same
// Wine desktop.  It finds windows by class and title, types with SendInput,
// clicks with the mouse, and reads what a user reads: window and control
// texts, combo-box lists and selections, radio buttons, message boxes.
// Menus of another process cannot be read under Wine, so the open Action
// menu is judged from its pixels.
//
//   driver.exe ARTEFACT-DIR [SCENARIO...]
//
// "SNAP name" on standard output asks the runner for a screenshot; the
// runner answers by creating ARTEFACT-DIR\name.done.  One "PASS scenario" or
// "FAIL scenario: ..." line per scenario, then a summary line.  The exit code
// is the number of failed scenarios.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

const char kAppTitle[] = "orvane 2.1 for MRQ-41/41c/520W/520W Lite/710F";
const char kAboutLine[] = "orvane v2.1 for MRQ-41/41c/520W/520W Lite/710F ";

// Control ids of the program's dialogs.
enum {
    IDC_ABOUTTITLE = 530,
    IDC_PORTCB = 544, IDC_BAUDCB = 545, IDC_DATABITSCB = 546,
    IDC_PARITYCB = 547, IDC_STOPBITSCB = 548,
    IDC_INSTBAUD57600 = 558, IDC_INSTBAUD115200 = 559,
};

// Limits on waiting for the program.  The 32-bit program runs emulated on
// some machines, so they are generous; they only bound a wait.
const DWORD kStartWait = 300000;
const DWORD kWindowWait = 60000;

std::string gArtefacts;
HWND gMain = NULL;
DWORD gPid = 0;
HANDLE gProcess = NULL;

// ---- results -------------------------------------------------------------

std::string gScenario;
std::vector<std::string> gProblems;
int gPassed = 0, gFailed = 0;

void Problem(const char* fmt, ...)
{
    char sz[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(sz, sizeof(sz), fmt, ap);
    va_end(ap);
    gProblems.push_back(sz);
}

#define CHECK(cond, ...) ((cond) ? true : (Problem(__VA_ARGS__), false))

void Log(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
}

// ---- windows of the program --------------------------------------------

std::string ClassOf(HWND hWnd)
{
    char sz[256] = "";
    GetClassNameA(hWnd, sz, sizeof(sz));
    return sz;
}

std::string TextOf(HWND hWnd)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 10000, &len))
        return "<no answer>";
    std::string s(len + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(hWnd, WM_GETTEXT, s.size(), (LPARAM)&s[0], SMTO_ABORTIFHUNG, 10000, &got);
    s.resize(got);
    return s;
}

std::vector<HWND> TopWindows()
{
    std::vector<HWND> all;
    EnumWindows([](HWND hWnd, LPARAM lParam) -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(hWnd, &pid);
        if (pid == gPid)
            ((std::vector<HWND>*)lParam)->push_back(hWnd);
        return TRUE;
    }, (LPARAM)&all);
    return all;
}

// Visible top-level windows of the program other than the main window.
std::vector<HWND> OtherWindows()
{
    std::vector<HWND> found;
    for (HWND hWnd : TopWindows())
        if (hWnd != gMain && IsWindowVisible(hWnd))
            found.push_back(hWnd);
    return found;
}

std::vector<HWND> Children(HWND hParent)
{
    std::vector<HWND> all;
    EnumChildWindows(hParent, [](HWND hWnd, LPARAM lParam) -> BOOL {
        ((std::vector<HWND>*)lParam)->push_back(hWnd);
        return TRUE;
    }, (LPARAM)&all);
    return all;
}

HWND WaitFor(const std::function<HWND()>& find, DWORD dwLimit)
{
    for (DWORD waited = 0;; waited += 100) {
        if (HWND hWnd = find())
            return hWnd;
        if (waited >= dwLimit)
            return NULL;
        Sleep(100);
    }
}

bool WaitUntil(const std::function<bool()>& done, DWORD dwLimit)
{
    return WaitFor([&]() { return done() ? (HWND)1 : NULL; }, dwLimit) != NULL;
}

// A visible dialog of the program with this caption.
HWND FindDialog(const std::string& caption)
{
    for (HWND hWnd : OtherWindows())
        if (ClassOf(hWnd) == "#32770" && TextOf(hWnd) == caption)
            return hWnd;
    return NULL;
}

HWND WaitDialog(const std::string& caption, DWORD dwLimit = kWindowWait)
{
    return WaitFor([&]() { return FindDialog(caption); }, dwLimit);
}

bool WaitGone(HWND hWnd, DWORD dwLimit = kWindowWait)
{
    return WaitUntil([&]() { return !IsWindow(hWnd) || !IsWindowVisible(hWnd); }, dwLimit);
}

// The message text of a message box: its static texts, joined.
std::string BoxText(HWND hBox)
{
    std::string text;
    for (HWND hChild : Children(hBox))
        if (ClassOf(hChild) == "Static") {
            std::string s = TextOf(hChild);
            if (!s.empty())
                text += (text.empty() ? "" : "|") + s;
        }
    return text;
}

HWND ButtonOf(HWND hDlg, const std::string& text)
{
    for (HWND hChild : Children(hDlg))
        if (ClassOf(hChild) == "Button" && TextOf(hChild) == text)
            return hChild;
    return NULL;
}

// A message box of the program showing this text, with the program's title.
HWND WaitBox(const std::string& text, DWORD dwLimit = kWindowWait)
{
    return WaitFor([&]() -> HWND {
        for (HWND hWnd : OtherWindows())
            if (ClassOf(hWnd) == "#32770" && BoxText(hWnd) == text)
                return hWnd;
        return NULL;
    }, dwLimit);
}

// Lets the program catch up with the input it was given: a pause, then
// until its window thread waits for input again.
void Settle()
{
    Sleep(1000);
    if (gProcess)
        WaitForInputIdle(gProcess, kWindowWait);
    Sleep(1000);
}

// ---- input ------------------------------------------------------------------

// Activation reaches the program later than the call returns, and it puts
// the focus back where the window last had it: input sent in between can
// lose its target (a pressed button that loses the focus does not click).
// So the window is activated only when it is not already active, and the
// program is given time to take it.
bool Foreground(HWND hWnd)
{
    if (GetForegroundWindow() == hWnd)
        return true;
    for (int i = 0; i < 50; i++) {
        SetForegroundWindow(hWnd);
        if (GetForegroundWindow() == hWnd) {
            Settle();
            return true;
        }
        Sleep(100);
    }
    return false;
}

INPUT Key(WORD vk, bool up)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = (WORD)MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    switch (vk) {
    case VK_PRIOR: case VK_NEXT: case VK_END: case VK_HOME:
    case VK_LEFT: case VK_UP: case VK_RIGHT: case VK_DOWN:
        in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
        break;
    }
    return in;
}

// Presses the keys in order and releases them in reverse: {VK_SHIFT, VK_F1}
// is Shift+F1.
void Chord(HWND hTarget, std::initializer_list<WORD> keys)
{
    Foreground(hTarget);
    std::vector<INPUT> in;
    for (WORD vk : keys)
        in.push_back(Key(vk, false));
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it)
        in.push_back(Key(*it, true));
    SendInput((UINT)in.size(), in.data(), sizeof(INPUT));
    Sleep(200);
}

void ClickAt(HWND hTarget, POINT pt)
{
    Foreground(GetAncestor(hTarget, GA_ROOT));
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = MulDiv(pt.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = MulDiv(pt.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof(INPUT));
    Sleep(300);
    in.mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof(INPUT));
    Sleep(300);
    in.mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof(INPUT));
    Sleep(200);
}

void Click(HWND hCtrl)
{
    RECT rc;
    GetWindowRect(hCtrl, &rc);
    ClickAt(hCtrl, POINT{ (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2 });
}

// A screen point where the window answers WM_NCHITTEST with this code,
// searched along one row (fRow) or one column of its outer rectangle.
bool FindHit(HWND hWnd, LRESULT code, bool fRow, int nAt, POINT* pt)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    int from = fRow ? rc.right - 1 : rc.top;
    int to = fRow ? rc.left : rc.bottom - 1;
    int step = fRow ? -1 : 1;
    for (int v = from; v != to; v += step) {
        POINT p = fRow ? POINT{ v, nAt } : POINT{ nAt, v };
        DWORD_PTR hit = 0;
        SendMessageTimeoutA(hWnd, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y), SMTO_ABORTIFHUNG, 10000, &hit);
        if ((LRESULT)hit == code) {
            *pt = p;
            return true;
        }
    }
    return false;
}

// The close box in the caption.
bool ClickCloseBox(HWND hWnd)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    POINT pt;
    for (int y = rc.top + 2; y < rc.top + 40; y += 2)
        if (FindHit(hWnd, HTCLOSE, true, y, &pt)) {
            pt.x -= 3;   // off the edge of the box
            ClickAt(hWnd, pt);
            return true;
        }
    return false;
}

// The first item of the menu bar.
bool ClickFirstMenu(HWND hWnd)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    POINT pt;
    if (!FindHit(hWnd, HTMENU, false, rc.left + 20, &pt))
        return false;
    pt.y += GetSystemMetrics(SM_CYMENU) / 2 - 1;
    ClickAt(hWnd, pt);
    return true;
}

void Snap(const char* name)
{
    std::string done = gArtefacts + "\\" + name + ".done";
    DeleteFileA(done.c_str());
    Log("SNAP %s", name);
    if (!WaitUntil([&]() { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000))
        Log("note: no screenshot %s", name);
}

// ---- reading controls ----------------------------------------------------

struct Combo
{
    std::vector<std::string> items;
    std::string selected;   // "" when nothing is selected
    bool enabled = false;
};

Combo ReadCombo(HWND hDlg, int id)
{
    Combo c;
    HWND hCB = GetDlgItem(hDlg, id);
    c.enabled = IsWindowEnabled(hCB) != FALSE;
    LRESULT n = SendMessageA(hCB, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; i++) {
        // The wide form: Wine hands list texts across processes as Unicode.
        LRESULT len = SendMessageW(hCB, CB_GETLBTEXTLEN, i, 0);
        std::wstring w(len > 0 ? len + 1 : 1, L'\0');
        LRESULT got = SendMessageW(hCB, CB_GETLBTEXT, i, (LPARAM)&w[0]);
        w.resize(got > 0 ? got : 0);
        char sz[256] = "";
        WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, sz, sizeof(sz), NULL, NULL);
        c.items.push_back(sz);
    }
    LRESULT sel = SendMessageA(hCB, CB_GETCURSEL, 0, 0);
    if (sel >= 0 && sel < (LRESULT)c.items.size())
        c.selected = c.items[sel];
    return c;
}

std::string Join(const std::vector<std::string>& v)
{
    std::string s;
    for (const std::string& x : v)
        s += (s.empty() ? "" : ",") + x;
    return s;
}

bool Checked(HWND hDlg, int id)
{
    return SendMessageA(GetDlgItem(hDlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

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

// ---- the open menu, from its pixels ----------------------------------------

// Each text line of a visible popup menu of the program, top to bottom:
// true when drawn in normal (black) menu text, false when greyed.
// Separators are thin lines and are left out.
bool ReadOpenMenu(std::vector<bool>* pLines)
{
    HWND hMenu = NULL;
    for (HWND hWnd : OtherWindows())
        if (ClassOf(hWnd) == "#32768")
            hMenu = hWnd;
    if (hMenu == NULL)
        return false;

    RECT rc;
    GetWindowRect(hMenu, &rc);
    const int inset = 4;
    const int w = rc.right - rc.left - 2 * inset, h = rc.bottom - rc.top - 2 * inset;
    if (w <= 0 || h <= 0)
        return false;

    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* pBits = NULL;
    HDC hScreen = GetDC(NULL);
    HDC hMem = CreateCompatibleDC(hScreen);
    HBITMAP hBmp = CreateDIBSection(hScreen, &bi, DIB_RGB_COLORS, &pBits, NULL, 0);
    HGDIOBJ hOld = SelectObject(hMem, hBmp);
    BitBlt(hMem, 0, 0, w, h, hScreen, rc.left + inset, rc.top + inset, SRCCOPY);
    SelectObject(hMem, hOld);
    std::vector<DWORD> px((const DWORD*)pBits, (const DWORD*)pBits + (size_t)w * h);
    DeleteObject(hBmp);
    DeleteDC(hMem);
    ReleaseDC(NULL, hScreen);

    // The background is the commonest colour.
    DWORD bg = px[0];
    {
        std::vector<std::pair<DWORD, int>> counts;
        for (DWORD c : px) {
            bool seen = false;
            for (auto& e : counts)
                if (e.first == c) { e.second++; seen = true; break; }
            if (!seen && counts.size() < 64)
                counts.push_back({ c, 1 });
        }
        int best = 0;
        for (auto& e : counts)
            if (e.second > best) { best = e.second; bg = e.first; }
    }

    auto dark = [](DWORD c) {
        int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
        return r < 48 && g < 48 && b < 48;
    };
    pLines->clear();
    int top = -1;
    bool fDark = false;
    for (int y = 0; y <= h; y++) {
        bool fInk = false, fRowDark = false;
        for (int x = 0; y < h && x < w; x++) {
            DWORD c = px[(size_t)y * w + x] & 0xFFFFFF;
            if (c != (bg & 0xFFFFFF)) {
                fInk = true;
                fRowDark = fRowDark || dark(c);
            }
        }
        if (fInk) {
            if (top < 0) { top = y; fDark = false; }
            fDark = fDark || fRowDark;
        } else if (top >= 0) {
            if (y - top >= 5)
                pLines->push_back(fDark);
            top = -1;
        }
    }
    return true;
}

// ---- scenarios -------------------------------------------------------------

void Recover()
{
    // Ends whatever a failed scenario left open, so the next one can run.
    for (int round = 0; round < 3; round++) {
        std::vector<HWND> open = OtherWindows();
        if (open.empty())
            return;
        for (HWND hWnd : open) {
            if (ClassOf(hWnd) == "#32768")
                Chord(hWnd, { VK_ESCAPE });
            else if (ClassOf(hWnd) == "#32770")
                PostMessageA(hWnd, WM_COMMAND, ButtonOf(hWnd, "Cancel") ? IDCANCEL : IDOK, 0);
        }
        Settle();
    }
}

void Run(const char* name, const std::function<void()>& scenario, bool fNeedsMain = true)
{
    gScenario = name;
    gProblems.clear();
    if (fNeedsMain && (gMain == NULL || !IsWindow(gMain))) {
        Problem("the main window is gone");
    } else {
        scenario();
    }
    if (gProblems.empty()) {
        gPassed++;
        Log("PASS %s", name);
    } else {
        gFailed++;
        for (const std::string& p : gProblems)
            Log("FAIL %s: %s", name, p.c_str());
        Recover();
    }
}

// The program starts with no COM1: "Connection failed." comes before the
// main window is shown; the window then comes up.
void StartWithoutPort()
{
    HWND hWnd = WaitFor([]() { return FindWindowA("TTYWndClass", NULL); }, kStartWait);
    if (!CHECK(hWnd != NULL, "no window of class TTYWndClass appeared"))
        return;
    GetWindowThreadProcessId(hWnd, &gPid);
    gProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, gPid);
    gMain = hWnd;

    HWND hBox = WaitBox("Connection failed.");
    if (!CHECK(hBox != NULL, "no \"Connection failed.\" box"))
        return;
    CHECK(!IsWindowVisible(gMain), "the main window was visible while \"Connection failed.\" was shown");
    CHECK(TextOf(hBox) == kAppTitle, "the box is captioned \"%s\"", TextOf(hBox).c_str());
    CHECK(GetWindow(hBox, GW_OWNER) == gMain, "the box is not owned by the main window");

    Chord(hBox, { VK_RETURN });
    CHECK(WaitGone(hBox), "Enter did not close the box");
    CHECK(WaitUntil([]() { return IsWindowVisible(gMain) != FALSE; }, kWindowWait),
          "the main window did not show");
    CHECK(TextOf(gMain) == kAppTitle, "the main window is titled \"%s\"", TextOf(gMain).c_str());
    Settle();
}

// The open Action menu: Connect in normal text, Disconnect and Download
// greyed, Exit in normal text.
void DisconnectedMenu()
{
    if (!CHECK(ClickFirstMenu(gMain), "no menu bar found on the main window"))
        return;
    bool fOpen = WaitUntil([]() {
        for (HWND hWnd : OtherWindows())
            if (ClassOf(hWnd) == "#32768")
                return true;
        return false;
    }, kWindowWait);
    if (!CHECK(fOpen, "the Action menu did not open"))
        return;
    Settle();
    Snap("main-menu");

    std::vector<bool> lines;
    if (CHECK(ReadOpenMenu(&lines), "the open menu could not be captured")) {
        std::string seen;
        for (bool f : lines)
            seen += f ? "normal " : "grey ";
        CHECK(lines.size() == 4 && lines[0] && !lines[1] && !lines[2] && lines[3],
              "menu lines are [%s], want [normal grey grey normal] (Connect, Disconnect, Download, Exit)",
              seen.c_str());
    }

    Chord(gMain, { VK_ESCAPE });
    Chord(gMain, { VK_ESCAPE });
    Settle();
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
    if (!CHECK(hBox != NULL, "Shift+PgUp (Connect) showed no \"Connection failed.\""))
        return;
    for (HWND hWnd : OtherWindows())
        CHECK(hWnd == hBox, "a window \"%s\" (%s) appeared", TextOf(hWnd).c_str(), ClassOf(hWnd).c_str());
    Chord(hBox, { VK_RETURN });
    CHECK(WaitGone(hBox), "Enter did not close the box");
    Settle();
    CHECK(OtherWindows().empty(), "something is still open");
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
    if (!CHECK(hDlg != NULL, "Alt+S opened no \"Serial Port Setting\" dialog"))
        return;
    Settle();
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

    Chord(hDlg, { VK_ESCAPE });
    CHECK(WaitGone(hDlg), "Esc did not close the dialog");
}

// Ends a dialog with one of its buttons.
bool ClickToClose(HWND hDlg, int id, const char* what)
{
    Click(GetDlgItem(hDlg, id));
    bool fGone = CHECK(WaitGone(hDlg), "%s did not close the dialog", what);
    Settle();
    return fGone;
}

// Opens Settings again, compares what it shows, and closes it with a key.
void ExpectSettingsShown(const char* want, WORD vkClose)
{
    HWND hDlg = OpenSettings();
    if (!CHECK(hDlg != NULL, "Settings did not open again"))
        return;
    Settle();
    std::string shown = SettingsShown(hDlg);
    CHECK(shown == want, "shows %s, want %s", shown.c_str(), want);
    Chord(hDlg, { vkClose });
    CHECK(WaitGone(hDlg), "the key did not close the dialog");
}

// 57600 and Ok: the next Settings shows 57600.
void SettingsOk57600()
{
    HWND hDlg = OpenSettings();
    if (!CHECK(hDlg != NULL, "no Settings dialog"))
        return;
    Click(GetDlgItem(hDlg, IDC_INSTBAUD57600));
    Settle();
    CHECK(Checked(hDlg, IDC_INSTBAUD57600) && !Checked(hDlg, IDC_INSTBAUD115200),
          "clicking 57600 did not set it alone");
    if (ClickToClose(hDlg, IDOK, "Ok"))
        ExpectSettingsShown("port COM1, baud 19200, data bits 8, parity None, stop bits 1, install 57600",
                            VK_ESCAPE);
}

// Changes ended with Cancel are not kept; Enter (Ok) on an unchanged dialog
// keeps everything too.
void SettingsCancel()
{
    HWND hDlg = OpenSettings();
    if (!CHECK(hDlg != NULL, "no Settings dialog"))
        return;
    Settle();
    // The port list has the focus: COM2, then the baud list: 115200.
    Chord(hDlg, { VK_DOWN });
    Chord(hDlg, { VK_TAB });
    Chord(hDlg, { VK_DOWN });
    Click(GetDlgItem(hDlg, IDC_INSTBAUD115200));
    Settle();
    std::string changed = SettingsShown(hDlg);
    CHECK(changed == "port COM2, baud 115200, data bits 8, parity None, stop bits 1, install 115200",
          "the changes did not take in the dialog: %s", changed.c_str());

    if (ClickToClose(hDlg, IDCANCEL, "Cancel")) {
        ExpectSettingsShown("port COM1, baud 19200, data bits 8, parity None, stop bits 1, install 57600",
                            VK_RETURN);
        ExpectSettingsShown("port COM1, baud 19200, data bits 8, parity None, stop bits 1, install 57600",
                            VK_ESCAPE);
    }
}

// About: the exact first line; Esc and the close box leave it open, Enter
// closes it.
void About()
{
    Chord(gMain, { VK_MENU, 'B' });
    HWND hDlg = WaitDialog("About orvane");
    if (!CHECK(hDlg != NULL, "Alt+B opened no \"About orvane\" dialog"))
        return;
    Settle();
    Snap("about");

    std::string line = TextOf(GetDlgItem(hDlg, IDC_ABOUTTITLE));
    CHECK(line == kAboutLine, "the first line is \"%s\"", line.c_str());
    bool fNotice = false;
    for (HWND hChild : Children(hDlg))
        if (ClassOf(hChild) == "Static" && GetDlgCtrlID(hChild) != IDC_ABOUTTITLE && !TextOf(hChild).empty())
            fNotice = true;
    CHECK(fNotice, "no maker's notice line");

    Chord(hDlg, { VK_ESCAPE });
    Settle();
    CHECK(IsWindow(hDlg) && IsWindowVisible(hDlg), "Esc closed the About box");
    if (CHECK(ClickCloseBox(hDlg), "no close box found on the About box")) {
        Settle();
        CHECK(IsWindow(hDlg) && IsWindowVisible(hDlg), "the close box closed the About box");
    }
    if (!IsWindow(hDlg))
        return;
    Chord(hDlg, { VK_RETURN });
    CHECK(WaitGone(hDlg), "Enter did not close the About box");
}

// Asks to close; answers the question with the button of this text.
bool AnswerClose(const std::function<void()>& ask, const char* answer)
{
    ask();
    HWND hBox = WaitBox("OK to close window?");
    if (!CHECK(hBox != NULL, "no \"OK to close window?\" question"))
        return false;
    CHECK(TextOf(hBox) == kAppTitle, "the question is captioned \"%s\"", TextOf(hBox).c_str());
    HWND hButton = ButtonOf(hBox, answer);
    if (!CHECK(hButton != NULL, "the question has no %s button", answer))
        return false;
    Click(hButton);
    return CHECK(WaitGone(hBox), "%s did not close the question", answer);
}

void CloseAnsweredCancel()
{
    if (AnswerClose([]() { CHECK(ClickCloseBox(gMain), "no close box on the main window"); }, "Cancel")) {
        Settle();
        CHECK(IsWindow(gMain) && IsWindowVisible(gMain), "the close box with Cancel closed the window");
    }
    if (AnswerClose([]() { Chord(gMain, { VK_MENU, 'A' }); Chord(gMain, { 'X' }); }, "Cancel")) {
        Settle();
        CHECK(IsWindow(gMain) && IsWindowVisible(gMain), "Exit with Cancel closed the window");
    }
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

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: driver ARTEFACT-DIR\n");
        return 100;
    }
    gArtefacts = argv[1];

    struct { const char* name; void (*run)(); } scenarios[] = {
        { "start-without-com1", StartWithoutPort },
        { "disconnected-menu", DisconnectedMenu },
        { "accelerators-while-disconnected", AcceleratorsWhileDisconnected },
        { "settings-defaults", SettingsDefaults },
        { "settings-ok-57600", SettingsOk57600 },
        { "settings-cancel", SettingsCancel },
        { "about", About },
        { "close-cancel", CloseAnsweredCancel },
        { "close-ok", CloseAnsweredOk },
    };

    // Named scenarios only, when given: then the driver attaches to a
    // program that is already running.
    std::vector<std::string> only(argv + 2, argv + argc);
    if (!only.empty()) {
        gMain = WaitFor([]() { return FindWindowA("TTYWndClass", NULL); }, kStartWait);
        GetWindowThreadProcessId(gMain, &gPid);
        gProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, gPid);
    }
    for (const auto& sc : scenarios) {
        bool fWanted = only.empty();
        for (const std::string& name : only)
            fWanted = fWanted || name == sc.name;
        if (fWanted)
            Run(sc.name, sc.run, sc.run != StartWithoutPort);
    }

    Log("driver: %d passed, %d failed", gPassed, gFailed);
    return gFailed;
}
