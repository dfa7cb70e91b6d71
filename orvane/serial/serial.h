// The port link: opening, configuring and closing the COM port, block reads
// and writes, and the watcher thread that does all receiving.  The record's
// operations (OpenConnection, SetupConnection, CloseConnection,
// WriteCommBlock) are declared with the record in orvane.h.
#ifndef ORVANE_SERIAL_SERIAL_H
#define ORVANE_SERIAL_SERIAL_H

#include "orvane/orvane.h"

#define MAXBLOCK 4096   // the most one read takes from the driver

// Portable: the line settings of the record for a mode (non-zero: the
// normal rate dwBaudRate, zero: the installation rate dwBaudRateDown),
// written over the port's current state in *pdcb.
void FillDCB(const TTYINFO* npTTYInfo, int nMode, DCB* pdcb);

// Portable: the watcher's choice to poll a port rather than wait for its
// events.  Some drivers (a pseudo-terminal under Wine, some virtual ports) end
// every wait at once with no event; a real port may end one now and then (a
// line error, say), and reports the next byte as an event.  Only
// EMPTY_WAITS_TO_POLL waits in a row that end without a received-character
// event make the watcher poll, for good; bytes an empty wait finds queued are
// read all the same.  *pnEmpty counts them; TRUE when it is time to poll.
#define EMPTY_WAITS_TO_POLL 8
BOOL NoteEventWait(int* pnEmpty, DWORD dwEvtMask);

#ifdef _WIN32
// A closed port is marked with INVALID_HANDLE_VALUE; a handle that was never
// opened is NULL.  Neither may reach the driver.
bool PortIsOpen(const TTYINFO* npTTYInfo);

int ReadCommBlock(HWND hWnd, LPSTR lpszBlock, int nMaxLength);
DWORD WINAPI CommWatchProc(LPVOID lpData);

// Where the watcher hands every received block: the installer's receive
// buffer and parser (AppendReceived).  Tests of the link point it elsewhere
// to see every byte that was read.
extern void (*gpfnReceivedBlock)(const BYTE* lpBlock, int nLength);

// How a write waits for a pending write to end: GetOverlappedResult.  Tests
// of the link put a wait of their own in front of it.
extern BOOL (WINAPI *gpfnWaitForWrite)(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpCount, BOOL bWait);
#endif

#endif
