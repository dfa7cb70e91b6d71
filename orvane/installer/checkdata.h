// The reply parser: bytes received from the module are collected in abTemp,
// cut into LF-terminated lines in abCmd (one line per CheckData call), and the
// boot monitor's replies move the installer's phase, step and model.
#ifndef ORVANE_INSTALLER_CHECKDATA_H
#define ORVANE_INSTALLER_CHECKDATA_H

#include "orvane/platform.h"

#include <atomic>
#include <mutex>

#define RECEIVE_CAPACITY 8192   // bytes of received data abTemp can hold
#define LINE_CAPACITY    4096   // bytes of line abCmd can hold

extern BYTE abTemp[RECEIVE_CAPACITY + 1];
extern int  received_length;    // bytes stored in abTemp
extern int  check_idx;          // first byte of abTemp not yet moved into abCmd
extern BYTE abCmd[LINE_CAPACITY + 1];
extern int  nCnt;               // bytes in abCmd

// Installer state, written by the parser on either thread and by the Install
// dialog on the window thread; atomic so either thread reads it whole.
extern std::atomic<int> gCondition;   // phase 0..5
extern std::atomic<int> gIsActivate;  // step 0..11; 0 until the first Install dialog
extern std::atomic<int> nModel;       // 1 MRQ-520W, 2 MRQ-41, 3 MRQ-710F

// "p 60\r" has gone to the port in this run: only then does a "200" answer
// it.  Set and cleared by the Install dialog, under the lock below.
extern BOOL fProgramSent;

// The image of this run, as the parser judges a "101" by it.  The transfer
// counts what the port has taken (dwImageTaken) and marks, under the lock,
// when the port has taken the last byte (fImageTaken): only a "101" from
// then on is the module's word on all of it.  One that came while bytes were
// still to go ends the run as a failure, and lEarlyVerdictAt keeps the count
// it came at (-1: none came early).  All three start over with each run.
extern std::atomic<DWORD> dwImageTaken;
extern BOOL fImageTaken;
extern std::atomic<LONG> lEarlyVerdictAt;

// Held around every parser call and every append-and-parse, and by anyone
// touching the buffers or counters above.  A thread that finds it held calls
// gpfnParserWait before it waits: tests see by it that a thread is waiting.
struct PARSERLOCK
{
    void lock();
    void unlock() { m.unlock(); }
    bool try_lock() { return m.try_lock(); }
    std::mutex m;
};
extern PARSERLOCK gParserLock;
extern void (*gpfnParserWait)(void);

// Moves at most one line from abTemp into abCmd and acts on it.  The window
// thread's parse: a line holding "r\r" restores the normal line settings
// (SetupConnection) before it is matched against the replies.
void CheckData(void);

// The watcher's append: copies a received block into abTemp and parses, under
// one hold of the lock.  Never writes past abTemp: consumed bytes are dropped
// first, and when the backlog still does not fit the oldest unparsed bytes go.
// A line holding "r\r" is left for the window thread, which alone changes the
// line's settings: nothing after it is parsed until CheckData has run there,
// and gpfnParseOnWindowThread (when set) is asked to see to that.
void AppendReceived(const BYTE* lpBlock, int nLength);
extern void (*gpfnParseOnWindowThread)(void);

// A reader of the port calls this before each read: the block it then hands
// to AppendReceived is dropped when a Download's reset came in between.  Such
// bytes belong to the time before the Download, and a "r\r" among them must
// not undo the rate Download has just set.
void BeginReceive(void);

// The Download command's reset, once the installation rate is set: what the
// port's driver holds unread dropped (ClearCommInput on hTTYWnd), both
// buffers zeroed, the counters to 0, and a restore that was waiting for the
// window thread dropped with its line.  Everything received before it is the
// run before's: the module's reset banner, a late verdict, the tail of a line.
void ResetReceiveState(void);

#endif
