// The reply parser: the reply table with its ordering rules, line assembly,
// and the bounds of both buffers.
#include "orvane/installer/checkdata.h"
#include "orvane/orvane.h"
#include "tests/support/recorder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class CheckDataTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetReceiveState();
        gpfnParseOnWindowThread = nullptr;
        gCondition = 0;
        gIsActivate = 1;     // an Install dialog is open
        fProgramSent = TRUE; // and "p 60" has gone out once the phase comes to it,
        fImageTaken = TRUE;  // the image too, unless a test says otherwise
        lEarlyVerdictAt = -1;
        nModel = 1;
        hTTYWnd = recorder::FakeWindow(7);
        recorder::Reset();
    }

    static void Feed(const std::string& bytes)
    {
        AppendReceived(reinterpret_cast<const BYTE*>(bytes.data()), (int)bytes.size());
    }

    // Parses until every received byte has been moved into a line.
    static void Drain()
    {
        for (int guard = 0; check_idx < received_length && guard < 100000; ++guard)
            CheckData();
    }

    static void ExpectState(int phase, int step, int model)
    {
        EXPECT_EQ(gCondition, phase);
        EXPECT_EQ(gIsActivate, step);
        EXPECT_EQ(nModel, model);
    }
};

struct Row
{
    const char* line;
    int phase;          // phase before the line
    int newPhase, newStep, newModel;   // newStep 0: unchanged
    int step = -1;      // step before it; -1: what the tick leaves once the phase's command is out
};

// Every reply in every phase; the model starts at 1.
const Row kTable[] = {
    // "000\r\n" moves only phase 0, and is never tested against the other rows.
    {"000\r\n", 0, 1, 2, 1}, {"000\r\n", 1, 1, 0, 1}, {"000\r\n", 2, 2, 0, 1},
    {"000\r\n", 3, 3, 0, 1}, {"000\r\n", 5, 5, 0, 1},
    // "100": phase 0 is MRQ-710F, phase 1 MRQ-520W or (with AVR) MRQ-41.
    {"100\r\n", 0, 2, 4, 3}, {"100\r\n", 1, 2, 4, 1}, {"100 AVR\r\n", 1, 2, 4, 2},
    {"100 AVR\r\n", 0, 2, 4, 3}, {"100\r\n", 2, 2, 0, 1}, {"100\r\n", 3, 3, 0, 1},
    {"100\r\n", 5, 5, 0, 1},
    // "200" only in phase 2.
    {"200\r\n", 0, 0, 0, 1}, {"200\r\n", 1, 1, 0, 1}, {"200\r\n", 2, 3, 6, 1},
    {"200\r\n", 3, 3, 0, 1}, {"200\r\n", 5, 5, 0, 1},
    // "101" only in phase 3: while the image goes out the module ended it
    // early (a failure), after it the image is installed.
    {"101\r\n", 0, 0, 0, 1}, {"101\r\n", 2, 2, 0, 1}, {"101\r\n", 3, 5, 11, 1},
    {"101\r\n", 3, 5, 9, 1, 8}, {"101\r\n", 5, 5, 0, 1},
    // A reply before what it answers went out is no reply: "100" before
    // "flash", "200" before "p 60", "101" before the image.
    {"100\r\n", 1, 1, 0, 1, 2}, {"200\r\n", 2, 2, 0, 1, 4}, {"101\r\n", 3, 3, 0, 1, 6},
    // "302" in every phase, whatever the step.
    {"302\r\n", 0, 5, 11, 1}, {"302\r\n", 1, 5, 11, 1}, {"302\r\n", 2, 5, 11, 1},
    {"302\r\n", 3, 5, 11, 1}, {"302\r\n", 5, 5, 11, 1}, {"302\r\n", 3, 5, 11, 1, 6},
    // Ordering: the first row that applies wins; a text match in the wrong
    // phase falls through to the later rows.
    {"101 302\r\n", 3, 5, 9, 1, 8}, {"101 302\r\n", 2, 5, 11, 1},
    {"100 200\r\n", 2, 3, 6, 1}, {"100 302\r\n", 3, 5, 11, 1},
    {"1000\r\n", 0, 1, 2, 1},            // row 1 first: not a "100"
    {"302 000\r\n", 1, 1, 0, 1},         // row 1 decides: "302" is never looked at
    // Codes are found anywhere, with or without CR; only row 1 wants CR LF.
    {"000\n", 0, 0, 0, 1}, {"ok 200 ready\n", 2, 3, 6, 1}, {"junk\r\n", 0, 0, 0, 1},
};

