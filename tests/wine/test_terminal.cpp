// The screen on a real window: what PaintTTY puts on the pixels, and the
// scroll bars SizeTTY and the scroll commands leave.  The painted screen is
// also saved as terminal-screen.bmp in the working folder (a ctest step turns
// it into a PNG to look at).
#include "orvane/orvane.h"
#include "orvane/terminal/geometry.h"
#include "orvane/terminal/screen.h"
#include "orvane/terminal/ttywrite.h"
#include "tests/support/ttywindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The client area's pixels, 0x00RRGGBB, row after row from the top.
struct Capture
{
    int nWidth = 0, nHeight = 0;
    std::vector<DWORD> adwPixels;

    DWORD At(int x, int y) const { return adwPixels[(size_t)y * nWidth + x]; }

    // Pixels of the rectangle (clipped to the capture) that differ from dwBack.
    int CountDifferent(RECT rc, DWORD dwBack) const
    {
        int n = 0;
        for (int y = std::max(0, (int)rc.top); y < std::min(nHeight, (int)rc.bottom); ++y)
            for (int x = std::max(0, (int)rc.left); x < std::min(nWidth, (int)rc.right); ++x)
                n += At(x, y) != dwBack;
        return n;
    }

    bool SaveBmp(const char* pszPath) const
    {
        BITMAPINFOHEADER bih{};
        bih.biSize = sizeof bih;
        bih.biWidth = nWidth;
        bih.biHeight = -nHeight;
        bih.biPlanes = 1;
        bih.biBitCount = 32;
        bih.biCompression = BI_RGB;
        BITMAPFILEHEADER bfh{};
        bfh.bfType = 0x4D42;   // "BM"
        bfh.bfOffBits = sizeof bfh + sizeof bih;
        bfh.bfSize = bfh.bfOffBits + (DWORD)(adwPixels.size() * 4);
        FILE* f = std::fopen(pszPath, "wb");
        if (!f)
            return false;
        bool ok = std::fwrite(&bfh, sizeof bfh, 1, f) == 1 && std::fwrite(&bih, sizeof bih, 1, f) == 1 &&
                  std::fwrite(adwPixels.data(), 4, adwPixels.size(), f) == adwPixels.size();
        return std::fclose(f) == 0 && ok;
    }
};

DWORD Rgb(COLORREF cr)
{
    return ((DWORD)GetRValue(cr) << 16) | ((DWORD)GetGValue(cr) << 8) | GetBValue(cr);
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

class TerminalWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        hWnd = CreateTestTTYWindow(WS_OVERLAPPEDWINDOW, 300, 200);
        ASSERT_NE(hWnd, (HWND)NULL);
        ASSERT_EQ(CreateTTYInfo(hWnd), TRUE);
        tty = GetTTYInfo(hWnd);
        ASSERT_GT(tty->xChar, 0);
        ASSERT_GT(tty->yChar, 0);
        ShowWindow(hWnd, SW_SHOWNORMAL);
        PumpMessages();
    }

    void TearDown() override
    {
        if (hWnd) {
            DestroyTTYInfo(hWnd);
            DestroyWindow(hWnd);
        }
        PumpMessages();
    }

    // Resizes the window so that its client area is nWidth x nHeight.
    void SetClientSize(int nWidth, int nHeight)
    {
        RECT rc{0, 0, nWidth, nHeight};
        AdjustWindowRect(&rc, WS_OVERLAPPEDWINDOW, GetMenu(hWnd) != NULL);
        SetWindowPos(hWnd, NULL, 0, 0, rc.right - rc.left, rc.bottom - rc.top, SWP_NOZORDER | SWP_NOMOVE);
        PumpMessages();
    }

    void Write(const std::string& text)
    {
        WriteTTYBlock(hWnd, reinterpret_cast<const BYTE*>(text.data()), (int)text.size());
    }

    // The client area's pixels, after repainting all of it (or only what
    // is marked for repainting).
    Capture CaptureClient(bool fRepaintAll = true)
    {
        if (fRepaintAll)
            InvalidateRect(hWnd, NULL, TRUE);
        UpdateWindow(hWnd);
        PumpMessages();
        RECT rc;
        GetClientRect(hWnd, &rc);
        Capture cap;
        cap.nWidth = rc.right;
        cap.nHeight = rc.bottom;
        cap.adwPixels.assign((size_t)cap.nWidth * cap.nHeight, 0);

        HDC hDC = GetDC(hWnd);
        HDC hMem = CreateCompatibleDC(hDC);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = cap.nWidth;
        bi.bmiHeader.biHeight = -cap.nHeight;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        void* pvBits = NULL;
        HBITMAP hBmp = CreateDIBSection(hMem, &bi, DIB_RGB_COLORS, &pvBits, NULL, 0);
        HGDIOBJ hOld = SelectObject(hMem, hBmp);
        BitBlt(hMem, 0, 0, cap.nWidth, cap.nHeight, hDC, 0, 0, SRCCOPY);
        GdiFlush();
        if (pvBits)
            std::memcpy(cap.adwPixels.data(), pvBits, cap.adwPixels.size() * 4);
        SelectObject(hMem, hOld);
        DeleteObject(hBmp);
        DeleteDC(hMem);
        ReleaseDC(hWnd, hDC);
        return cap;
    }

    // Every cell holding a visible character shows pixels of the text colour's
    // side; every blank cell two or more columns away from text shows only the
    // background.
    void ExpectCellsMatchTheScreen(const Capture& cap)
    {
        const DWORD dwBack = Rgb(GetSysColor(COLOR_WINDOW));
        int nInk = 0, nBlank = 0;
        for (int r = 0; r < SCREEN_ROWS; ++r) {
            for (int c = 0; c < SCREEN_COLUMNS; ++c) {
                const RECT rc = TTYCellRect(tty, r, c);
                if (rc.left < 0 || rc.top < 0 || rc.right > cap.nWidth || rc.bottom > cap.nHeight)
                    continue;   // not wholly in view
                const BYTE b = tty->abScreen[r * SCREEN_COLUMNS + c];
                bool fNearText = false;
                for (int n = std::max(0, c - 2); n <= std::min(SCREEN_COLUMNS - 1, c + 2); ++n)
                    fNearText |= tty->abScreen[r * SCREEN_COLUMNS + n] != ' ';
                const int nDiff = cap.CountDifferent(rc, dwBack);
                if (b > ' ' && b < 0x7F) {
                    EXPECT_GT(nDiff, 0) << "cell " << r << "," << c << " holds '" << (char)b << "'";
                    ++nInk;
                } else if (!fNearText) {
                    EXPECT_EQ(nDiff, 0) << "blank cell " << r << "," << c;
                    ++nBlank;
                }
            }
        }
        EXPECT_GT(nInk, 20);
        EXPECT_GT(nBlank, 100);
    }

    HWND hWnd = NULL;
    NPTTYINFO tty = NULL;
};

