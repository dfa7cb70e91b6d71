// Value tables of the Serial Port Setting dialog and the decisions of its
// initialisation and of Ok.
#include "orvane/settings/settings.h"

const DWORD BaudTable[BAUD_ENTRIES] = { 19200, 115200 };

// Listed None, Even, Odd, Mark, Space; the values are the DCB codes
// (none 0, odd 1, even 2, mark 3, space 4).
const DWORD ParityTable[PARITY_ENTRIES] = { 0, 2, 1, 3, 4 };

// "1", "1.5", "2": the DCB stop-bit codes.
const DWORD StopBitsTable[STOPBITS_ENTRIES] = { 0, 1, 2 };

int FindTableEntry(const DWORD* npTable, WORD wTableLen, DWORD dwSetting)
{
    int nFound = -1;
    for (WORD i = 0; i < wTableLen; i++) {
        if (npTable[i] == dwSetting)
            nFound = i;
    }
    return nFound;
}

void GetSettingsView(const TTYINFO* npTTYInfo, SETTINGSVIEW* pView)
{
    const int nPort = npTTYInfo->bPort;
    pView->nPortSel = (nPort >= 1 && nPort <= wMaxCOM) ? nPort - 1 : -1;
    pView->fPortEnabled = !IsConnected(npTTYInfo);

    const int nByteSize = npTTYInfo->bByteSize;
    pView->nByteSizeSel = (nByteSize >= MIN_BYTESIZE && nByteSize <= MAX_BYTESIZE)
                              ? nByteSize - MIN_BYTESIZE : -1;

    pView->idInstBaud = npTTYInfo->dwBaudRateDown == 57600 ? IDC_INSTBAUD57600
                                                           : IDC_INSTBAUD115200;
}

void ApplySettingsChoice(TTYINFO* npTTYInfo, const SETTINGSCHOICE* pChoice)
{
    // With no selection a list reports an error code, not a setting.
    if (pChoice->nPortSel >= 0)
        npTTYInfo->bPort = (BYTE)(pChoice->nPortSel + 1);
    if (pChoice->nBaudSel >= 0)
        npTTYInfo->dwBaudRate = pChoice->dwBaud;
    if (pChoice->nByteSizeSel >= 0)
        npTTYInfo->bByteSize = (BYTE)(pChoice->nByteSizeSel + MIN_BYTESIZE);
    if (pChoice->nParitySel >= 0)
        npTTYInfo->bParity = (BYTE)pChoice->dwParity;
    if (pChoice->nStopBitsSel >= 0)
        npTTYInfo->bStopBits = (BYTE)pChoice->dwStopBits;
    npTTYInfo->dwBaudRateDown = pChoice->fInstBaud57600 ? 57600 : 115200;
}
