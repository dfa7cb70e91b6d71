// Creation and teardown of the main window's TTYINFO record.
#include "orvane/orvane.h"
#include "orvane/terminal/screen.h"

#include <cstring>

namespace {

void SetDisconnectedMenu(HWND hWnd)
{
    HMENU hMenu = GetMenu(hWnd);
    EnableMenuItem(hMenu, IDM_DISCONNECT, MF_GRAYED | MF_DISABLED);
    EnableMenuItem(hMenu, IDM_DOWNLOAD, MF_GRAYED | MF_DISABLED);
    EnableMenuItem(hMenu, IDM_CONNECT, MF_ENABLED);
}

} // namespace

NPTTYINFO GetTTYInfo(HWND hWnd)
{
    return hWnd ? (NPTTYINFO)GetWindowLongPtrA(hWnd, 0) : NULL;
}

LRESULT CreateTTYInfo(HWND hWnd)
{
    NPTTYINFO npTTYInfo = (NPTTYINFO)LocalAlloc(LPTR, sizeof(TTYINFO));
    if (npTTYInfo == NULL)
        return -1;

    npTTYInfo->idComDev = NULL;
    npTTYInfo->fConnected = FALSE;
    npTTYInfo->wCursorState = 0;
    npTTYInfo->fLocalEcho = FALSE;
    npTTYInfo->fAutoWrap = TRUE;
    npTTYInfo->bPort = 1;
    npTTYInfo->dwBaudRate = 19200;
    npTTYInfo->dwBaudRateDown = 115200;
    npTTYInfo->bByteSize = 8;
    npTTYInfo->bParity = NOPARITY;
    npTTYInfo->bStopBits = ONESTOPBIT;
    npTTYInfo->fXonXoff = FALSE;
    npTTYInfo->xSize = npTTYInfo->ySize = 0;
    npTTYInfo->xScroll = npTTYInfo->yScroll = 0;
    npTTYInfo->xOffset = npTTYInfo->yOffset = 0;
    npTTYInfo->nColumn = npTTYInfo->nRow = 0;
    npTTYInfo->hTTYFont = NULL;
    npTTYInfo->rgbFGColor = RGB(0, 0, 0);
    npTTYInfo->fUseCNReceive = TRUE;
    npTTYInfo->fDisplayErrors = TRUE;
    npTTYInfo->osWrite.Offset = npTTYInfo->osWrite.OffsetHigh = 0;
    npTTYInfo->osRead.Offset = npTTYInfo->osRead.OffsetHigh = 0;
    npTTYInfo->hTermWnd = hWnd;

    npTTYInfo->osRead.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (npTTYInfo->osRead.hEvent == NULL) {
        LocalFree(npTTYInfo);
        return -1;
    }
    npTTYInfo->osWrite.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (npTTYInfo->osWrite.hEvent == NULL) {
        CloseHandle(npTTYInfo->osRead.hEvent);
        LocalFree(npTTYInfo);
        return -1;
    }

    std::memset(npTTYInfo->abScreen, ' ', sizeof(npTTYInfo->abScreen));

    LOGFONTA& lf = npTTYInfo->lfTTYFont;
    lf.lfHeight = 9;
    lf.lfWidth = 0;
    lf.lfEscapement = 0;
    lf.lfOrientation = 0;
    lf.lfWeight = 0;
    lf.lfItalic = 0;
    lf.lfUnderline = 0;
    lf.lfStrikeOut = 0;
    lf.lfCharSet = OEM_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpyA(lf.lfFaceName, "FixedSys");

    // The re-layout that ResetTTYScreen triggers fetches the record from the
    // window, so it must be in place first.
    SetWindowLongPtrA(hWnd, 0, (LONG_PTR)npTTYInfo);
    ResetTTYScreen(hWnd, npTTYInfo);

    SetDisconnectedMenu(hWnd);
    return TRUE;
}

BOOL DestroyTTYInfo(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;

    if (IsConnected(npTTYInfo))
        CloseConnection(hWnd);

    CloseHandle(npTTYInfo->osRead.hEvent);
    CloseHandle(npTTYInfo->osWrite.hEvent);
    if (npTTYInfo->hPostEvent)
        CloseHandle(npTTYInfo->hPostEvent);
    DeleteObject(npTTYInfo->hTTYFont);

    SetWindowLongPtrA(hWnd, 0, 0);
    LocalFree(npTTYInfo);
    return TRUE;
}
