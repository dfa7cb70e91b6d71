// The Serial Port Setting dialog: port, normal and installation baud rates;
// data bits, parity and stop bits shown but fixed.  The record comes as the
// creation parameter and stays as the property PROP_TTYINFO until the dialog
// is destroyed.  The dialog never touches the port.
#include "orvane/settings/settings.h"

namespace {

NPTTYINFO DialogTTYInfo(HWND hDlg)
{
    return (NPTTYINFO)GetPropA(hDlg, PROP_TTYINFO);
}

HINSTANCE DialogInstance(HWND hDlg)
{
    return (HINSTANCE)GetWindowLongPtrA(hDlg, GWLP_HINSTANCE);
}

void AddString(HWND hCtrlWnd, LPCSTR lpszText)
{
    SendMessageA(hCtrlWnd, CB_ADDSTRING, 0, (LPARAM)lpszText);
}

// The selected position of a list, -1 for none, and its item data.
int SelectedEntry(HWND hDlg, int idCtrl, DWORD* pdwData)
{
    HWND hCtrlWnd = GetDlgItem(hDlg, idCtrl);
    LRESULT lSel = SendMessageA(hCtrlWnd, CB_GETCURSEL, 0, 0);
    if (lSel == CB_ERR)
        return -1;
    if (pdwData != NULL)
        *pdwData = (DWORD)SendMessageA(hCtrlWnd, CB_GETITEMDATA, (WPARAM)lSel, 0);
    return (int)lSel;
}

} // namespace

void FillComboBox(HINSTANCE hInstance, HWND hCtrlWnd, int nIDString,
                  const DWORD* npTable, WORD wTableLen, DWORD dwCurrentSetting)
{
    CHAR szBuffer[81];
    for (WORD i = 0; i < wTableLen; i++) {
        if (LoadStringA(hInstance, nIDString + i, szBuffer, sizeof(szBuffer)) == 0)
            szBuffer[0] = '\0';
        LRESULT lPos = SendMessageA(hCtrlWnd, CB_ADDSTRING, 0, (LPARAM)szBuffer);
        SendMessageA(hCtrlWnd, CB_SETITEMDATA, (WPARAM)lPos, (LPARAM)npTable[i]);
    }
    SendMessageA(hCtrlWnd, CB_SETCURSEL,
                 (WPARAM)FindTableEntry(npTable, wTableLen, dwCurrentSetting), 0);
}

BOOL SettingsDlgInit(HWND hDlg)
{
    NPTTYINFO npTTYInfo = DialogTTYInfo(hDlg);
    if (npTTYInfo == NULL)
        return FALSE;

    HINSTANCE hInstance = DialogInstance(hDlg);
    SETTINGSVIEW view;
    GetSettingsView(npTTYInfo, &view);

    CHAR szPrefix[81], szBuffer[81];
    if (LoadStringA(hInstance, IDS_COMPREFIX, szPrefix, sizeof(szPrefix)) == 0)
        szPrefix[0] = '\0';
    HWND hPortCB = GetDlgItem(hDlg, IDC_PORTCB);
    for (int nPort = 1; nPort <= wMaxCOM; nPort++) {
        wsprintfA(szBuffer, "%s%d", szPrefix, nPort);
        AddString(hPortCB, szBuffer);
    }
    SendMessageA(hPortCB, CB_SETCURSEL, (WPARAM)view.nPortSel, 0);
    EnableWindow(hPortCB, view.fPortEnabled);

    FillComboBox(hInstance, GetDlgItem(hDlg, IDC_BAUDCB), IDS_BAUDBASE,
                 BaudTable, BAUD_ENTRIES, npTTYInfo->dwBaudRate);

    HWND hDataBitsCB = GetDlgItem(hDlg, IDC_DATABITSCB);
    for (int nBits = MIN_BYTESIZE; nBits <= MAX_BYTESIZE; nBits++) {
        wsprintfA(szBuffer, "%d", nBits);
        AddString(hDataBitsCB, szBuffer);
    }
    SendMessageA(hDataBitsCB, CB_SETCURSEL, (WPARAM)view.nByteSizeSel, 0);

    FillComboBox(hInstance, GetDlgItem(hDlg, IDC_PARITYCB), IDS_PARITYBASE,
                 ParityTable, PARITY_ENTRIES, npTTYInfo->bParity);
    FillComboBox(hInstance, GetDlgItem(hDlg, IDC_STOPBITSCB), IDS_STOPBITSBASE,
                 StopBitsTable, STOPBITS_SHOWN, npTTYInfo->bStopBits);

    CheckDlgButton(hDlg, view.idInstBaud, BST_CHECKED);
    return TRUE;
}

BOOL SettingsDlgTerm(HWND hDlg)
{
    NPTTYINFO npTTYInfo = DialogTTYInfo(hDlg);
    if (npTTYInfo == NULL)
        return FALSE;

    SETTINGSCHOICE choice = {};
    choice.nPortSel = SelectedEntry(hDlg, IDC_PORTCB, NULL);
    choice.nBaudSel = SelectedEntry(hDlg, IDC_BAUDCB, &choice.dwBaud);
    choice.nByteSizeSel = SelectedEntry(hDlg, IDC_DATABITSCB, NULL);
    choice.nParitySel = SelectedEntry(hDlg, IDC_PARITYCB, &choice.dwParity);
    choice.nStopBitsSel = SelectedEntry(hDlg, IDC_STOPBITSCB, &choice.dwStopBits);
    choice.fInstBaud57600 = IsDlgButtonChecked(hDlg, IDC_INSTBAUD57600) == BST_CHECKED;
    ApplySettingsChoice(npTTYInfo, &choice);
    return TRUE;
}

INT_PTR CALLBACK SettingsDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        SetPropA(hDlg, PROP_TTYINFO, (HANDLE)lParam);
        return SettingsDlgInit(hDlg);

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            SettingsDlgTerm(hDlg);
            EndDialog(hDlg, TRUE);
            return TRUE;
        case IDCANCEL:
            EndDialog(hDlg, TRUE);
            return TRUE;
        }
        return FALSE;

    case WM_DESTROY:
        RemovePropA(hDlg, PROP_TTYINFO);
        return FALSE;
    }
    return FALSE;
}