TEST_F(TerminalWindow, PaintsTheTextAndOnlyTheText)
{
    SetClientSize(SCREEN_COLUMNS * tty->xChar + 24, SCREEN_ROWS * tty->yChar + 16);
    EXPECT_EQ(tty->xScroll, 0);
    EXPECT_EQ(tty->yScroll, 0);

    tty->fAutoWrap = FALSE;
    Write("orvane terminal: 80 x 25\r\n\r\n");
    Write("  The quick brown fox jumps over the lazy dog 0123456789\r\n");
    Write("  [ ] { } < > # % & * + = ? @ ~ ^ | \\ /\r\n\n\n");
    // Without the wrap the last cell takes every byte past it: it ends with 'E'.
    Write(std::string(SCREEN_COLUMNS - 1, '.') + "ABCDE");
    for (int r = 7; r < SCREEN_ROWS - 1; ++r)
        Write("\r\n" + std::string((size_t)(r - 7) * 4, ' ') + "row " + std::to_string(r));
    Write("\r\n" + std::string(72, ' ') + "bottom.!");

    const Capture cap = CaptureClient();
    ASSERT_GE(cap.nWidth, SCREEN_COLUMNS * tty->xChar);
    ExpectCellsMatchTheScreen(cap);

    // Beyond the grid the window background shows.
    const DWORD dwBack = Rgb(GetSysColor(COLOR_WINDOW));
    RECT rcRight{SCREEN_COLUMNS * tty->xChar, 0, cap.nWidth, cap.nHeight};
    RECT rcBelow{0, SCREEN_ROWS * tty->yChar, cap.nWidth, cap.nHeight};
    EXPECT_EQ(cap.CountDifferent(rcRight, dwBack), 0);
    EXPECT_EQ(cap.CountDifferent(rcBelow, dwBack), 0);

    EXPECT_TRUE(cap.SaveBmp("terminal-screen.bmp"));
}

