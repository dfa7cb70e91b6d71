// The screen writer: control bytes, stored bytes, the wrap and the buffer
// scroll, what each write marks for repainting, typed characters, and the
// caret states.
#include "orvane/orvane.h"
#include "orvane/terminal/ttywrite.h"
#include "tests/support/recorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr int kXChar = 8;
constexpr int kYChar = 12;

class TerminalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::memset(&tty, 0, sizeof tty);
        std::memset(tty.abScreen, ' ', sizeof tty.abScreen);
        tty.fAutoWrap = TRUE;
        tty.xChar = kXChar;
        tty.yChar = kYChar;
        hWnd = recorder::FakeWindow(3);
        recorder::Attach(hWnd, &tty);
        recorder::Reset();
    }

    void TearDown() override { recorder::DetachAll(); }

    BOOL Write(const std::string& bytes)
    {
        return WriteTTYBlock(hWnd, reinterpret_cast<const BYTE*>(bytes.data()), (int)bytes.size());
    }

    std::string Row(int nRow) const
    {
        return std::string(reinterpret_cast<const char*>(tty.abScreen) + nRow * SCREEN_COLUMNS, SCREEN_COLUMNS);
    }

    static std::string Padded(const std::string& text) { return text + std::string(SCREEN_COLUMNS - text.size(), ' '); }

    void ExpectCursor(int nRow, int nColumn) const
    {
        EXPECT_EQ(tty.nRow, nRow);
        EXPECT_EQ(tty.nColumn, nColumn);
    }

    void Connect() { tty.fConnected = TRUE; }

    TTYINFO tty;
    HWND hWnd = nullptr;
};

TEST_F(TerminalTest, TextReturnAndLineFeed)
{
    EXPECT_TRUE(Write("AB\r\n"));
    EXPECT_EQ(Row(0), Padded("AB"));
    ExpectCursor(1, 0);

    // A line feed alone keeps the column.
    Write("abc\n");
    ExpectCursor(2, 3);

    // A row moved into keeps its text; new bytes overwrite it cell by cell.
    tty.nRow = 0;
    tty.nColumn = 0;
    Write("\n-");
    EXPECT_EQ(Row(1), Padded("-bc"));
}

TEST_F(TerminalTest, ReturnWithNewLineSkipsARow)
{
    tty.fNewLine = TRUE;
    Write("A\r\n");
    ExpectCursor(2, 0);
    Write("\r");
    ExpectCursor(3, 0);
}

TEST_F(TerminalTest, BackspaceBellAndNothingElse)
{
    Write("\x08");
    ExpectCursor(0, 0);
    Write("\n\x08");
    ExpectCursor(1, 0);   // never back to the previous row

    Write("abc\x08\x08");
    ExpectCursor(1, 1);
    EXPECT_EQ(Row(1), Padded("abc")) << "the cell is not erased";

    recorder::Reset();
    const std::string before = Row(1);
    Write("\x07");
    EXPECT_EQ(recorder::CallsNamed("MessageBeep").size(), 1u);
    EXPECT_EQ(recorder::CallsNamed("MessageBeep")[0].a, 0);
    EXPECT_EQ(Row(1), before);
    ExpectCursor(1, 1);
    EXPECT_TRUE(recorder::CallsNamed("InvalidateRect").empty());
}

TEST_F(TerminalTest, EveryOtherByteTakesOneCellZeroIncluded)
{
    const std::string odd("\x00\x01\x09\x0b\x0c\x1b\x7f\x80\xb0\xff", 10);
    EXPECT_TRUE(Write(odd + "z"));
    EXPECT_EQ(Row(0).substr(0, 11), odd + "z");
    ExpectCursor(0, 11);
    EXPECT_TRUE(recorder::CallsNamed("MessageBeep").empty());
}