TEST_F(CheckDataTest, ReplyTableInEveryPhase)
{
    const int kStepOnceSent[] = { 1, 3, 5, 7, 0, 10 };   // by phase
    for (const Row& row : kTable) {
        SCOPED_TRACE(::testing::Message() << "line \"" << row.line << "\" in phase " << row.phase);
        SetUp();
        const int step = row.step >= 0 ? row.step : kStepOnceSent[row.phase];
        gCondition = row.phase;
        gIsActivate = step;
        fImageTaken = step >= 8;   // the transfer has returned with all of it
        dwImageTaken = 3000;
        Feed(row.line);
        ExpectState(row.newPhase, row.newStep ? row.newStep : step, row.newModel);
        const bool fEarly = std::string(row.line).rfind("101", 0) == 0 && row.phase == 3 && step == 7;
        EXPECT_EQ(lEarlyVerdictAt, fEarly ? 3000 : -1) << "the bytes taken when a 101 came early";
        EXPECT_EQ(nCnt, 0) << "a complete line is cleared";
        EXPECT_EQ(abCmd[0], 0);
    }
}

TEST_F(CheckDataTest, AWholeDownloadConversation)
{
    Feed("boot ok\r\n");               // ignored
    Feed("\r\n000\r\n");
    ExpectState(0, 1, 1);              // the first call took the blank line only
    CheckData();
    ExpectState(1, 2, 1);
    gIsActivate = 3;                   // each step the tick takes: "flash" sent
    Feed("flash\r\n100 AVR\r\n");
    Drain();
    ExpectState(2, 4, 2);
    gIsActivate = 5;                   // "p 60" sent
    Feed("200\r\n");
    ExpectState(3, 6, 2);
    gIsActivate = 7;                   // the image under way
    Feed("101\r\n");
    ExpectState(5, 9, 2);
    EXPECT_TRUE(recorder::CallsNamed("SetupConnection").empty());
}

TEST_F(CheckDataTest, RepliesSplitAcrossReadsAreAssembled)
{
    gCondition = 1;
    gIsActivate = 3;
    Feed("10");
    ExpectState(1, 3, 1);
    EXPECT_EQ(nCnt, 2);
    Feed("0\r");
    ExpectState(1, 3, 1);
    Feed("\n");
    ExpectState(2, 4, 1);
}

TEST_F(CheckDataTest, OneLinePerCallTheRestWaits)
{
    Feed("000\r\n302\r\n");
    ExpectState(1, 2, 1);
    EXPECT_EQ(received_length - check_idx, 5) << "the second line stays in abTemp";
    CheckData();                        // e.g. the next timer tick
    ExpectState(5, 11, 1);
    CheckData();                        // nothing new: returns at once
    ExpectState(5, 11, 1);
}

TEST_F(CheckDataTest, ZeroByteHidesTheRestOfTheLine)
{
    // x, x, NUL, then a whole "000" CR LF: found if the NUL were skipped.
    Feed(std::string("xx\0" "000\r\n", 8));
    ExpectState(0, 1, 1);
    EXPECT_EQ(nCnt, 0) << "the line is still consumed and cleared";
    Feed(std::string("\0" "100\r\n", 6));
    ExpectState(0, 1, 1);
}

// A line with "r\r" in it: the watcher leaves it, and every line after it,
// for the window thread and asks for a parse there; the window thread puts
// the normal rate back first, then matches the line.  A Download in between
// drops it with the receive buffers, so Download's rate wins.
TEST_F(CheckDataTest, RestoreLinesWaitForTheWindowThread)
{
    static int nRequests;
    nRequests = 0;
    gpfnParseOnWindowThread = [] { ++nRequests; };
    gCondition = 2;
    gIsActivate = 5;
    Feed("monitor error\r200\r\n");
    Feed("101\r\n");
    EXPECT_EQ(nRequests, 2) << "one request per block while the line waits";
    EXPECT_TRUE(recorder::CallsNamed("SetupConnection").empty()) << "the watcher changed the rate";
    ExpectState(2, 5, 1);

    CheckData();
    auto calls = recorder::CallsNamed("SetupConnection");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].hWnd, hTTYWnd);
    EXPECT_EQ(calls[0].a, 1) << "mode 1: the normal baud rate";
    EXPECT_EQ(calls[0].b, 2) << "the rate came back after the line was matched";
    ExpectState(3, 6, 1);
    gIsActivate = 7;                     // the image under way
    CheckData();                         // the line behind it, in order
    ExpectState(5, 9, 1);
    EXPECT_EQ(recorder::CallsNamed("SetupConnection").size(), 1u);

    recorder::Reset();
    Feed("error\r\n");
    BeginReceive();                      // the watcher reads "error\r\n" again ...
    ResetReceiveState();                 // ... Download: the installation rate, empty buffers ...
    Feed("error\r\n");                  // ... then hands the block on: it is dropped
    Feed("r\n");                         // r without CR is no restore
    Drain();
    EXPECT_TRUE(recorder::CallsNamed("SetupConnection").empty()) << "a restore of the run before landed";
    gpfnParseOnWindowThread = nullptr;
}

