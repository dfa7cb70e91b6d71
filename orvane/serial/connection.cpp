// Opening, configuring and closing the COM port.  The port stays open across
// a download; the installer only switches its rate with SetupConnection.
#include "orvane/serial/serial.h"
#include "orvane/terminal/ttywrite.h"

namespace {

// Every open and close empties both directions of the driver.
const DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

void ClosePort(NPTTYINFO npTTYInfo)
{
    CloseHandle(npTTYInfo->idComDev);
    npTTYInfo->idComDev = INVALID_HANDLE_VALUE;
}

void SetMenuConnected(HWND hWnd, BOOL fConnected)
{
    const UINT uGrey = MF_GRAYED | MF_DISABLED;
    HMENU hMenu = GetMenu(hWnd);
    EnableMenuItem(hMenu, IDM_DISCONNECT, fConnected ? MF_ENABLED : uGrey);
    EnableMenuItem(hMenu, IDM_DOWNLOAD, fConnected ? MF_ENABLED : uGrey);
    EnableMenuItem(hMenu, IDM_CONNECT, fConnected ? uGrey : MF_ENABLED);
}

BOOL OpenPort(HWND hWnd, NPTTYINFO npTTYInfo, int nMode, LPCSTR szPort)
{
    npTTYInfo->idComDev = CreateFileA(szPort, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, NULL);
    if (npTTYInfo->idComDev == INVALID_HANDLE_VALUE)
        return FALSE;

    SetCommMask(npTTYInfo->idComDev, EV_RXCHAR);
    SetupComm(npTTYInfo->idComDev, 20480, 20480);
    PurgeComm(npTTYInfo->idComDev, kPurgeAll);
    COMMTIMEOUTS cto;
    cto.ReadIntervalTimeout = 10;
    cto.ReadTotalTimeoutMultiplier = 1;
    cto.ReadTotalTimeoutConstant = 1;
    cto.WriteTotalTimeoutMultiplier = 1;
    cto.WriteTotalTimeoutConstant = 1;
    SetCommTimeouts(npTTYInfo->idComDev, &cto);

    if (!SetupConnection(hWnd, nMode)) {
        SetConnected(npTTYInfo, FALSE);
        ClosePort(npTTYInfo);
        return FALSE;
    }

    // The watcher's loop runs while fConnected holds, so it is set first.  The
    // thread starts suspended so that its identifier is in the record before
    // the thread can clear it.
    SetConnected(npTTYInfo, TRUE);
    DWORD dwThreadID = 0;
    HANDLE hThread = CreateThread(NULL, 0, CommWatchProc, npTTYInfo, CREATE_SUSPENDED, &dwThreadID);
    if (hThread == NULL) {
        SetConnected(npTTYInfo, FALSE);
        ClosePort(npTTYInfo);
        return FALSE;
    }
    WatcherId(npTTYInfo).store(dwThreadID);
    npTTYInfo->hWatchThread = hThread;
    ResumeThread(hThread);

    EscapeCommFunction(npTTYInfo->idComDev, SETDTR);
    SetTTYFocus(hWnd);
    SetMenuConnected(hWnd, TRUE);
    return TRUE;
}

// Waits for the watcher to end.  The watcher may itself be waiting for this
// thread (it has the main window repaint after each block), so messages sent
// to this thread's windows are handled meanwhile.
void WaitForWatcher(NPTTYINFO npTTYInfo)
{
    HANDLE hThread = npTTYInfo->hWatchThread;
    if (hThread == NULL)
        return;
    while (MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(hThread);
    npTTYInfo->hWatchThread = NULL;
}

} // namespace

bool PortIsOpen(const TTYINFO* npTTYInfo)
{
    return npTTYInfo->idComDev != NULL && npTTYInfo->idComDev != INVALID_HANDLE_VALUE;
}

BOOL OpenConnection(HWND hWnd, int nMode)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;

    CHAR szPrefix[10] = "";
    CHAR szPort[16];
    LoadStringA((HINSTANCE)GetWindowLongPtrA(hWnd, GWLP_HINSTANCE), IDS_COMPREFIX, szPrefix, sizeof(szPrefix));
    wsprintfA(szPort, "%s%d", szPrefix, npTTYInfo->bPort);
    return OpenConnectionTo(hWnd, nMode, szPort);
}

BOOL OpenConnectionTo(HWND hWnd, int nMode, LPCSTR lpszPort)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;

    HCURSOR hOldCursor = SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_WAIT));
    const BOOL fOpen = OpenPort(hWnd, npTTYInfo, nMode, lpszPort);
    SetCursor(hOldCursor);
    return fOpen;
}

BOOL SetupConnection(HWND hWnd, int nMode)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || !PortIsOpen(npTTYInfo))
        return FALSE;

    DCB dcb;
    dcb.DCBlength = sizeof(DCB);
    GetCommState(npTTYInfo->idComDev, &dcb);
    FillDCB(npTTYInfo, nMode, &dcb);
    return SetCommState(npTTYInfo->idComDev, &dcb);
}

BOOL ClearCommOutput(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || !PortIsOpen(npTTYInfo))
        return FALSE;
    return PurgeComm(npTTYInfo->idComDev, PURGE_TXABORT | PURGE_TXCLEAR);
}

// Only the queue: a read in flight (the watcher's) is left to end, since
// aborting it would show as a failed read; the receive buffers' reset drops
// what it brings (BeginReceive).
BOOL ClearCommInput(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || !PortIsOpen(npTTYInfo))
        return FALSE;
    return PurgeComm(npTTYInfo->idComDev, PURGE_RXCLEAR);
}

BOOL DrainCommOutput(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || !PortIsOpen(npTTYInfo))
        return FALSE;

    // The driver's queue, for as long as it goes down.
    const DWORD kStuckMs = 1000;
    DWORD dwLeft = MAXDWORD;
    DWORD dwSince = GetTickCount();
    for (;;) {
        DWORD dwErrors = 0;
        COMSTAT comStat{};
        if (!ClearCommError(npTTYInfo->idComDev, &dwErrors, &comStat))
            return FALSE;
        if (comStat.cbOutQue == 0)
            break;
        if (comStat.cbOutQue < dwLeft) {
            dwLeft = comStat.cbOutQue;
            dwSince = GetTickCount();
        } else if (GetTickCount() - dwSince >= kStuckMs) {
            return FALSE;
        }
        Sleep(1);
    }
    // The queue counts none of what the UART itself holds, and nothing tells
    // when that has gone: the wire time of a 16-byte transmit FIFO at the
    // line's rate, and a few milliseconds for a USB adapter's frames.
    DCB dcb;
    dcb.DCBlength = sizeof(DCB);
    if (GetCommState(npTTYInfo->idComDev, &dcb) && dcb.BaudRate > 0)
        Sleep(16 * 10 * 1000 / dcb.BaudRate + 5);
    return TRUE;
}

BOOL CloseConnection(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;

    // Stop the watcher first (clearing the mask wakes it from its wait); the
    // port is closed only once the thread has ended.
    SetConnected(npTTYInfo, FALSE);
    if (PortIsOpen(npTTYInfo))
        SetCommMask(npTTYInfo->idComDev, 0);
    WaitForWatcher(npTTYInfo);

    KillTTYFocus(hWnd);
    if (PortIsOpen(npTTYInfo)) {
        EscapeCommFunction(npTTYInfo->idComDev, CLRDTR);
        PurgeComm(npTTYInfo->idComDev, kPurgeAll);
        ClosePort(npTTYInfo);
    }
    SetMenuConnected(hWnd, FALSE);
    return TRUE;
}