// A run of stores on a row marks exactly its cells, in one rectangle; a
// control byte ends the run.
TEST_F(TerminalTest, AStoreRunInvalidatesItsCellsAndLeavesTheCaret)
{
    Connect();
    tty.wCursorState = 1;
    tty.xOffset = 5;
    tty.yOffset = 30;
    tty.nRow = 3;
    tty.nColumn = 10;
    Write("Hi\x07!");

    const auto rects = recorder::CallsNamed("InvalidateRect");
    ASSERT_EQ(rects.size(), 2u);
    const struct { int column, cells; } want[] = { { 10, 2 }, { 12, 1 } };
    for (int i = 0; i < 2; ++i) {
        const auto& c = rects[i];
        EXPECT_EQ(c.hWnd, hWnd);
        EXPECT_EQ(c.a, FALSE) << "never erased";
        ASSERT_TRUE(c.hasRect);
        EXPECT_EQ(c.rect.left, want[i].column * kXChar - 5);
        EXPECT_EQ(c.rect.top, 3 * kYChar - 30);
        EXPECT_EQ(c.rect.right - c.rect.left, want[i].cells * kXChar);
        EXPECT_EQ(c.rect.bottom - c.rect.top, kYChar);
    }
    EXPECT_TRUE(recorder::CallsNamed("SetCaretPos").empty()) << "the caret catches up later";
}

TEST_F(TerminalTest, FullRowWrapsWithAndWithoutNewLine)
{
    const std::string line(SCREEN_COLUMNS, '=');
    Write(line);
    EXPECT_EQ(Row(0), line);
    ExpectCursor(1, 0);

    // The wrap has moved on already, so the line's own CR LF skips a row.
    Write("\r\n");
    ExpectCursor(2, 0);

    SetUp();
    tty.fNewLine = TRUE;
    Write(line);
    ExpectCursor(2, 0);
}

TEST_F(TerminalTest, WithoutAutoWrapTheLastCellIsOverwritten)
{
    tty.fAutoWrap = FALSE;
    Write(std::string(SCREEN_COLUMNS, 'a') + "b");
    ExpectCursor(0, 79);
    EXPECT_EQ(Row(0), std::string(79, 'a') + "b");
    EXPECT_EQ(Row(1), Padded(""));
    Write("\x08");
    ExpectCursor(0, 78);
}

TEST_F(TerminalTest, LineFeedOnTheLastRowScrollsTheBuffer)
{
    for (int r = 0; r < SCREEN_ROWS; ++r)
        Write("row " + std::to_string(r) + (r < SCREEN_ROWS - 1 ? "\r\n" : ""));
    ExpectCursor(24, 6);
    recorder::Reset();

    Write("\n");
    ExpectCursor(24, 6);
    EXPECT_EQ(Row(0), Padded("row 1"));
    EXPECT_EQ(Row(23), Padded("row 24"));
    EXPECT_EQ(Row(24), Padded(""));
    const auto rects = recorder::CallsNamed("InvalidateRect");
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_FALSE(rects[0].hasRect) << "the whole client area";
    EXPECT_EQ(rects[0].a, FALSE);

    // A wrap in the bottom-right cell scrolls too, and stays on the grid.
    tty.nColumn = 79;
    Write("#");
    ExpectCursor(24, 0);
    EXPECT_EQ(Row(23), std::string(79, ' ') + "#");
}

TEST_F(TerminalTest, EmptyNegativeAndMissing)
{
    const std::string before = Row(0);
    EXPECT_TRUE(WriteTTYBlock(hWnd, reinterpret_cast<const BYTE*>("x"), 0));
    EXPECT_TRUE(WriteTTYBlock(hWnd, reinterpret_cast<const BYTE*>("x"), -5));
    EXPECT_TRUE(WriteTTYBlock(hWnd, nullptr, 0));
    EXPECT_FALSE(WriteTTYBlock(hWnd, nullptr, 10)) << "no bytes to read";
    EXPECT_EQ(Row(0), before);
    ExpectCursor(0, 0);
    EXPECT_TRUE(recorder::Calls().empty());

    HWND hOther = recorder::FakeWindow(9);
    EXPECT_FALSE(WriteTTYBlock(hOther, reinterpret_cast<const BYTE*>("x"), 1));
    EXPECT_FALSE(ProcessTTYCharacter(hOther, 'x'));
    EXPECT_FALSE(MoveTTYCursor(hOther));
    EXPECT_FALSE(SetTTYFocus(hOther));
    EXPECT_FALSE(KillTTYFocus(hOther));
    EXPECT_TRUE(recorder::Calls().empty());
}

