// orvane: the terminal and port record and every identifier the program uses
// (commands, dialogs, controls, strings, icon).  Resource scripts include this
// header too, so everything below the record is plain #defines.
#ifndef ORVANE_ORVANE_H
#define ORVANE_ORVANE_H

#include "orvane/platform.h"

// Resources
#define IDD_ABOUT           100
#define IDD_SETTINGS        101
#define IDD_INSTALL         102
#define IDR_ACCEL           200
#define IDR_MAINMENU        300
#define IDI_APPICON         600

// Commands of the main window
#define IDM_CONNECT         256
#define IDM_DISCONNECT      257
#define IDM_EXIT            258
#define IDM_SETTINGS        259
#define IDM_ABOUT           260
#define IDM_TESTBLOCK       261
#define IDM_SENDFILE        262
#define IDM_DOWNLOAD        263

// About dialog
#define IDC_ABOUTTITLE      530

// Serial Port Setting dialog
#define IDC_PORTCB          544
#define IDC_BAUDCB          545
#define IDC_DATABITSCB      546
#define IDC_PARITYCB        547
#define IDC_STOPBITSCB      548
#define IDC_INSTBAUD57600   558
#define IDC_INSTBAUD115200  559

// Install dialog
#define IDC_INSTCANCEL      4
#define IDC_FILENAME        5
#define IDC_STATUS          6
#define IDC_BROWSE          7
#define IDC_PROGRESS        8

// String table
#define IDS_COMPREFIX       784
#define IDS_BAUDBASE        808
#define IDS_PARITYBASE      816
#define IDS_STOPBITSBASE    832

// Window property under which dialogs keep the record (integer atom)
#define PROP_TTYINFO        ((LPCSTR)(ULONG_PTR)0x100)

#define SCREEN_COLUMNS      80
#define SCREEN_ROWS         25

#ifndef RC_INVOKED

#include <atomic>

#define ORVANE_APP_TITLE    "orvane 2.1 for MRQ-41/41c/520W/520W Lite/710F"

// One record per main window, at window index 0.
typedef struct tagTTYINFO
{
    HANDLE     idComDev;
    BYTE       bPort;
    BYTE       abScreen[SCREEN_ROWS * SCREEN_COLUMNS];
    BOOL       fConnected;
    BOOL       fXonXoff;
    BOOL       fLocalEcho;
    BOOL       fNewLine;
    BOOL       fAutoWrap;
    BOOL       fUseCNReceive;
    BOOL       fDisplayErrors;
    BYTE       bByteSize;
    BYTE       bFlowCtrl;
    BYTE       bParity;
    BYTE       bStopBits;
    DWORD      dwBaudRate;
    DWORD      dwBaudRateDown;
    WORD       wCursorState;
    HFONT      hTTYFont;
    LOGFONTA   lfTTYFont;
    COLORREF   rgbFGColor;
    int        xSize, ySize, xScroll, yScroll, xOffset, yOffset;
    int        nColumn, nRow, xChar, yChar;
    HANDLE     hPostEvent;
    HANDLE     hWatchThread;
    HANDLE     hWatchEvent;
    HWND       hTermWnd;
    DWORD      dwThreadID;
    OVERLAPPED osWrite;
    OVERLAPPED osRead;
} TTYINFO, *NPTTYINFO;

// fConnected and dwThreadID hand the port over between the window thread and
// the watcher: every access on either side goes through these, whole.
inline BOOL IsConnected(const TTYINFO* npTTYInfo)
{
    return std::atomic_ref<BOOL>(const_cast<BOOL&>(npTTYInfo->fConnected)).load();
}

inline void SetConnected(TTYINFO* npTTYInfo, BOOL fConnected)
{
    std::atomic_ref<BOOL>(npTTYInfo->fConnected).store(fConnected);
}

inline std::atomic_ref<DWORD> WatcherId(TTYINFO* npTTYInfo)
{
    return std::atomic_ref<DWORD>(npTTYInfo->dwThreadID);
}

// The record of a window, or NULL when it has none.  Each platform provides
// it: orvane.exe from the window's slot (shell/ttyinfo.cpp), orvane-cli on
// Linux from its port (cli/port_posix.cpp), the native tests from their
// recorders.
NPTTYINFO GetTTYInfo(HWND hWnd);

// Process-wide globals of the application shell.
// The main window: set by the window thread once it exists, read by the
// watcher too, so read and written whole.
extern std::atomic<HWND> hTTYWnd;
extern CHAR gszAppName[46];   // window title, caption of the message boxes
extern CHAR gszTTYClass[12];  // class of the main window

// Record lifetime (ttyinfo.cpp, Windows only).
LRESULT CreateTTYInfo(HWND hWnd);
BOOL    DestroyTTYInfo(HWND hWnd);

// Port link (serial/).
BOOL OpenConnection(HWND hWnd, int nMode);          // "COM" and the record's bPort
BOOL OpenConnectionTo(HWND hWnd, int nMode, LPCSTR lpszPort);   // a port named in full
BOOL SetupConnection(HWND hWnd, int nMode);
BOOL CloseConnection(HWND hWnd);
// Drops what was written but has not yet left the port: what an abandoned
// transfer left behind must not reach the module later.
BOOL ClearCommOutput(HWND hWnd);
// Drops what the port has received and no one has read yet.
BOOL ClearCommInput(HWND hWnd);
// Waits until what was written has left the port, so that a change of the
// rate after it does not catch it on its way (the MRQ-520W's reset "r\r"
// goes out at the rate the monitor listens at).  A write ends once the
// driver has the bytes, not once they are on the line.  FALSE when the port
// is closed, or stopped sending (a line held by flow control is not waited
// for without end).
BOOL DrainCommOutput(HWND hWnd);
BOOL WriteCommBlock(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite);
// One write of the block, as WriteCommBlock, that tells what the port took:
// all of it, or less when the port's write time-out ended the write.  FALSE
// when the write could not be made or failed (*lpdwTaken still counts what
// went); the caller goes on from where it stopped.
BOOL WriteCommBytes(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite, LPDWORD lpdwTaken);

#endif // RC_INVOKED
#endif // ORVANE_ORVANE_H
