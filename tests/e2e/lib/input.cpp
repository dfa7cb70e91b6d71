// Keys, text and clicks, sent with SendInput as a user would give them.
#include "driver.h"

// Activation reaches the program later than the call returns, and it puts
// the focus back where the window last had it: input sent in between can
// lose its target (a pressed button that loses the focus does not click).
// So input waits until the window's own thread has taken the activation and
// the focus.  A window that cannot be activated is a problem of the scenario
// and gets no input.
static bool Foreground(HWND hWnd)
{
    hWnd = GetAncestor(hWnd, GA_ROOT);
    auto taken = [&]() {
        const GUITHREADINFO gui = GuiOf(hWnd);
        return GetForegroundWindow() == hWnd && gui.hwndActive == hWnd &&
               (gui.hwndFocus == hWnd || IsChild(hWnd, gui.hwndFocus));
    };
    if (WaitUntil([&]() { return taken() || (SetForegroundWindow(hWnd), taken()); }, 10000))
        return true;
    const GUITHREADINFO gui = GuiOf(hWnd);
    Problem("could not activate \"%s\" (%s) for input: the foreground is \"%s\", the program's active window "
            "\"%s\", its focus %s", TextOf(hWnd).c_str(), IsWindow(hWnd) ? "visible" : "gone",
            TextOf(GetForegroundWindow()).c_str(), TextOf(gui.hwndActive).c_str(),
            gui.hwndFocus ? ClassOf(gui.hwndFocus).c_str() : "nowhere");
    return false;
}

// A key, or with ch a character; PgUp to Down are extended keys.
static INPUT Key(WORD vk, bool up, wchar_t ch = 0)
{
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = ch ? ch : (WORD)MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (ch ? KEYEVENTF_UNICODE : 0) |
                    (vk >= VK_PRIOR && vk <= VK_DOWN ? KEYEVENTF_EXTENDEDKEY : 0);
    return in;
}

static void Send(HWND hTarget, std::vector<INPUT> in)
{
    if (Foreground(hTarget))
        SendInput((UINT)in.size(), in.data(), sizeof(INPUT));
}

// Presses the keys in order and releases them in reverse.
void Chord(HWND hTarget, std::initializer_list<WORD> keys)
{
    std::vector<INPUT> in;
    for (WORD vk : keys)
        in.push_back(Key(vk, false));
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it)
        in.push_back(Key(*it, true));
    Send(hTarget, in);
}

// Types UTF-8 text as characters; "\n" is the Enter key, "\t" Tab.
void Type(HWND hTarget, const std::string& text)
{
    std::wstring w(text.size() + 1, L'\0');
    w.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &w[0], (int)w.size()));
    std::vector<INPUT> in;
    for (wchar_t ch : w)
        for (bool up : { false, true })
            in.push_back(ch == L'\n' ? Key(VK_RETURN, up) : ch == L'\t' ? Key(VK_TAB, up) : Key(0, up, ch));
    Send(hTarget, in);
}

// The pointer is moved first and the press waits until it is there: a
// press that went out before the move took would land where the pointer was.
// A click where the last one was, within the double-click time, would be a
// double click: it waits for that time to pass.
static void ClickAt(HWND hTarget, POINT pt)
{
    static POINT last = { -100, -100 };
    static ULONGLONG lastMs = 0;
    if (abs(pt.x - last.x) <= GetSystemMetrics(SM_CXDOUBLECLK) && abs(pt.y - last.y) <= GetSystemMetrics(SM_CYDOUBLECLK))
        WaitUntil([&]() { return GetTickCount64() - lastMs > GetDoubleClickTime(); });
    last = pt;
    if (!Foreground(hTarget))
        return;
    INPUT in[3] = {};
    for (INPUT& i : in) {
        i.type = INPUT_MOUSE;
        i.mi.dx = MulDiv(pt.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
        i.mi.dy = MulDiv(pt.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    }
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in[0], sizeof(INPUT));
    POINT now = {};
    if (!CHECK(WaitUntil([&]() { return GetCursorPos(&now) && now.x == pt.x && now.y == pt.y; }, 10000),
               "the pointer stayed at %ld,%ld instead of %ld,%ld", now.x, now.y, pt.x, pt.y))
        return;
    SendInput(2, &in[1], sizeof(INPUT));
    lastMs = GetTickCount64();
}

void Click(HWND hCtrl)
{
    RECT rc;
    GetWindowRect(hCtrl, &rc);
    ClickAt(hCtrl, POINT{ (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2 });
}

// A screen point where the window answers WM_NCHITTEST with this code,
// searched along one row (fRow) or one column of its outer rectangle.
static bool FindHit(HWND hWnd, LRESULT code, bool fRow, int nAt, POINT* pt)
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

bool InMenuMode(HWND hWnd)
{
    return (GuiOf(hWnd).flags & GUI_INMENUMODE) != 0;
}

// Esc until the window's thread has left its menus: the first closes an open
// popup, the next leaves the menu bar.
bool LeaveMenus(HWND hWnd)
{
    for (int i = 0; i < 3 && InMenuMode(hWnd); i++) {
        if (OpenMenu() != NULL) {
            Chord(hWnd, { VK_ESCAPE });
            WaitUntil([&]() { return !InMenuMode(hWnd) || OpenMenu() == NULL; });
        }
        if (InMenuMode(hWnd)) {
            Chord(hWnd, { VK_ESCAPE });
            WaitUntil([&]() { return !InMenuMode(hWnd); });
        }
    }
    return CHECK(!InMenuMode(hWnd), "the menu of \"%s\" did not close", TextOf(hWnd).c_str());
}

// The window's system menu opens for Alt+Space and closes again.  Input is
// handled in the order given: once the menu is open, everything sent to the
// window before it has been handled, and the window still takes input.
bool Handled(HWND hWnd, const char* what)
{
    hWnd = GetAncestor(hWnd, GA_ROOT);
    Chord(hWnd, { VK_MENU, VK_SPACE });
    const bool fOpened = WaitUntil([&]() { return GuiOf(hWnd).hwndMenuOwner == hWnd && OpenMenu() != NULL; });
    LeaveMenus(hWnd);
    return CHECK(fOpened, "\"%s\" did not open its system menu after %s: the input was not handled",
                 TextOf(hWnd).c_str(), what);
}
