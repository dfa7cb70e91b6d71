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

BOOL WriteCommBlock(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;
    // A closed port: fail at once, without a notice, before any handle that
    // may now belong to something else is used.
    if (!IsConnected(npTTYInfo) || npTTYInfo->idComDev == NULL || npTTYInfo->idComDev == INVALID_HANDLE_VALUE)
        return FALSE;

    DWORD dwBytesWritten = 0;
    if (WriteFile(npTTYInfo->idComDev, lpByte, dwBytesToWrite, &dwBytesWritten, &npTTYInfo->osWrite))
        return TRUE;

    if (GetLastError() != ERROR_IO_PENDING) {
        ReportLineErrors(hWnd, npTTYInfo);
        return FALSE;
    }
    DWORD dwBytesSent = 0;
    while (!GetOverlappedResult(npTTYInfo->idComDev, &npTTYInfo->osWrite, &dwBytesWritten, TRUE)) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_IO_INCOMPLETE) {
            dwBytesSent += dwBytesWritten;
            continue;
        }
        ShowNotice(hWnd, dwError);
        ReportLineErrors(hWnd, npTTYInfo);
        break;
    }
    dwBytesSent += dwBytesWritten;
    if (dwBytesSent == dwBytesToWrite)
        Trace("\n%ld bytes written", dwBytesSent);
    else
        Trace("\nProbable Write Timeout: Total of %ld bytes sent", dwBytesSent);
    return TRUE;
}
