// The download state machine of the Install dialog.  Every tick parses what
// has come in, then acts on the phase: carriage returns until the boot
// monitor answers, "flash", the progress range and "p 60\r", the image, the
// wait for the verdict, the report.  The reply parser moves phase and step
// forward on either thread; each decision here reads and changes phase, step
// and model together under the parser's lock, and every write to the port,
// message box and the transfer happen after the lock is released.
#include "orvane/installer/install.h"

#include <cstring>

int  max_timeout = 0;
int  nCount = 0;
CHAR gszMyFileName[FILENAME_LENGTH];

namespace {

const char kStatusWake[] = "Turn the power on, after removing the LAN card during power-off.";
const char kFailCaption[] = "Merrow Systems. Co. LTD.";
const int  kTimeoutTicks = 500;

struct MODELINFO
{
    WORD wProgressMax;          // one step per 1024-byte chunk
    const char* lpszStatus;     // while the image is sent
};

// By nModel: 1 MRQ-520W, 2 MRQ-41, 3 (and anything else) MRQ-710F.
const MODELINFO& ModelInfo(int nModelNo)
{
    static const MODELINFO aModels[] = {
        { 256, "Downloading program to MRQ-520W!" },
        { 56, "Downloading program to MRQ-41!" },
        { 256, "Downloading program to MRQ-710F!" },
    };
    return aModels[(nModelNo == 1 || nModelNo == 2) ? nModelNo - 1 : 2];
}

void WriteText(const char* lpszText)
{
    WriteCommBlock(hTTYWnd, (LPBYTE)lpszText, (DWORD)std::strlen(lpszText));
}

// The MRQ-520W's monitor is reset whenever a run is left early or ends, at
// the rate it listens at: the reset has left the port before anything can
// change the rate (Cancel, a stalled transfer, a closing port).
void ResetModule(int nModelNo)
{
    if (nModelNo == 1) {
        WriteText("r\r");
        DrainCommOutput(hTTYWnd);
    }
}

enum TICKACTION { TA_NONE, TA_WAKE, TA_FLASH, TA_PREPARE, TA_TRANSFER, TA_SUCCESS, TA_FAIL, TA_CLOSE };

// What this tick does, with phase and step moved on before anything that can
// block (a message box, the pause, the transfer) runs: ticks that arrive
// meanwhile then find nothing to do.
TICKACTION DecideTick(int* pnModel)
{
    std::lock_guard<PARSERLOCK> hold(gParserLock);
    *pnModel = nModel;
    switch (gCondition) {
    case 0:
        return TA_WAKE;
    case 1:
        if (gIsActivate != 2)
            return TA_NONE;
        gIsActivate = 3;
        return TA_FLASH;
    case 2:
        if (gIsActivate != 4)
            return TA_NONE;
        gIsActivate = 5;
        return TA_PREPARE;
    case 3:
        if (gIsActivate == 6) {
            gIsActivate = 7;
            max_timeout = kTimeoutTicks;
            return TA_TRANSFER;
        }
        if (gIsActivate == 8 && nCount > max_timeout) {
            // No verdict: the failure is reported on the next tick.
            gIsActivate = 11;
            gCondition = 5;
            return TA_NONE;
        }
        ++nCount;
        return TA_NONE;
    case 5:
        if (gIsActivate == 9) {
            gIsActivate = 10;
            return TA_SUCCESS;
        }
        if (gIsActivate == 11) {
            gIsActivate = 10;
            return TA_FAIL;
        }
        return TA_CLOSE;
    }
    return TA_NONE;   // 4 and above 5: nothing
}

// Phase 2: the progress bar, a pause for the module, an image to send, then
// the programming command.  Without an image the run is given up.
void Prepare(HWND hDlg, int nModelNo)
{
    InstallProgressRange(hDlg, ModelInfo(nModelNo).wProgressMax);
    InstallSetStatus(hDlg, "Preparing for Programming!");
    InstallPause(200);

    CHAR szFileName[FILENAME_LENGTH];
    if (InstallGetFileName(hDlg, szFileName, sizeof(szFileName)) > 0 || GetFileName(hDlg)) {
        // A "200" counts from here on: one that came during the pause or the
        // chooser answered nothing of this run's.  Marked as the command goes
        // out, so that no answer parsed before the write returns is lost.
        {
            std::lock_guard<PARSERLOCK> hold(gParserLock);
            fProgramSent = TRUE;
        }
        WriteText("p 60\r");
        return;
    }
    ResetModule(nModel);
    InstallMessage(hDlg, "It may not run correctly!\nPlease reset and download!", gszAppName);
    SetupConnection(hTTYWnd, 1);
    InstallEnd(hDlg);
}

// Phase 3: the image.  The counter for the verdict starts when it has been
// written; a verdict parsed while it was being written stands and is
// reported on the next tick (a "101" that came before the port had taken
// the last byte as a failure: the parser sees to that).  A port that stopped
// taking the image fails the run at once, the module left as Cancel leaves
// it: waiting for a verdict on an image the module never got whole would
// only hide the cause.
void Transfer(HWND hDlg, int nModelNo)
{
    InstallSetStatus(hDlg, ModelInfo(nModelNo).lpszStatus);
    const int nSent = SendFileInstall(hDlg, gszMyFileName);

    const BOOL fStalled = nSent == IMAGE_STALLED;
    {
        std::lock_guard<PARSERLOCK> hold(gParserLock);
        if (gCondition == 3 && fStalled) {
            gIsActivate = 11;
            gCondition = 5;
        } else if (gCondition == 3) {
            gIsActivate = 8;
        }
        nCount = 0;
    }
    // What the port still holds of the image would reach the module later,
    // at whatever rate the line then has: dropped first, even when a verdict
    // came before.
    if (fStalled) {
        ClearCommOutput(hTTYWnd);
        ResetModule(nModelNo);
        SetupConnection(hTTYWnd, 1);
    }
}

} // namespace

