// Choosing the image and writing it to the port: in 1024-byte chunks during a
// download, each with a turn of the parser and a progress step, or whole from
// the main window (Shift+F3).  Each operation keeps its own chooser buffer,
// so the chooser offers what that operation last received.
//
// Nothing of the image is skipped: a write that the port's time-out ended
// early is followed by one for the rest, and the transfer only gives up when
// a write fails, the port has taken nothing for IMAGE_STALL_MS, or the port
// takes so little that the image has not gone when its time is up.
#include "orvane/installer/install.h"

#include <new>

BOOL fImageStalled = FALSE;

namespace {

CHAR szChooserName[FILENAME_LENGTH];   // GetFileName's
CHAR szTransferName[FILENAME_LENGTH];  // SendFileInstall's
CHAR szSendName[FILENAME_LENGTH];      // SendFile's

// The time a transfer of dwBytes may take at dwBaud: a generous multiple of
// its wire time, and more (only that when the rate is not known).
DWORD ImageTimeLimit(DWORD dwBytes, DWORD dwBaud)
{
    const DWORD dwWireMs = dwBaud ? (DWORD)((unsigned long long)dwBytes * 10 * 1000 / dwBaud) : 0;
    return IMAGE_TIME_FACTOR * dwWireMs + IMAGE_TIME_EXTRA_MS;
}

// Hands the bytes to the port until it has taken all of them, in order.
// FALSE when a write fails, when the port takes nothing for IMAGE_STALL_MS,
// or when bytes are still to go dwLimitMs after dwStart; *pdwTaken grows by
// what it took either way, as it takes it.
BOOL WriteWhole(HWND hWnd, BYTE* lpBytes, DWORD dwLength, std::atomic<DWORD>* pdwTaken, DWORD dwStart,
                DWORD dwLimitMs)
{
    DWORD dwDone = 0;
    DWORD dwLastTaken = InstallClock();
    while (dwDone < dwLength) {
        DWORD dwTaken = 0;
        const BOOL fWritten = WriteCommBytes(hWnd, lpBytes + dwDone, dwLength - dwDone, &dwTaken);
        dwDone += dwTaken;
        *pdwTaken += dwTaken;
        if (!fWritten)
            return FALSE;
        const DWORD dwNow = InstallClock();
        if (dwDone < dwLength && dwNow - dwStart >= dwLimitMs)
            return FALSE;   // a port that trickles: the window thread is held, Cancel greyed
        if (dwTaken > 0)
            dwLastTaken = dwNow;
        else if (dwNow - dwLastTaken >= IMAGE_STALL_MS)
            return FALSE;
        else
            InstallPause(IMAGE_RETRY_MS);   // a port that refuses at once is not spun on
    }
    return TRUE;
}

// The port has taken the image's last byte: the module's verdict counts from
// now on.
void NoteImageTaken()
{
    std::lock_guard<PARSERLOCK> hold(gParserLock);
    fImageTaken = TRUE;
}

// Writes the open image in chunks, each taken whole before the progress bar
// steps for it.  1 when all of it went, 0 when a read failed, IMAGE_STALLED
// when the port stopped taking it; what went stays written.
int SendChunks(HWND hDlg, void* hImage, DWORD dwBaud)
{
    BYTE abChunk[IMAGE_CHUNK];
    const DWORD dwSize = ImageSize(hImage);
    const DWORD dwStart = InstallClock();
    const DWORD dwLimitMs = ImageTimeLimit(dwSize, dwBaud);
    for (DWORD dwOffset = 0; dwOffset < dwSize; dwOffset += IMAGE_CHUNK) {
        const int nRead = ImageRead(hImage, abChunk, IMAGE_CHUNK);
        if (nRead <= 0)
            return 0;
        // A reply that has come in meanwhile is parsed; the rest of the image
        // goes out whatever it says.
        CheckData();
        if (!WriteWhole(hTTYWnd, abChunk, (DWORD)nRead, &dwImageTaken, dwStart, dwLimitMs))
            return IMAGE_STALLED;
        if (dwOffset + IMAGE_CHUNK >= dwSize)
            NoteImageTaken();   // before the bar and the repaint: the module may answer at once
        InstallProgressStep(hDlg);
        InstallRepaint(hDlg);
    }
    if (dwSize == 0)
        NoteImageTaken();
    return 1;
}

} // namespace

int GetFileName(HWND hDlg)
{
    if (GetTTYInfo(hTTYWnd) == NULL)
        return 0;
    if (!InstallChooseFile(hTTYWnd, szChooserName, sizeof(szChooserName)))
        return 0;
    InstallSetFileName(hDlg, szChooserName);
    return 1;
}

int SendFileInstall(HWND hDlg, LPCSTR lpFileName)
{
    (void)lpFileName;   // the field names the file; it and lpFileName agree
    NPTTYINFO npTTYInfo = GetTTYInfo(hTTYWnd);
    if (npTTYInfo == NULL)
        return 0;

    if (InstallGetFileName(hDlg, szTransferName, sizeof(szTransferName)) == 0) {
        if (!InstallChooseFile(hTTYWnd, szTransferName, sizeof(szTransferName))) {
            WriteCommBlock(hTTYWnd, (LPBYTE)"r\r", 2);
            InstallEnd(hDlg);
            return 0;
        }
        InstallSetFileName(hDlg, szTransferName);
    }

    void* hImage = ImageOpen(szTransferName);
    if (hImage == NULL) {
        InstallMessage(hTTYWnd, "Creat File Fail", "Error");
        return 0;
    }
    dwImageTaken = 0;
    InstallEnable(hDlg, IDC_BROWSE, FALSE);
    InstallEnable(hDlg, IDC_INSTCANCEL, FALSE);
    const int nSent = SendChunks(hDlg, hImage, npTTYInfo->dwBaudRateDown);
    fImageStalled = nSent == IMAGE_STALLED;
    ImageClose(hImage);
    InstallEnable(hDlg, IDC_BROWSE, TRUE);
    InstallEnable(hDlg, IDC_INSTCANCEL, TRUE);
    return nSent;
}

int SendFile(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return 0;
    if (!InstallChooseFile(hWnd, szSendName, sizeof(szSendName)))
        return 0;
    void* hImage = ImageOpen(szSendName);
    if (hImage == NULL)
        return 0;

    // The whole file in one write, at whatever rate the line has (its time
    // is reckoned at the slower of the two); what a time-out leaves over
    // goes in the next.
    const DWORD dwSize = ImageSize(hImage);
    const DWORD dwBaud = npTTYInfo->dwBaudRate < npTTYInfo->dwBaudRateDown ? npTTYInfo->dwBaudRate
                                                                           : npTTYInfo->dwBaudRateDown;
    BYTE* lpBuffer = new (std::nothrow) BYTE[dwSize ? dwSize : 1];
    int nResult = 0;
    if (lpBuffer != NULL) {
        DWORD dwRead = 0;
        int nRead = 1;
        while (dwRead < dwSize && (nRead = ImageRead(hImage, lpBuffer + dwRead, (int)(dwSize - dwRead))) > 0)
            dwRead += (DWORD)nRead;
        std::atomic<DWORD> dwTaken{0};
        if (dwRead == dwSize &&
            WriteWhole(hWnd, lpBuffer, dwSize, &dwTaken, InstallClock(), ImageTimeLimit(dwSize, dwBaud)))
            nResult = 1;
        delete[] lpBuffer;
    }
    ImageClose(hImage);
    return nResult;
}
