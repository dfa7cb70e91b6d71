// Choosing the image and writing it to the port: in 1024-byte chunks during a
// download, each with a turn of the parser and a progress step, or whole from
// the main window (Shift+F3).  Each operation keeps its own chooser buffer,
// so the chooser offers what that operation last received.
#include "orvane/installer/install.h"

#include <new>

namespace {

CHAR szChooserName[FILENAME_LENGTH];   // GetFileName's
CHAR szTransferName[FILENAME_LENGTH];  // SendFileInstall's
CHAR szSendName[FILENAME_LENGTH];      // SendFile's

// Writes the open image in chunks.  FALSE when a read fails; the chunks
// already written stay written.
BOOL SendChunks(HWND hDlg, void* hImage)
{
    BYTE abChunk[IMAGE_CHUNK];
    const DWORD dwSize = ImageSize(hImage);
    for (DWORD dwOffset = 0; dwOffset < dwSize; dwOffset += IMAGE_CHUNK) {
        const int nRead = ImageRead(hImage, abChunk, IMAGE_CHUNK);
        if (nRead <= 0)
            return FALSE;
        // A reply that has come in meanwhile is parsed; the rest of the image
        // goes out whatever it says.
        CheckData();
        InstallProgressStep(hDlg);
        WriteCommBlock(hTTYWnd, abChunk, (DWORD)nRead);
        InstallRepaint(hDlg);
    }
    return TRUE;
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
    if (GetTTYInfo(hTTYWnd) == NULL)
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
    InstallEnable(hDlg, IDC_BROWSE, FALSE);
    InstallEnable(hDlg, IDC_INSTCANCEL, FALSE);
    const BOOL fSent = SendChunks(hDlg, hImage);
    ImageClose(hImage);
    InstallEnable(hDlg, IDC_BROWSE, TRUE);
    InstallEnable(hDlg, IDC_INSTCANCEL, TRUE);
    return fSent ? 1 : 0;
}

int SendFile(HWND hWnd)
{
    if (GetTTYInfo(hWnd) == NULL)
        return 0;
    if (!InstallChooseFile(hWnd, szSendName, sizeof(szSendName)))
        return 0;
    void* hImage = ImageOpen(szSendName);
    if (hImage == NULL)
        return 0;

    // The whole file in one write, at whatever rate the line has.
    const DWORD dwSize = ImageSize(hImage);
    BYTE* lpBuffer = new (std::nothrow) BYTE[dwSize ? dwSize : 1];
    int nResult = 0;
    if (lpBuffer != NULL) {
        DWORD dwRead = 0;
        int nRead = 1;
        while (dwRead < dwSize && (nRead = ImageRead(hImage, lpBuffer + dwRead, (int)(dwSize - dwRead))) > 0)
            dwRead += (DWORD)nRead;
        if (dwRead == dwSize) {
            WriteCommBlock(hWnd, lpBuffer, dwSize);
            nResult = 1;
        }
        delete[] lpBuffer;
    }
    ImageClose(hImage);
    return nResult;
}