INSTALLSTATE GetInstallState(void)
{
    std::lock_guard<PARSERLOCK> hold(gParserLock);
    return INSTALLSTATE{ gCondition, gIsActivate, nModel };
}

void InstallInit(HWND hDlg)
{
    InstallTimer(hDlg, TRUE);
    {
        std::lock_guard<PARSERLOCK> hold(gParserLock);
        gIsActivate = 1;
        gCondition = 0;
        fProgramSent = FALSE;
        dwImageTaken = 0;
        fImageTaken = FALSE;
        lEarlyVerdictAt = -1;
    }
    InstallEnable(hDlg, IDC_BROWSE, TRUE);
    InstallSetStatus(hDlg, kStatusWake);
    InstallSetFileName(hDlg, gszMyFileName);
}

void InstallTick(HWND hDlg)
{
    CheckData();

    int nModelNo = 1;
    switch (DecideTick(&nModelNo)) {
    case TA_NONE:
        break;
    case TA_WAKE:
        WriteText("\r");
        break;
    case TA_FLASH:
        InstallSetStatus(hDlg, "Initializing!");
        WriteText("flash");
        break;
    case TA_PREPARE:
        Prepare(hDlg, nModelNo);
        break;
    case TA_TRANSFER:
        Transfer(hDlg, nModelNo);
        break;
    case TA_SUCCESS:
        InstallSetStatus(hDlg, "Success to Install!");
        InstallMessage(hDlg, "Install Success!", gszAppName);
        InstallEnd(hDlg);
        break;
    case TA_FAIL:
        InstallSetStatus(hDlg, "Fail to Install!");
        InstallMessage(hDlg, "Install Fail!", kFailCaption);
        InstallEnd(hDlg);
        break;
    case TA_CLOSE:
        InstallEnd(hDlg);
        break;
    }
}

BOOL InstallCommand(HWND hDlg, WORD wId, WORD wCode)
{
    switch (wId) {
    case IDC_INSTCANCEL: {
        // Phase 5 closes the dialog on the next tick; a reply parsed from now
        // on cannot take the run back out of it.
        int nModelNo;
        {
            std::lock_guard<PARSERLOCK> hold(gParserLock);
            nModelNo = nModel;
            gCondition = 5;
        }
        ResetModule(nModelNo);
        SetupConnection(hTTYWnd, 1);
        return TRUE;
    }
    case IDC_FILENAME:
        if (wCode == EN_UPDATE)
            InstallGetFileName(hDlg, gszMyFileName, sizeof(gszMyFileName));
        return FALSE;
    case IDC_BROWSE:
        GetFileName(hDlg);
        return TRUE;
    }
    // IDCANCEL (Esc, the close box) included: only Cancel ends a run early.
    return FALSE;
}

void InstallDestroy(HWND hDlg)
{
    ResetModule(nModel);
    InstallTimer(hDlg, FALSE);
}
