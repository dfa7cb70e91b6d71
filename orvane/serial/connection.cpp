// Opening, configuring and closing the COM port.
#include "orvane/orvane.h"

// The port link is not built yet: no port is ever opened, so the program
// stays disconnected and says so.
BOOL OpenConnection(HWND hWnd, int nMode)
{
    (void)hWnd;
    (void)nMode;
    return FALSE;
}

BOOL SetupConnection(HWND hWnd, int nMode)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;
    // A closed port is marked INVALID_HANDLE_VALUE; never hand a stale
    // handle value to the driver.
    if (npTTYInfo->idComDev == NULL || npTTYInfo->idComDev == INVALID_HANDLE_VALUE)
        return FALSE;

    DCB dcb;
    dcb.DCBlength = sizeof(DCB);
    GetCommState(npTTYInfo->idComDev, &dcb);

    const BYTE bFlow = npTTYInfo->bFlowCtrl;
    dcb.BaudRate = nMode ? npTTYInfo->dwBaudRate : npTTYInfo->dwBaudRateDown;
    dcb.ByteSize = npTTYInfo->bByteSize;
    dcb.Parity = npTTYInfo->bParity;
    dcb.StopBits = npTTYInfo->bStopBits;
    dcb.fOutxDsrFlow = (bFlow & 0x01) ? TRUE : FALSE;
    dcb.fDtrControl = (bFlow & 0x01) ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = (bFlow & 0x02) ? TRUE : FALSE;
    dcb.fRtsControl = (bFlow & 0x02) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = (bFlow & 0x04) ? TRUE : FALSE;
    dcb.fInX = dcb.fOutX;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    return SetCommState(npTTYInfo->idComDev, &dcb);
}

BOOL CloseConnection(HWND hWnd)
{
    NPTTYINFO npTTYInfo = GetTTYInfo(hWnd);
    if (npTTYInfo == NULL)
        return FALSE;
    npTTYInfo->fConnected = FALSE;
    return TRUE;
}

// Writes one block to the open port.  No port is ever open until the port
// link is built, so every write fails at once and reaches no other object.
BOOL WriteCommBlock(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite)
{
    (void)hWnd;
    (void)lpByte;
    (void)dwBytesToWrite;
    return FALSE;
}
