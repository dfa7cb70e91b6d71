// Reading what the program shows in its controls.
#include "driver.h"

#include "orvane/orvane.h"

#include <commctrl.h>

#include <algorithm>
#include <cstddef>
#include <map>

Combo ReadCombo(HWND hDlg, int id)
{
    Combo c;
    HWND hCB = GetDlgItem(hDlg, id);
    c.enabled = Enabled(hDlg, id);
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

// The range comes back as return values: a PBRANGE pointer would not cross
// into the program's process.
Progress ReadProgress(HWND hBar)
{
    Progress p;
    p.pos = (int)SendMessageA(hBar, PBM_GETPOS, 0, 0);
    p.low = (int)SendMessageA(hBar, PBM_GETRANGE, TRUE, 0);
    p.high = (int)SendMessageA(hBar, PBM_GETRANGE, FALSE, 0);
    return p;
}

// Each text line of the program's open popup menu, top to bottom: true when
// drawn in normal (black) menu text, false when greyed.  Separators are thin
// lines and are left out.
// The pixels of a screen rectangle, 0xRRGGBB, row by row.
static std::vector<DWORD> Pixels(RECT rc)
{
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0)
        return {};

    BITMAPINFO bi = { { sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0 }, {} };
    void* pBits = NULL;
    HDC hScreen = GetDC(NULL);
    HDC hMem = CreateCompatibleDC(hScreen);
    HBITMAP hBmp = CreateDIBSection(hScreen, &bi, DIB_RGB_COLORS, &pBits, NULL, 0);
    HGDIOBJ hOld = SelectObject(hMem, hBmp);
    BitBlt(hMem, 0, 0, w, h, hScreen, rc.left, rc.top, SRCCOPY);
    SelectObject(hMem, hOld);
    std::vector<DWORD> px((const DWORD*)pBits, (const DWORD*)pBits + (size_t)w * h);
    DeleteObject(hBmp);
    DeleteDC(hMem);
    ReleaseDC(NULL, hScreen);
    return px;
}

static RECT MenuRect(HWND hMenu)
{
    const int inset = 4;
    RECT rc;
    GetWindowRect(hMenu, &rc);
    InflateRect(&rc, -inset, -inset);
    return rc;
}

// Only a popup that has painted itself is read: its background is the
// menu colour (a new popup first shows what was on the screen under it).
bool ReadOpenMenu(std::vector<bool>* pLines)
{
    HWND hMenu = OpenMenu();
    if (hMenu == NULL)
        return false;
    const RECT rc = MenuRect(hMenu);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const std::vector<DWORD> px = Pixels(rc);
    if (px.empty())
        return false;

    // The background is the commonest colour.
    std::map<DWORD, int> counts;
    for (DWORD c : px)
        counts[c & 0xFFFFFF]++;
    const DWORD bg = std::max_element(counts.begin(), counts.end(),
        [](const auto& a, const auto& b) { return a.second < b.second; })->first;
    const COLORREF menu = GetSysColor(COLOR_MENU);
    if (bg != (DWORD)(GetRValue(menu) << 16 | GetGValue(menu) << 8 | GetBValue(menu)))
        return false;

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
            if (c != bg) {
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

std::string ActionMenu(const char* snap)
{
    if (!ClickFirstMenu(gMain))
        return "(no menu bar)";
    // Its four lines are there once the menu has been painted.
    std::vector<bool> lines;
    if (!WaitUntil([&]() { return ReadOpenMenu(&lines) && lines.size() == 4; }))
        return OpenMenu() ? "(the open menu shows " + std::to_string(lines.size()) + " lines)"
                          : std::string("(the menu did not open") + (InMenuMode(gMain) ? ", in menu mode)" : ")");
    if (snap)
        Snap(snap);
    std::string seen;
    for (bool f : lines)
        seen += std::string(seen.empty() ? "" : " ") + (f ? "normal" : "grey");
    // Closed, and gone from the screen: the next popup may first show what
    // it finds there.
    const RECT rc = MenuRect(OpenMenu());
    const std::vector<DWORD> shown = Pixels(rc);
    LeaveMenus(gMain);
    CHECK(WaitUntil([&]() { return Pixels(rc) != shown; }), "the closed menu stayed on the screen");
    return seen;
}

// The terminal's cells as the program holds them, read from its memory: the
// record's address is in the main window, and the screen follows the port
// handle and the port number.  The reader may be 64-bit and the program
// 32-bit, so the offset is worked out for the program's pointer size.
static_assert(offsetof(TTYINFO, abScreen) == sizeof(HANDLE) + 1, "the record starts otherwise");
std::vector<std::string> Screen()
{
    std::vector<std::string> rows;
    BOOL fWow64 = FALSE;
    IsWow64Process(gProcess, &fWow64);
    // A 32-bit window keeps 4 bytes there, which only the 32-bit call reads.
    const ULONG_PTR record = fWow64 ? (ULONG)GetWindowLongA(gMain, 0) : (ULONG_PTR)GetWindowLongPtrA(gMain, 0);
    BYTE cells[SCREEN_ROWS * SCREEN_COLUMNS];
    SIZE_T got = 0;
    if (!CHECK(record && ReadProcessMemory(gProcess, (LPCVOID)(record + (fWow64 ? 4 : sizeof(HANDLE)) + 1), cells,
                                           sizeof(cells), &got) && got == sizeof(cells),
               "could not read the terminal's screen (error %lu)", GetLastError()))
        return rows;
    for (int r = 0; r < SCREEN_ROWS; r++) {
        std::string row((const char*)cells + r * SCREEN_COLUMNS, SCREEN_COLUMNS);
        row.erase(row.find_last_not_of(' ') + 1);
        rows.push_back(row);
    }
    return rows;
}

// How far the bar is drawn on the screen: its pixels in the highlight colour
// along the middle row.  What the program has not painted yet does not count.
int BarDrawn(HWND hBar)
{
    RECT rc;
    GetClientRect(hBar, &rc);
    MapWindowPoints(hBar, NULL, (POINT*)&rc, 2);
    HDC hScreen = GetDC(NULL);
    const COLORREF bar = GetSysColor(COLOR_HIGHLIGHT);
    int drawn = 0;
    for (int x = rc.left; x < rc.right; x++)
        drawn += GetPixel(hScreen, x, (rc.top + rc.bottom) / 2) == bar;
    ReleaseDC(NULL, hScreen);
    return drawn;
}
