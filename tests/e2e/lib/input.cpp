// Keys, text and clicks, sent with SendInput as a user would give them.
#include "driver.h"

// Activation reaches the program later than the call returns, and it puts
// the focus back where the window last had it: input sent in between can
// lose its target (a pressed button that loses the focus does not click).
// So the window is activated only when it is not already active, and the
// program is given time to take it.  Input for a control goes to its window.
static bool Foreground(HWND hWnd)
{
    hWnd = GetAncestor(hWnd, GA_ROOT);
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
    Foreground(hTarget);
    SendInput((UINT)in.size(), in.data(), sizeof(INPUT));
    Sleep(200);
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

static void ClickAt(HWND hTarget, POINT pt)
{
    Foreground(hTarget);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = MulDiv(pt.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = MulDiv(pt.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    for (DWORD flag : { 0, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP }) {
        in.mi.dwFlags = flag | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        SendInput(1, &in, sizeof(INPUT));
        Sleep(flag == MOUSEEVENTF_LEFTUP ? 200 : 300);
    }
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