TEST_F(TerminalTest, TypingWhileDisconnectedGoesNowhere)
{
    tty.fLocalEcho = TRUE;
    EXPECT_FALSE(ProcessTTYCharacter(hWnd, 'k'));
    EXPECT_TRUE(recorder::Calls().empty());
    EXPECT_EQ(Row(0), Padded(""));
}

TEST_F(TerminalTest, TypedBytesAreSentThenEchoed)
{
    Connect();
    tty.fNewLine = TRUE;
    EXPECT_TRUE(ProcessTTYCharacter(hWnd, 'k'));
    EXPECT_TRUE(ProcessTTYCharacter(hWnd, '\r'));
    auto sent = recorder::CallsNamed("WriteCommBlock");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].bytes, "k");
    EXPECT_EQ(sent[1].bytes, "\r") << "sent alone whatever fNewLine says";
    EXPECT_EQ(Row(0), Padded("")) << "no echo";

    recorder::Reset();
    tty.fLocalEcho = TRUE;
    ProcessTTYCharacter(hWnd, 'q');
    ProcessTTYCharacter(hWnd, '\r');
    const auto& calls = recorder::Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "WriteCommBlock");
    EXPECT_EQ(calls[1].name, "InvalidateRect");
    EXPECT_EQ(Row(0), Padded("q"));
    ExpectCursor(1, 0);   // the echoed CR acts as one, with its line feed
}

TEST_F(TerminalTest, CaretFollowsConnectionAndFocus)
{
    // Disconnected: no caret is made, none is removed.
    EXPECT_TRUE(SetTTYFocus(hWnd));
    EXPECT_EQ(tty.wCursorState, 0);
    EXPECT_TRUE(recorder::Calls().empty());

    Connect();
    tty.nRow = 2;
    tty.nColumn = 5;
    SetTTYFocus(hWnd);
    EXPECT_EQ(tty.wCursorState, 1);
    auto created = recorder::CallsNamed("CreateCaret");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].a, kXChar);
    EXPECT_EQ(created[0].b, kYChar);
    EXPECT_EQ(recorder::CallsNamed("ShowCaret").size(), 1u);
    auto pos = recorder::CallsNamed("SetCaretPos");
    ASSERT_EQ(pos.size(), 1u);
    EXPECT_EQ(pos[0].a, 5 * kXChar);
    EXPECT_EQ(pos[0].b, 2 * kYChar);

    SetTTYFocus(hWnd);
    EXPECT_EQ(recorder::CallsNamed("CreateCaret").size(), 1u) << "made once";

    // BS, CR and LF move it; with the write position scrolled out of view
    // the position lies outside the client area and is set all the same.
    recorder::Reset();
    tty.yOffset = 100;
    Write("\x08\r\n");
    pos = recorder::CallsNamed("SetCaretPos");
    ASSERT_EQ(pos.size(), 3u);
    EXPECT_EQ(pos[0].a, 4 * kXChar);
    EXPECT_EQ(pos[1].a, 0);
    EXPECT_EQ(pos[2].b, 3 * kYChar - 100);

    tty.fConnected = FALSE;
    KillTTYFocus(hWnd);
    EXPECT_EQ(tty.wCursorState, 1) << "closing the port leaves the caret to the Disconnect command";
    MoveTTYCursor(hWnd);
    EXPECT_EQ(recorder::CallsNamed("SetCaretPos").size(), 3u);

    Connect();
    recorder::Reset();
    KillTTYFocus(hWnd);
    EXPECT_EQ(tty.wCursorState, 0);
    ASSERT_EQ(recorder::Calls().size(), 2u);
    EXPECT_EQ(recorder::Calls()[0].name, "HideCaret");
    EXPECT_EQ(recorder::Calls()[1].name, "DestroyCaret");
    MoveTTYCursor(hWnd);
    KillTTYFocus(hWnd);
    EXPECT_EQ(recorder::Calls().size(), 2u);
}

} // namespace
