// The port on Windows: orvane.exe's own link (OpenConnection, SetupConnection,
// CloseConnection, WriteCommBlock and the watcher) on the record of a hidden
// window, which the installer core reaches as hTTYWnd.  The port is opened
// by its name in the device namespace, \\.\COMn, so COM10 and above open.
#include "orvane/cli/port.h"
#include "orvane/installer/checkdata.h"
#include "orvane/serial/serial.h"

#include <cstdlib>

namespace {

HWND gWindow = NULL;
std::string gName;   // COMn
bool gGone = false;
void (*gpfnTap)(const BYTE*, int) = NULL;

// The watcher hands every block here.
void Received(const BYTE* lpBlock, int nLength)
{
    if (gpfnTap)
        gpfnTap(lpBlock, nLength);
    AppendReceived(lpBlock, nLength);
}

LRESULT CALLBACK PortWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

void HandleMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

} // namespace

HWND PortAttach(const std::string& name, DWORD dwNormalRate, DWORD dwInstallRate)
{
    static ATOM atom = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = PortWndProc;
        wc.cbWndExtra = sizeof(LONG_PTR);
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "OrvaneCliPort";
        return RegisterClassA(&wc);
    }();
    if (atom == 0)
        return NULL;
    gWindow = CreateWindowExA(0, "OrvaneCliPort", "orvane-cli", WS_POPUP, 0, 0, 640, 400, HWND_MESSAGE, NULL,
                              GetModuleHandleA(NULL), NULL);
    if (gWindow == NULL || CreateTTYInfo(gWindow) == -1)
        return NULL;
    NPTTYINFO npTTYInfo = GetTTYInfo(gWindow);
    gName = name;
    const int nPort = std::atoi(name.c_str() + 3);
    npTTYInfo->bPort = (BYTE)(nPort <= 255 ? nPort : 0);
    npTTYInfo->dwBaudRate = dwNormalRate;
    npTTYInfo->dwBaudRateDown = dwInstallRate;
    npTTYInfo->fDisplayErrors = FALSE;
    hTTYWnd = gWindow;
    gpfnReceivedBlock = Received;
    // The dialog functions get the same window: nothing in them uses it.
    return gWindow;
}

bool PortOpen(std::string* error)
{
    gGone = false;
    if (OpenConnectionTo(hTTYWnd, 1, ("\\\\.\\" + gName).c_str()))
        return true;
    const DWORD dwError = GetLastError();
    const char* szName = gName.c_str();
    if (dwError == ERROR_ACCESS_DENIED || dwError == ERROR_SHARING_VIOLATION)
        *error = std::string("cannot open ") + szName + ": another program is using it";
    else if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
        *error = std::string("cannot open ") + szName + ": no such port";
    else
        *error = std::string("cannot open or set up ") + szName + " (error " + std::to_string(dwError) + ")";
    return false;
}

void PortClose()
{
    CloseConnection(hTTYWnd);
}

void PortDetach()
{
    gpfnReceivedBlock = AppendReceived;
    hTTYWnd = NULL;
    if (gWindow) {
        DestroyTTYInfo(gWindow);
        DestroyWindow(gWindow);
    }
    gWindow = NULL;
}

// A handle whose device has gone (a USB adapter unplugged) fails every
// call from then on; asking for the line's status is the cheapest of them.
bool PortGone()
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hTTYWnd);
    if (gGone || npTTYInfo == NULL || !IsConnected(npTTYInfo))
        return gGone;
    DWORD dwErrors = 0;
    COMSTAT stat;
    if (!ClearCommError(npTTYInfo->idComDev, &dwErrors, &stat) && GetLastError() != ERROR_OPERATION_ABORTED)
        gGone = true;
    return gGone;
}

void PortSetTap(void (*pfnTap)(const BYTE*, int))
{
    gpfnTap = pfnTap;
}

// orvane.exe's watcher reads on its own terms; the reset is the Download
// command's.
void PortResetReceive()
{
    ResetReceiveState();
}

void PortWait(int ms)
{
    const DWORD dwEnd = GetTickCount() + (DWORD)ms;
    for (;;) {
        HandleMessages();
        const DWORD dwNow = GetTickCount();
        if ((LONG)(dwEnd - dwNow) <= 0)
            return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, dwEnd - dwNow, QS_ALLINPUT);
    }
}