TEST_F(TerminalWindow, ScrollBarsFollowASmallWindow)
{
    SetClientSize(SCREEN_COLUMNS * tty->xChar / 2, SCREEN_ROWS * tty->yChar / 2);
    RECT rc;
    GetClientRect(hWnd, &rc);
    // Whatever the bars took from the client area, the record has the final size.
    EXPECT_EQ(tty->xSize, rc.right);
    EXPECT_EQ(tty->ySize, rc.bottom);
    EXPECT_EQ(tty->xScroll, SCREEN_COLUMNS * tty->xChar - rc.right);
    EXPECT_EQ(tty->yScroll, SCREEN_ROWS * tty->yChar - rc.bottom);
    int nMin = -1, nMax = -1;
    GetScrollRange(hWnd, SB_VERT, &nMin, &nMax);
    EXPECT_EQ(nMin, 0);
    EXPECT_EQ(nMax, tty->yScroll);
    GetScrollRange(hWnd, SB_HORZ, &nMin, &nMax);
    EXPECT_EQ(nMax, tty->xScroll);
    EXPECT_NE(GetWindowLongA(hWnd, GWL_STYLE) & WS_VSCROLL, 0);
    EXPECT_NE(GetWindowLongA(hWnd, GWL_STYLE) & WS_HSCROLL, 0);

    // Commands through the window: page down, then a thumb released between
    // two cell edges.
    SendMessageA(hWnd, WM_VSCROLL, MAKEWPARAM(SB_PAGEDOWN, 0), 0);
    EXPECT_EQ(tty->yOffset, std::min(tty->ySize, tty->yScroll));
    EXPECT_EQ(GetScrollPos(hWnd, SB_VERT), tty->yOffset);
    const int nThumb = 3 * tty->yChar + tty->yChar / 2;
    SendMessageA(hWnd, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 5), 0);
    SendMessageA(hWnd, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, nThumb), 0);
    EXPECT_EQ(tty->yOffset, nThumb);
    EXPECT_EQ(GetScrollPos(hWnd, SB_VERT), nThumb);
    SendMessageA(hWnd, WM_HSCROLL, MAKEWPARAM(SB_RIGHT, 0), 0);
    EXPECT_EQ(tty->xOffset, tty->xScroll);
    EXPECT_EQ(GetScrollPos(hWnd, SB_HORZ), tty->xScroll);

    // The part in view is painted at the scrolled place.
    tty->fAutoWrap = FALSE;
    for (int r = 0; r < SCREEN_ROWS - 1; ++r)
        Write(std::string(SCREEN_COLUMNS - 1, r % 2 ? 'H' : ' ') + "\r\n");
    ExpectCellsMatchTheScreen(CaptureClient());

    // Grown past the grid even with both bars still in place: both offsets
    // back to 0, both bars gone.
    SetClientSize(SCREEN_COLUMNS * tty->xChar + GetSystemMetrics(SM_CXVSCROLL) + 10,
                  SCREEN_ROWS * tty->yChar + GetSystemMetrics(SM_CYHSCROLL) + 10);
    EXPECT_EQ(tty->xOffset, 0);
    EXPECT_EQ(tty->yOffset, 0);
    EXPECT_EQ(tty->xScroll, 0);
    EXPECT_EQ(tty->yScroll, 0);
    EXPECT_EQ(GetWindowLongA(hWnd, GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL), 0);
}

// Scrolling moves the pixels already painted and repaints only the strip
// it uncovers: the result must equal a full repaint at the new offsets, line
// by line and column by column, in both directions.
TEST_F(TerminalWindow, ScrollingMovesThePaintedPixels)
{
    SetClientSize(SCREEN_COLUMNS * tty->xChar / 2, SCREEN_ROWS * tty->yChar / 2);
    tty->fAutoWrap = FALSE;
    for (int r = 0; r < SCREEN_ROWS; ++r) {
        std::string row;
        for (int c = 0; c < SCREEN_COLUMNS - 1; ++c)
            row += (char)('A' + (r * 7 + c) % 26);
        Write(row + (r < SCREEN_ROWS - 1 ? "\r\n" : ""));
    }
    CaptureClient();
    const struct { UINT uMsg; WORD wCmd; } steps[] = {
        { WM_VSCROLL, SB_LINEDOWN }, { WM_VSCROLL, SB_LINEDOWN }, { WM_HSCROLL, SB_LINERIGHT },
        { WM_VSCROLL, SB_LINEUP }, { WM_HSCROLL, SB_PAGERIGHT }, { WM_HSCROLL, SB_LINELEFT },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.uMsg == WM_VSCROLL ? "vertical" : "horizontal");
        const int x = tty->xOffset, y = tty->yOffset;
        SendMessageA(hWnd, step.uMsg, MAKEWPARAM(step.wCmd, 0), 0);
        ASSERT_TRUE(tty->xOffset != x || tty->yOffset != y) << "the command did not scroll";
        const Capture scrolled = CaptureClient(false);
        const Capture whole = CaptureClient(true);
        ASSERT_EQ(scrolled.adwPixels.size(), whole.adwPixels.size());
        size_t nDiff = 0;
        for (size_t i = 0; i < whole.adwPixels.size(); ++i)
            nDiff += scrolled.adwPixels[i] != whole.adwPixels[i];
        EXPECT_EQ(nDiff, 0u) << "pixels differ from a full repaint";
    }
}

} // namespace
