// The line settings the record asks for, as a DCB.  Portable: the same fill
// runs in orvane.exe and in the native tests.
#include "orvane/serial/serial.h"

BOOL NoteEventWait(int* pnEmpty, DWORD dwEvtMask)
{
    if (dwEvtMask != 0)
        *pnEmpty = 0;
    else
        ++*pnEmpty;
    return *pnEmpty >= EMPTY_WAITS_TO_POLL;
}

void FillDCB(const TTYINFO* npTTYInfo, int nMode, DCB* pdcb)
{
    const BYTE bFlow = npTTYInfo->bFlowCtrl;
    const BOOL fDtrDsr = (bFlow & 0x01) != 0;
    const BOOL fRtsCts = (bFlow & 0x02) != 0;
    const BOOL fXonXoff = (bFlow & 0x04) != 0;

    pdcb->BaudRate = nMode ? npTTYInfo->dwBaudRate : npTTYInfo->dwBaudRateDown;
    pdcb->ByteSize = npTTYInfo->bByteSize;
    pdcb->Parity = npTTYInfo->bParity;
    pdcb->StopBits = npTTYInfo->bStopBits;

    pdcb->fOutxDsrFlow = fDtrDsr;
    pdcb->fDtrControl = fDtrDsr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    pdcb->fOutxCtsFlow = fRtsCts;
    pdcb->fRtsControl = fRtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    pdcb->fOutX = fXonXoff;
    pdcb->fInX = fXonXoff;

    pdcb->XonChar = 0x11;    // DC1
    pdcb->XoffChar = 0x13;   // DC3
    pdcb->XonLim = 100;
    pdcb->XoffLim = 100;

    pdcb->fBinary = TRUE;
    pdcb->fParity = TRUE;   // checking on, whatever the parity in use
}
