// Reading what the program shows in its controls.
#include "driver.h"

#include <commctrl.h>

#include <algorithm>
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
bool ReadOpenMenu(std::vector<bool>* pLines)
{
    HWND hMenu = OpenMenu();
    if (hMenu == NULL)
        return false;

    RECT rc;
    GetWindowRect(hMenu, &rc);
    const int inset = 4;
    const int w = rc.right - rc.left - 2 * inset, h = rc.bottom - rc.top - 2 * inset;
    if (w <= 0 || h <= 0)
        return false;

    BITMAPINFO bi = { { sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0 }, {} };
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
    std::map<DWORD, int> counts;
    for (DWORD c : px)
        counts[c & 0xFFFFFF]++;
    const DWORD bg = std::max_element(counts.begin(), counts.end(),
        [](const auto& a, const auto& b) { return a.second < b.second; })->first;

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
    if (WaitFor(OpenMenu) == NULL)
        return "(the menu did not open)";
    Settle();
    if (snap)
        Snap(snap);
    std::vector<bool> lines;
    std::string seen = ReadOpenMenu(&lines) ? "" : "(the open menu could not be captured)";
    for (bool f : lines)
        seen += std::string(seen.empty() ? "" : " ") + (f ? "normal" : "grey");
    Chord(gMain, { VK_ESCAPE });
    Chord(gMain, { VK_ESCAPE });
    Settle();
    return seen;
}
