// The Serial Port Setting dialog: its value tables, and what the dialog shows
// for a record and writes back into it.  The tables and decisions are
// portable; the dialog procedure is Win32 (settingsdlg.cpp).
#ifndef ORVANE_SETTINGS_SETTINGS_H
#define ORVANE_SETTINGS_SETTINGS_H

#include "orvane/orvane.h"

const WORD wMaxCOM = 4;   // COM1 to COM4, whatever the machine has
#define BAUD_ENTRIES     2
#define PARITY_ENTRIES   5
#define STOPBITS_ENTRIES 3
#define STOPBITS_SHOWN   1   // one stop bit is the only choice offered
#define MIN_BYTESIZE     5   // data-bits list: 5 to 8
#define MAX_BYTESIZE     8

// Entry i of a list shows string base + i and carries table entry i.
extern const DWORD BaudTable[BAUD_ENTRIES];
extern const DWORD ParityTable[PARITY_ENTRIES];
extern const DWORD StopBitsTable[STOPBITS_ENTRIES];

// Position of the last of the first wTableLen entries equal to dwSetting;
// -1 when none is.
int FindTableEntry(const DWORD* npTable, WORD wTableLen, DWORD dwSetting);

// What the dialog shows for a record (the lists filled from tables select
// their entries with FindTableEntry).  Positions are -1 for no selection.
typedef struct tagSETTINGSVIEW
{
    int  nPortSel;
    BOOL fPortEnabled;    // the port cannot change while connected
    int  nByteSizeSel;
    int  idInstBaud;      // the radio button to set
} SETTINGSVIEW;

void GetSettingsView(const TTYINFO* npTTYInfo, SETTINGSVIEW* pView);

// What the user left in the dialog at Ok: the selected position of each
// list (-1 for none) and the item data of the selected entries.
typedef struct tagSETTINGSCHOICE
{
    int   nPortSel;
    int   nBaudSel;
    DWORD dwBaud;
    int   nByteSizeSel;
    int   nParitySel;
    DWORD dwParity;
    int   nStopBitsSel;
    DWORD dwStopBits;
    BOOL  fInstBaud57600;
} SETTINGSCHOICE;

// Writes the choice into the record.  A list without a selection keeps the
// record's value.  The option fields (bFlowCtrl, fAutoWrap, fNewLine,
// fLocalEcho, fUseCNReceive, fDisplayErrors) have no controls in the dialog
// and keep theirs.
void ApplySettingsChoice(TTYINFO* npTTYInfo, const SETTINGSCHOICE* pChoice);

#ifdef _WIN32
INT_PTR CALLBACK SettingsDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
BOOL SettingsDlgInit(HWND hDlg);
BOOL SettingsDlgTerm(HWND hDlg);
void FillComboBox(HINSTANCE hInstance, HWND hCtrlWnd, int nIDString,
                  const DWORD* npTable, WORD wTableLen, DWORD dwCurrentSetting);
#endif

#endif