TEST_F(CheckDataTest, BeforeTheFirstInstallDialogLinesPileUpUnread)
{
    gIsActivate = 0;
    Feed("000\r\n");
    Feed("100\r\n");
    Drain();
    ExpectState(0, 0, 1);
    EXPECT_EQ(std::string((const char*)abCmd), "000\r\n100\r\n");
    EXPECT_TRUE(recorder::CallsNamed("SetupConnection").empty());

    // Hours of terminal traffic: abCmd stays bounded and keeps the newest bytes.
    const std::string line = "module says hello r\r\n";
    for (int i = 0; i < 2000; ++i) {
        Feed(line);
        Drain();
        ASSERT_LE(nCnt, LINE_CAPACITY);
        ASSERT_EQ(abCmd[LINE_CAPACITY], 0);
    }
    EXPECT_EQ(std::string((const char*)abCmd + nCnt - line.size()), line);
    EXPECT_TRUE(recorder::CallsNamed("SetupConnection").empty());
}

TEST_F(CheckDataTest, ReceiveBufferNeverOverflowsAndKeepsTheNewestBytes)
{
    // A chatty module: each append parses one line, so 48 KiB of short lines
    // pile up in abTemp faster than they are taken; then the verdict.
    gCondition = 3;
    gIsActivate = 8;
    std::string noise;
    while (noise.size() < 4096)
        noise += "x\n";
    for (int i = 0; i < 12; ++i) {
        Feed(noise);
        ASSERT_LE(received_length, RECEIVE_CAPACITY);
        ASSERT_LE(nCnt, LINE_CAPACITY);
    }
    Feed("\r\n101\r\n");
    Drain();
    ExpectState(5, 9, 1);
}

// Lines that pile up faster than they are parsed: some of the oldest may be
// dropped, but none is parsed twice and the order holds.
TEST_F(CheckDataTest, MakingRoomNeverParsesALineTwice)
{
    gIsActivate = 0;                    // lines collect in abCmd, unmatched
    std::string block;
    for (int n = 0; n < 3000; ++n) {
        char line[8];
        std::snprintf(line, sizeof line, "%05d\n", n);
        block += line;
        if (block.size() >= 600) {
            Feed(block);
            block.clear();
        }
    }
    Drain();
    int last = -1, nLines = 0;
    for (int at = nCnt - 6; at >= 0 && abCmd[at + 5] == '\n'; at -= 6, ++nLines) {
        const int n = std::atoi(std::string((const char*)abCmd + at, 5).c_str());
        ASSERT_LT(n, last < 0 ? 3000 : last) << "a line parsed twice or out of order";
        last = n;
    }
    EXPECT_GT(nLines, 300);
}

TEST_F(CheckDataTest, BlockLargerThanTheBufferKeepsItsTail)
{
    gCondition = 2;
    gIsActivate = 5;
    Feed("a\nb\nc\n");                // a backlog before it
    std::string block(RECEIVE_CAPACITY * 2, 'y');
    block += "\n200\r\n";
    Feed(block);
    EXPECT_LE(received_length, RECEIVE_CAPACITY);
    Drain();
    ExpectState(3, 6, 1);
}

// The reply straddles the moment abCmd is full: only the newest bytes kept
// still make "000\r\n".
TEST_F(CheckDataTest, LineLongerThanTheLineBufferStillEndsInItsReply)
{
    gCondition = 0;
    std::string line(LINE_CAPACITY - 2, 'z');
    line += "000\r\n";
    for (size_t i = 0; i < line.size(); i += 1000)
        Feed(line.substr(i, 1000));
    Drain();
    ExpectState(1, 2, 1);
    EXPECT_EQ(nCnt, 0);
}

TEST_F(CheckDataTest, DownloadResetEmptiesBothBuffers)
{
    gIsActivate = 0;
    Feed("partial line");
    Feed("x\r\n");
    ResetReceiveState();
    EXPECT_EQ(received_length, 0);
    EXPECT_EQ(check_idx, 0);
    EXPECT_EQ(nCnt, 0);
    for (BYTE b : abTemp) ASSERT_EQ(b, 0);
    for (BYTE b : abCmd) ASSERT_EQ(b, 0);
}

} // namespace
