#include "orvane/installer/checkdata.h"
#include "orvane/orvane.h"

#include <cstring>

BYTE abTemp[RECEIVE_CAPACITY + 1];
int  received_length = 0;
int  check_idx = 0;
BYTE abCmd[LINE_CAPACITY + 1];
int  nCnt = 0;

std::atomic<int> gCondition{0};
std::atomic<int> gIsActivate{0};
std::atomic<int> nModel{1};
BOOL fProgramSent = FALSE;
std::atomic<DWORD> dwImageTaken{0};
BOOL fImageTaken = FALSE;
std::atomic<LONG> lEarlyVerdictAt{-1};

PARSERLOCK gParserLock;
void (*gpfnParserWait)(void) = nullptr;

void PARSERLOCK::lock()
{
    if (m.try_lock())
        return;
    if (gpfnParserWait)
        gpfnParserWait();
    m.lock();
}

namespace {

bool Contains(const char* line, const char* text)
{
    return std::strstr(line, text) != nullptr;
}

// abCmd is full: keep the newest half of it.  While no one reads the lines
// (before the first Install dialog) they pile up here, and a line can be
// longer than the buffer; either way the newest bytes are the ones that can
// still complete a reply.
void DropOldestLineBytes()
{
    const int keep = LINE_CAPACITY / 2;
    std::memmove(abCmd, abCmd + (nCnt - keep), keep);
    std::memset(abCmd + keep, 0, sizeof(abCmd) - keep);
    nCnt = keep;
}

// abCmd holds a whole line with "r\r" in it that waits for the window thread:
// the normal line settings come back before the line is matched against the
// replies, and only the window thread changes the line's rate, so that the
// changes happen in the order they were asked for.
bool fRestorePending = false;

// The receive buffers' epoch, moved on by every reset (under the lock), and
// the one each reader thread saw before its read.
std::atomic<unsigned> uEpoch{0};
thread_local unsigned uReadEpoch = 0;
thread_local bool fReadStarted = false;

// Matches the line in abCmd against the replies and empties abCmd.  A reply
// counts only once what it answers has gone out: "100" after "flash" (step
// 3), "200" after "p 60" (step 5 is set before the pause and the file
// chooser, so fProgramSent says when it went), "101" once the image has
// begun (step 7 on): a reply that came early (a stray line, or one the tick
// has not acted on yet) must not skip a command or take a verdict for an
// image never sent.  A "101" while the image is still going out is the
// module ending an image it never had whole (it ends one on silence): no
// success.
void MatchLine()
{
    const char* line = reinterpret_cast<const char*>(abCmd);
    const int phase = gCondition;
    const int step = gIsActivate;
    if (Contains(line, "000\r\n")) {
        if (phase == 0) {
            gCondition = 1;
            gIsActivate = 2;
        }
    } else if (phase == 0 && Contains(line, "100")) {
        gCondition = 2;
        gIsActivate = 4;
        nModel = 3;
    } else if (phase == 1 && Contains(line, "100")) {
        if (step == 3) {
            gCondition = 2;
            gIsActivate = 4;
            nModel = Contains(line, "AVR") ? 2 : 1;
        }
    } else if (phase == 2 && Contains(line, "200")) {
        if (step == 5 && fProgramSent) {
            gCondition = 3;
            gIsActivate = 6;
        }
    } else if (phase == 3 && Contains(line, "101")) {
        if (step >= 7) {
            gCondition = 5;
            gIsActivate = fImageTaken ? 9 : 11;
            if (!fImageTaken)
                lEarlyVerdictAt = (LONG)dwImageTaken;
        }
    } else if (Contains(line, "302")) {
        gCondition = 5;
        gIsActivate = 11;
    }

    nCnt = 0;
    std::memset(abCmd, 0, sizeof(abCmd));
}

// One turn of the parser; the lock is held.  A line that asks for the normal
// line settings is left in abCmd (and no further line is cut) until the
// window thread has restored them: false then.
bool CheckDataLocked()
{
    if (fRestorePending)
        return false;

    const int end = received_length;
    bool isCmd = false;
    for (int i = check_idx; i < end; ++i) {
        if (nCnt == LINE_CAPACITY)
            DropOldestLineBytes();
        const BYTE b = abTemp[i];
        abCmd[nCnt++] = b;
        ++check_idx;
        if (b == '\n') {
            isCmd = true;
            break;
        }
    }

    if (gIsActivate == 0 || !isCmd)
        return true;
    if (Contains(reinterpret_cast<const char*>(abCmd), "r\r")) {
        fRestorePending = true;
        return false;
    }
    MatchLine();
    return true;
}

// Makes room for nLength more bytes at the end of abTemp.  Returns how many
// bytes of the block to skip (a block larger than the whole buffer keeps only
// its newest bytes).
int MakeRoom(int nLength)
{
    if (received_length + nLength <= RECEIVE_CAPACITY)
        return 0;

    // Consumed bytes first.
    const int backlog = received_length - check_idx;
    std::memmove(abTemp, abTemp + check_idx, backlog);
    received_length = backlog;
    check_idx = 0;

    if (nLength >= RECEIVE_CAPACITY) {
        received_length = 0;
        return nLength - RECEIVE_CAPACITY;
    }
    const int excess = received_length + nLength - RECEIVE_CAPACITY;
    if (excess > 0) {
        // Still too much: the oldest unparsed bytes go, the newest stay.
        std::memmove(abTemp, abTemp + excess, received_length - excess);
        received_length -= excess;
    }
    std::memset(abTemp + received_length, 0, sizeof(abTemp) - received_length);
    return 0;
}

} // namespace

void (*gpfnParseOnWindowThread)(void) = nullptr;

void CheckData(void)
{
    {
        std::lock_guard<PARSERLOCK> hold(gParserLock);
        if (CheckDataLocked())
            return;
    }
    // Outside the lock: the port's settings first, then the line.  Nothing
    // else parses meanwhile, and only this thread resets the buffers.
    SetupConnection(hTTYWnd, 1);
    std::lock_guard<PARSERLOCK> hold(gParserLock);
    if (fRestorePending) {
        fRestorePending = false;
        MatchLine();
    }
}

void BeginReceive(void)
{
    uReadEpoch = uEpoch;
    fReadStarted = true;
}

void AppendReceived(const BYTE* lpBlock, int nLength)
{
    bool fDone;
    {
        std::lock_guard<PARSERLOCK> hold(gParserLock);
        const bool fStale = fReadStarted && uReadEpoch != uEpoch;
        fReadStarted = false;
        if (fStale)
            return;   // read before the last reset
        if (lpBlock && nLength > 0) {
            const int skip = MakeRoom(nLength);
            std::memcpy(abTemp + received_length, lpBlock + skip, nLength - skip);
            received_length += nLength - skip;
        }
        fDone = CheckDataLocked();
    }
    if (!fDone && gpfnParseOnWindowThread)
        gpfnParseOnWindowThread();
}

void ResetReceiveState(void)
{
    ClearCommInput(hTTYWnd);   // no port call under the lock
    std::lock_guard<PARSERLOCK> hold(gParserLock);
    check_idx = 0;
    received_length = 0;
    nCnt = 0;
    fRestorePending = false;   // a restore of the run before is dropped
    ++uEpoch;                  // and so is a block read before now
    std::memset(abTemp, 0, sizeof(abTemp));
    std::memset(abCmd, 0, sizeof(abCmd));
}
