// Process entry: registers the main window's class, creates the window and
// runs the message loop through the accelerator table.
#include "orvane/shell/shell.h"

#include <commctrl.h>

HACCEL ghAccel = NULL;

BOOL InitApplication(HINSTANCE hInstance)
{
    // The Install dialog's progress bar is a common control; its class must
    // be registered before any dialog is created.
    INITCOMMONCONTROLSEX icc;
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_PROGRESS_CLASS;
    if (!InitCommonControlsEx(&icc))
        InitCommonControls();

    WNDCLASSA wc;
    wc.style = 0;
    wc.lpfnWndProc = TTYWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = sizeof(LONG_PTR);   // the TTYINFO pointer at index 0
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(IDI_APPICON));
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINMENU);
    wc.lpszClassName = gszTTYClass;
    return RegisterClassA(&wc) != 0;
}

HWND InitInstance(HINSTANCE hInstance, int nCmdShow)
{
    ghAccel = LoadAcceleratorsA(hInstance, MAKEINTRESOURCEA(IDR_ACCEL));

    // Outer size of the window, in pixels.
    RECT rcPlace = { 100, 100, 600, 400 };
    HWND hWnd = CreateWindowExA(0, gszTTYClass, gszAppName, WS_OVERLAPPEDWINDOW,
                                rcPlace.left, rcPlace.top,
                                rcPlace.right - rcPlace.left, rcPlace.bottom - rcPlace.top,
                                NULL, NULL, hInstance, NULL);
    if (hWnd == NULL)
        return NULL;

    ShowWindow(hWnd, nCmdShow);
    UpdateWindow(hWnd);
    return hWnd;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpszCmdLine, int nCmdShow)
{
    (void)lpszCmdLine;

    if (hPrevInstance == NULL && !InitApplication(hInstance))
        return 0;

    // The record and the first connection attempt are made inside window
    // creation; only now does the rest of the program see the window.
    hTTYWnd = InitInstance(hInstance, nCmdShow);
    if (hTTYWnd == NULL)
        return 0;

    MSG msg;
    BOOL bRet;
    while ((bRet = GetMessageA(&msg, NULL, 0, 0)) != 0) {
        if (bRet == -1)
            return 0;
        if (!TranslateAcceleratorA(hTTYWnd, ghAccel, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return (int)msg.wParam;
}
