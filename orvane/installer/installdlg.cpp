// The Install dialog: the Win32 front end of the download state machine.
#include "orvane/installer/installdlg.h"

#include <commctrl.h>
#include <commdlg.h>

#define IDT_INSTALL 1   // the dialog's tick

INT_PTR CALLBACK InstallDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (uMsg) {
    case WM_INITDIALOG:
        InstallInit(hDlg);
        return TRUE;
    case WM_TIMER:
        InstallTick(hDlg);
        return FALSE;
    case WM_COMMAND:
        return InstallCommand(hDlg, LOWORD(wParam), HIWORD(wParam));
    case WM_DESTROY:
        InstallDestroy(hDlg);
        return FALSE;
    }
    return FALSE;
}

void InstallTimer(HWND hDlg, BOOL fRun)
{
    if (fRun)
        SetTimer(hDlg, IDT_INSTALL, 1, NULL);
    else
        KillTimer(hDlg, IDT_INSTALL);
}

void InstallSetStatus(HWND hDlg, LPCSTR lpszText)
{
    SendDlgItemMessageA(hDlg, IDC_STATUS, WM_SETTEXT, 0, (LPARAM)lpszText);
}

void InstallSetFileName(HWND hDlg, LPCSTR lpszName)
{
    // The field's EN_UPDATE copies the name into gszMyFileName.
    SendDlgItemMessageA(hDlg, IDC_FILENAME, WM_SETTEXT, 0, (LPARAM)lpszName);
}

int InstallGetFileName(HWND hDlg, LPSTR lpszName, int cchMax)
{
    return GetDlgItemTextA(hDlg, IDC_FILENAME, lpszName, cchMax);
}

void InstallEnable(HWND hDlg, int idControl, BOOL fEnable)
{
    EnableWindow(GetDlgItem(hDlg, idControl), fEnable);
}

void InstallProgressRange(HWND hDlg, WORD wMax)
{
    SendDlgItemMessageA(hDlg, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, wMax));
    SendDlgItemMessageA(hDlg, IDC_PROGRESS, PBM_SETSTEP, 1, 0);
}

void InstallProgressStep(HWND hDlg)
{
    SendDlgItemMessageA(hDlg, IDC_PROGRESS, PBM_STEPIT, 0, 0);
}

void InstallRepaint(HWND hDlg)
{
    UpdateWindow(hDlg);
}

void InstallMessage(HWND hOwner, LPCSTR lpszText, LPCSTR lpszCaption)
{
    MessageBoxA(hOwner, lpszText, lpszCaption, MB_OK);
}

void InstallPause(DWORD dwMilliseconds)
{
    Sleep(dwMilliseconds);
}

DWORD InstallClock(void)
{
    return GetTickCount();
}

void InstallEnd(HWND hDlg)
{
    EndDialog(hDlg, 1);
}

BOOL InstallChooseFile(HWND hOwner, LPSTR lpszFile, DWORD cchFile)
{
    // No existence check: a typed name that does not exist comes back too,
    // and the open that follows says so.
    OPENFILENAMEA ofn;
    ZeroMemory(&ofn, sizeof(ofn));
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = hOwner;
    ofn.lpstrFilter = "BIN File {*.bin}\0*.bin\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = lpszFile;
    ofn.nMaxFile = cchFile;
    ofn.Flags = 0;
    return GetOpenFileNameA(&ofn);
}
