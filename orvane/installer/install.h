// The download: the Install dialog's state machine and the image transfer.
// Their decisions are portable; everything they do to the outside world goes
// through the front end declared below (the Install dialog in orvane.exe,
// recorders in the native tests).  Phase, step and model live with the reply
// parser (checkdata.h), which moves them when the module answers.
#ifndef ORVANE_INSTALLER_INSTALL_H
#define ORVANE_INSTALLER_INSTALL_H

#include "orvane/installer/checkdata.h"
#include "orvane/orvane.h"

#define IMAGE_CHUNK     1024   // bytes of image per write, one progress step each
#define FILENAME_LENGTH 512    // the longest file name kept, with its terminating zero
#define IMAGE_STALL_MS  5000   // the port taking none of the image this long ends the transfer
#define IMAGE_RETRY_MS  10     // the pause before writing again to a port that took nothing
#define IMAGE_STALLED   (-1)   // SendFileInstall: the port stopped taking the image
// A port that trickles ends the transfer too: the image not gone within
// IMAGE_TIME_FACTOR times its wire time (10 bits a byte) and IMAGE_TIME_EXTRA_MS.
#define IMAGE_TIME_FACTOR   4
#define IMAGE_TIME_EXTRA_MS 10000

extern int  max_timeout;   // ticks allowed for the verdict after the image
extern int  nCount;        // ticks counted since the image was written
extern CHAR gszMyFileName[FILENAME_LENGTH];   // the image, kept for the process's life
extern BOOL fImageStalled;  // the port stopped taking the last transfer's image (dwImageTaken: what it took)

// Phase, step and model read together, as one (under the parser's lock).
struct INSTALLSTATE
{
    int nPhase, nStep, nModel;
};
INSTALLSTATE GetInstallState(void);

// The dialog's events.
void InstallInit(HWND hDlg);                        // WM_INITDIALOG
void InstallTick(HWND hDlg);                        // WM_TIMER
BOOL InstallCommand(HWND hDlg, WORD wId, WORD wCode); // WM_COMMAND; the dialog's result
void InstallDestroy(HWND hDlg);                     // WM_DESTROY

// The image: the file chooser of the dialog, the transfer, and Shift+F3's
// plain send of a whole file.  SendFileInstall returns 1 when the whole image
// went, 0 when it could not be opened or read, IMAGE_STALLED when the port
// stopped taking it or its time ran out.
int GetFileName(HWND hDlg);
int SendFileInstall(HWND hDlg, LPCSTR lpFileName);
int SendFile(HWND hWnd);

// ---- the front end ----------------------------------------------------------
void InstallTimer(HWND hDlg, BOOL fRun);                 // the 1 ms tick, started or stopped
void InstallSetStatus(HWND hDlg, LPCSTR lpszText);       // the status text
void InstallSetFileName(HWND hDlg, LPCSTR lpszName);     // into the file-name field
int  InstallGetFileName(HWND hDlg, LPSTR lpszName, int cchMax); // from it; its length
void InstallEnable(HWND hDlg, int idControl, BOOL fEnable);
void InstallProgressRange(HWND hDlg, WORD wMax);         // 0..wMax, one per step
void InstallProgressStep(HWND hDlg);
void InstallRepaint(HWND hDlg);                          // at once: the thread is busy
void InstallMessage(HWND hOwner, LPCSTR lpszText, LPCSTR lpszCaption);
void InstallPause(DWORD dwMilliseconds);
DWORD InstallClock(void);                                // milliseconds, from any start
void InstallEnd(HWND hDlg);
// The "BIN File {*.bin}" chooser over the caller's buffer; non-zero when a
// file was chosen (its name is then in the buffer).
BOOL InstallChooseFile(HWND hOwner, LPSTR lpszFile, DWORD cchFile);

// The image file, opened for reading without sharing (orvane.exe) or plainly
// (natively).  NULL when it cannot be opened; a read returns -1 on failure.
void* ImageOpen(LPCSTR lpszName);
DWORD ImageSize(void* hImage);
int   ImageRead(void* hImage, BYTE* lpBuffer, int nMax);
void  ImageClose(void* hImage);

#endif
