// The main window: the terminal, the commands of its menu and accelerators,
// and the modal dialogs it runs.
#include "orvane/shell/shell.h"
#include "orvane/installer/installdlg.h"
#include "orvane/settings/settings.h"
#include "orvane/terminal/screen.h"
#include "orvane/terminal/ttywrite.h"

#include <cstring>

namespace {

HINSTANCE WindowInstance(HWND hWnd)
{
    return (HINSTANCE)GetWindowLongPtrA(hWnd, GWLP_HINSTANCE);
}

void ConnectionFailed(HWND hWnd)
{
    MessageBoxA(hWnd, "Connection failed.", gszAppName, MB_ICONEXCLAMATION);
}

void SettingsFailed(HWND hWnd)
{
    MessageBoxA(hWnd, "Settings failed!", gszAppName, MB_ICONEXCLAMATION);
}

// A received line that asks for the normal line settings waits for this
// thread, which alone changes them.
#define WM_PARSERECEIVED (WM_APP + 1)

void ParseOnWindowThread(void)
{
    if (HWND hWnd = hTTYWnd)
        PostMessageA(hWnd, WM_PARSERECEIVED, 0, 0);
}

// WM_CREATE: the record, then the first connection attempt, all before the
// window is shown.  Creation always goes on, with or without a record.
LRESULT CreateTTYWindow(HWND hWnd)
{
    gpfnParseOnWindowThread = ParseOnWindowThread;
    if (CreateTTYInfo(hWnd) == -1)
        return 0;
    if (!OpenConnection(hWnd, 1))
        ConnectionFailed(hWnd);
    return 1;
}

// WM_CLOSE from the close box, the system menu, Alt+F4 and Exit.
LRESULT CloseTTYWindow(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (MessageBoxA(hWnd, "OK to close window?", gszAppName, MB_OKCANCEL | MB_ICONQUESTION) == IDOK)
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    return 0;
}

void SettingsCommand(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return;

    GoModalDialogBoxParam(WindowInstance(hWnd), MAKEINTRESOURCEA(IDD_SETTINGS), hWnd,
                          SettingsDlgProc, (LPARAM)npTTYInfo);

    // Ok or Cancel alike: an open port gets the normal line settings again.
    if (IsConnected(npTTYInfo) && !SetupConnection(hWnd, 1))
        SettingsFailed(hWnd);
}

void DownloadCommand(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return;

    if (IsConnected(npTTYInfo) && !SetupConnection(hWnd, 0))
        SettingsFailed(hWnd);

    // The installer starts from empty receive buffers.
    ResetReceiveState();
    GoModalDialogBoxParam(WindowInstance(hWnd), MAKEINTRESOURCEA(IDD_INSTALL), hWnd, InstallDlgProc, 0);
}

void TestBlockCommand(HWND hWnd)
{
    BYTE abBlock[512];
    std::memset(abBlock, 'X', sizeof(abBlock));
    WriteCommBlock(hWnd, abBlock, sizeof(abBlock));
}

void TTYCommand(HWND hWnd, WORD wID)
{
    switch (wID) {
    case IDM_CONNECT:
        if (!OpenConnection(hWnd, 1))
            ConnectionFailed(hWnd);
        break;

    case IDM_DISCONNECT:
        KillTTYFocus(hWnd);
        CloseConnection(hWnd);
        break;

    case IDM_EXIT:
        PostMessageA(hWnd, WM_CLOSE, 0, 0);
        break;

    case IDM_SETTINGS:
        SettingsCommand(hWnd);
        break;

    case IDM_ABOUT:
        GoModalDialogBoxParam(WindowInstance(hWnd), MAKEINTRESOURCEA(IDD_ABOUT), hWnd,
                              AboutDlgProc, 0);
        break;

    case IDM_TESTBLOCK:
        TestBlockCommand(hWnd);
        break;

    case IDM_SENDFILE:
        SendFile(hWnd);
        break;

    case IDM_DOWNLOAD:
        DownloadCommand(hWnd);
        break;
    }
}

} // namespace

int GoModalDialogBoxParam(HINSTANCE hInstance, LPCSTR lpszTemplate, HWND hWnd,
                          DLGPROC lpDlgProc, LPARAM lParam)
{
    return (int)DialogBoxParamA(hInstance, lpszTemplate, hWnd, lpDlgProc, lParam);
}

LRESULT CALLBACK TTYWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CREATE:
        return CreateTTYWindow(hWnd);

    case WM_DESTROY:
        DestroyTTYInfo(hWnd);
        PostQuitMessage(0);
        return 0;

    case WM_SIZE:
        SizeTTY(hWnd, HIWORD(lParam), LOWORD(lParam));
        return 0;

    case WM_SETFOCUS:
        SetTTYFocus(hWnd);
        return 0;

    case WM_KILLFOCUS:
        KillTTYFocus(hWnd);
        return 0;

    case WM_PAINT:
        PaintTTY(hWnd);
        return 0;

    case WM_CLOSE:
        return CloseTTYWindow(hWnd, uMsg, wParam, lParam);

    case WM_CHAR:
        ProcessTTYCharacter(hWnd, LOBYTE(wParam));
        return 0;

    case WM_COMMAND:
        TTYCommand(hWnd, LOWORD(wParam));
        return 0;

    case WM_HSCROLL:
        ScrollTTYHorz(hWnd, LOWORD(wParam), HIWORD(wParam));
        return 0;

    case WM_VSCROLL:
        ScrollTTYVert(hWnd, LOWORD(wParam), HIWORD(wParam));
        return 0;

    case WM_PARSERECEIVED:
        CheckData();
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}
