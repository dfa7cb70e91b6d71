// The watcher thread: while the port is open it does all receiving.  Each
// block goes to the terminal (once the installer has left its wake-up phase),
// then to the installer's receive buffer and parser, and the main window
// repaints what changed.
#include "orvane/serial/serial.h"
#include "orvane/installer/checkdata.h"
#include "orvane/terminal/ttywrite.h"

#include <cstring>

void (*gpfnReceivedBlock)(const BYTE* lpBlock, int nLength) = AppendReceived;

namespace {

// How often a port without events is asked for received bytes, and how often
// a pending wait looks whether Disconnect has come.
const DWORD kPollMs = 5;
const DWORD kStopCheckMs = 100;

// Waits for a received character.  Returns the event mask: EV_RXCHAR when
// something has arrived, 0 when the wait ended without an event (the mask was
// cleared by CloseConnection, or the driver cannot report events at all).
DWORD WaitForPortEvent(NPTTYINFO npTTYInfo, OVERLAPPED* pos)
{
    DWORD dwEvtMask = 0;
    ResetEvent(pos->hEvent);
    if (WaitCommEvent(npTTYInfo->idComDev, &dwEvtMask, pos))
        return dwEvtMask;
    if (GetLastError() != ERROR_IO_PENDING)
        return 0;
    while (WaitForSingleObject(pos->hEvent, kStopCheckMs) == WAIT_TIMEOUT) {
        if (!IsConnected(npTTYInfo)) {
            CancelIo(npTTYInfo->idComDev);
            break;
        }
    }
    DWORD dwUnused;
    if (!GetOverlappedResult(npTTYInfo->idComDev, pos, &dwUnused, TRUE))
        return 0;
    return dwEvtMask;
}

// Reads until the driver holds nothing more.  Nothing is purged: bytes that
// arrive meanwhile are read on the next turn.
void DrainPort(NPTTYINFO npTTYInfo)
{
    BYTE abIn[MAXBLOCK + 1];   // always a zero behind the data
    for (;;) {
        std::memset(abIn, 0, sizeof(abIn));
        BeginReceive();
        const int nLength = ReadCommBlock(hTTYWnd, (LPSTR)abIn, MAXBLOCK);
        if (nLength <= 0)
            return;
        // The phase is tested before the block is parsed: the reply that
        // ends the wake-up phase is itself not shown.
        if (gCondition != 0)
            WriteTTYBlock(hTTYWnd, abIn, nLength);
        gpfnReceivedBlock(abIn, nLength);
        // Once Disconnect has begun the window thread is waiting for this
        // thread: no more calls that need it.
        if (!IsConnected(npTTYInfo))
            return;
        UpdateWindow(hTTYWnd);
    }
}

DWORD EndWatch(NPTTYINFO npTTYInfo, HANDLE hEvent, DWORD dwResult)
{
    if (hEvent)
        CloseHandle(hEvent);
    WatcherId(npTTYInfo).store(0);
    return dwResult;
}

} // namespace

DWORD WINAPI CommWatchProc(LPVOID lpData)
{
    NPTTYINFO npTTYInfo = (NPTTYINFO)lpData;

    OVERLAPPED os;
    std::memset(&os, 0, sizeof(os));
    os.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (os.hEvent == NULL) {
        MessageBoxA(NULL, "Failed to create event for thread!", "TTY Error!", MB_ICONEXCLAMATION);
        return EndWatch(npTTYInfo, NULL, FALSE);
    }
    if (!SetCommMask(npTTYInfo->idComDev, EV_RXCHAR))
        return EndWatch(npTTYInfo, os.hEvent, FALSE);

    // A port whose waits keep ending at once with no event would make the
    // loop spin without ever reading: such a port is polled instead.  What
    // an empty wait finds queued is read all the same.
    BOOL fPolling = FALSE;
    int nEmptyWaits = 0;
    while (IsConnected(npTTYInfo)) {
        if (fPolling) {
            DrainPort(npTTYInfo);
            if (IsConnected(npTTYInfo))
                Sleep(kPollMs);
            continue;
        }
        const DWORD dwEvtMask = WaitForPortEvent(npTTYInfo, &os);
        if (!IsConnected(npTTYInfo))
            break;
        fPolling = NoteEventWait(&nEmptyWaits, dwEvtMask & EV_RXCHAR);
        DrainPort(npTTYInfo);   // reads nothing when nothing has come
    }
    return EndWatch(npTTYInfo, os.hEvent, TRUE);
}
