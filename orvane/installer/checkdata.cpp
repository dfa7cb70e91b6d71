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

std::mutex gParserLock;

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

// One turn of the parser; the lock is held.  Returns TRUE when the line asks
// for the normal line settings to be restored.
bool CheckDataLocked()
{
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
        return false;

    const char* line = reinterpret_cast<const char*>(abCmd);
    const bool restore = Contains(line, "r\r");

    const int phase = gCondition;
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
        gCondition = 2;
        gIsActivate = 4;
        nModel = Contains(line, "AVR") ? 2 : 1;
    } else if (phase == 2 && Contains(line, "200")) {
        gCondition = 3;
        gIsActivate = 6;
    } else if (phase == 3 && Contains(line, "101")) {
        gCondition = 5;
        gIsActivate = 9;
    } else if (Contains(line, "302")) {
        gCondition = 5;
        gIsActivate = 11;
    }

    nCnt = 0;
    std::memset(abCmd, 0, sizeof(abCmd));
    return restore;
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

void CheckData(void)
{
    bool restore;
    {
        std::lock_guard<std::mutex> hold(gParserLock);
        restore = CheckDataLocked();
    }
    // Outside the lock: re-applying the line settings touches the port only.
    if (restore)
        SetupConnection(hTTYWnd, 1);
}

void AppendReceived(const BYTE* lpBlock, int nLength)
{
    bool restore = false;
    {
        std::lock_guard<std::mutex> hold(gParserLock);
        if (lpBlock && nLength > 0) {
            const int skip = MakeRoom(nLength);
            std::memcpy(abTemp + received_length, lpBlock + skip, nLength - skip);
            received_length += nLength - skip;
        }
        restore = CheckDataLocked();
    }
    if (restore)
        SetupConnection(hTTYWnd, 1);
}

void ResetReceiveState(void)
{
    std::lock_guard<std::mutex> hold(gParserLock);
    check_idx = 0;
    received_length = 0;
    nCnt = 0;
    std::memset(abTemp, 0, sizeof(abTemp));
    std::memset(abCmd, 0, sizeof(abCmd));
}
