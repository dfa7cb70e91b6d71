// Windows test programs: a window that is a terminal the way the main window
// is one (its record at index 0, painting, sizing and scrolling handed to the
// terminal), with a menu holding Connect, Disconnect and Download so that
// the port link can switch their states.
#ifndef ORVANE_TESTS_TTYWINDOW_H
#define ORVANE_TESTS_TTYWINDOW_H

#include "orvane/orvane.h"
#include "orvane/terminal/screen.h"

inline LRESULT CALLBACK TestTTYWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_PAINT:
        PaintTTY(hWnd);
        return 0;
    case WM_SIZE:
        SizeTTY(hWnd, HIWORD(lParam), LOWORD(lParam));
        return 0;
    case WM_VSCROLL:
        ScrollTTYVert(hWnd, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_HSCROLL:
        ScrollTTYHorz(hWnd, LOWORD(wParam), HIWORD(wParam));
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// A new window of that kind (no record yet: CreateTTYInfo makes it).
inline HWND CreateTestTTYWindow(DWORD dwStyle, int nWidth, int nHeight)
{
    static const ATOM atom = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = TestTTYWndProc;
        wc.cbWndExtra = sizeof(LONG_PTR);
        wc.hInstance = GetModuleHandleA(NULL);
        wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
        wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
        wc.lpszClassName = "OrvaneTestTTY";
        return RegisterClassA(&wc);
    }();
    if (atom == 0)
        return NULL;
    HMENU hMenu = CreateMenu();
    AppendMenuA(hMenu, MF_STRING, IDM_CONNECT, "&Connect");
    AppendMenuA(hMenu, MF_STRING, IDM_DISCONNECT, "&Disconnect");
    AppendMenuA(hMenu, MF_STRING, IDM_DOWNLOAD, "&Download");
    return CreateWindowExA(0, "OrvaneTestTTY", "orvane test", dwStyle, 0, 0, nWidth, nHeight, NULL, hMenu,
                           GetModuleHandleA(NULL), NULL);
}

#endif
