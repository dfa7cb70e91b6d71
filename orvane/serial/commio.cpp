// Block reads and writes on the open port, overlapped under the hood and
// blocking to their callers.  Line errors and failed transfers show on the
// terminal as "<CE-n>" notices; the progress of pending transfers goes to the
// debugger's output.
#include "orvane/serial/serial.h"
#include "orvane/terminal/ttywrite.h"

namespace {

void ShowNotice(HWND hWnd, DWORD dwNumber)
{
    CHAR szNotice[32];
    const int nLength = wsprintfA(szNotice, "<CE-%u>", (unsigned)dwNumber);
    WriteTTYBlock(hWnd, (const BYTE*)szNotice, nLength);
}

// Clears the driver's error state so that it goes on transferring, and shows
// the line-error flags when there are any and the user wants them.
void ReportLineErrors(HWND hWnd, NPTTYINFO npTTYInfo)
{
    DWORD dwErrorFlags = 0;
    COMSTAT comStat;
    if (ClearCommError(npTTYInfo->idComDev, &dwErrorFlags, &comStat) && dwErrorFlags != 0 &&
        npTTYInfo->fDisplayErrors)
        ShowNotice(hWnd, dwErrorFlags);
}

void Trace(const char* lpszFormat, DWORD dwNumber)
{
    CHAR szTrace[80];
    wsprintfA(szTrace, lpszFormat, (long)dwNumber);
    OutputDebugStringA(szTrace);
}

} // namespace

int ReadCommBlock(HWND hWnd, LPSTR lpszBlock, int nMaxLength)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || nMaxLength <= 0)
        return 0;

    // Only what has arrived is read; flags seen here are dropped unseen.
    DWORD dwErrorFlags = 0;
    COMSTAT comStat{};
    if (!ClearCommError(npTTYInfo->idComDev, &dwErrorFlags, &comStat))
        return 0;
    DWORD dwLength = comStat.cbInQue < (DWORD)nMaxLength ? comStat.cbInQue : (DWORD)nMaxLength;
    if (dwLength == 0)
        return 0;

    if (ReadFile(npTTYInfo->idComDev, lpszBlock, dwLength, &dwLength, &npTTYInfo->osRead))
        return (int)dwLength;

    if (GetLastError() != ERROR_IO_PENDING) {
        ReportLineErrors(hWnd, npTTYInfo);
        return 0;
    }
    OutputDebugStringA("\n\rIO Pending");
    while (!GetOverlappedResult(npTTYInfo->idComDev, &npTTYInfo->osRead, &dwLength, TRUE)) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_IO_INCOMPLETE)
            continue;
        ShowNotice(hWnd, dwError);
        ReportLineErrors(hWnd, npTTYInfo);
        break;
    }
    return (int)dwLength;
}

BOOL (WINAPI *gpfnWaitForWrite)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL) = GetOverlappedResult;

namespace {

// A write the port's time-out ended early.  Windows completes it with the
// count so far; Wine reports it as a failed wait with one of these codes.
bool IsTimeout(DWORD dwError)
{
    return dwError == WAIT_TIMEOUT || dwError == ERROR_TIMEOUT || dwError == ERROR_SEM_TIMEOUT;
}

enum WRITEEND { WE_REFUSED, WE_DONE, WE_FAILED };

// One write request for the whole block, waited for.  *pdwSent is what the
// driver took: all of it, or less when the port's write time-out ended the
// write first.
WRITEEND WriteAndWait(HWND hWnd, NPTTYINFO npTTYInfo, LPBYTE lpByte, DWORD dwBytesToWrite, DWORD* pdwSent)
{
    *pdwSent = 0;
    DWORD dwBytesWritten = 0;
    if (WriteFile(npTTYInfo->idComDev, lpByte, dwBytesToWrite, &dwBytesWritten, &npTTYInfo->osWrite)) {
        *pdwSent = dwBytesWritten;
        return WE_DONE;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        ReportLineErrors(hWnd, npTTYInfo);
        return WE_REFUSED;
    }
    // Each wait tells the write's running count: the last one is what went.
    WRITEEND end = WE_DONE;
    while (!gpfnWaitForWrite(npTTYInfo->idComDev, &npTTYInfo->osWrite, &dwBytesWritten, TRUE)) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_IO_INCOMPLETE)
            continue;
        if (IsTimeout(dwError))
            break;
        ShowNotice(hWnd, dwError);
        ReportLineErrors(hWnd, npTTYInfo);
        end = WE_FAILED;
        break;
    }
    *pdwSent = dwBytesWritten;
    if (*pdwSent == dwBytesToWrite)
        Trace("\n%ld bytes written", *pdwSent);
    else
        Trace("\nProbable Write Timeout: Total of %ld bytes sent", *pdwSent);
    return end;
}

// A closed port: nothing is tried, no notice, before any handle that may now
// belong to something else is used.
bool IsOpen(const TTYINFO* npTTYInfo)
{
    return IsConnected(npTTYInfo) && PortIsOpen(npTTYInfo);
}

} // namespace

BOOL WriteCommBlock(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || !IsOpen(npTTYInfo))
        return FALSE;
    DWORD dwSent;
    return WriteAndWait(hWnd, npTTYInfo, lpByte, dwBytesToWrite, &dwSent) != WE_REFUSED;
}

BOOL WriteCommBytes(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite, LPDWORD lpdwTaken)
{
    *lpdwTaken = 0;
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL || !IsOpen(npTTYInfo))
        return FALSE;
    return WriteAndWait(hWnd, npTTYInfo, lpByte, dwBytesToWrite, lpdwTaken) == WE_DONE;
}
