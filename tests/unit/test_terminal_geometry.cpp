// The numbers behind painting and scrolling: scroll limits after a size
// change, the scroll commands with their clamping, and the cells an update
// rectangle meets.
#include "orvane/orvane.h"
#include "orvane/terminal/geometry.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr int kXChar = 8;
constexpr int kYChar = 12;
constexpr int kGridWidth = SCREEN_COLUMNS * kXChar;    // 640
constexpr int kGridHeight = SCREEN_ROWS * kYChar;      // 300

class GeometryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::memset(&tty, 0, sizeof tty);
        tty.xChar = kXChar;
        tty.yChar = kYChar;
    }

    // Returns the (vertical, horizontal) amounts.
    std::pair<int, int> Size(int nHeight, int nWidth)
    {
        int dy = 99, dx = 99;
        SizeTTYGeometry(&tty, nHeight, nWidth, &dy, &dx);
        return {dy, dx};
    }

    // The distance moved, or 999 for an ignored command.
    int Scroll(BOOL fVertical, WORD wCmd, WORD wPos = 0)
    {
        int nAmount = 999;
        return ScrollTTYGeometry(&tty, fVertical, wCmd, wPos, &nAmount) ? nAmount : 999;
    }

    static RECT Rect(LONG l, LONG t, LONG r, LONG b) { return RECT{l, t, r, b}; }

    TTYINFO tty;
};

TEST_F(GeometryTest, SizeSetsTheMaximaAndKeepsOffsetsInside)
{
    // Room for the whole grid (and exactly 25 rows high): nothing to scroll.
    EXPECT_EQ(Size(kGridHeight + 50, kGridWidth + 7), std::make_pair(0, 0));
    EXPECT_EQ(tty.yScroll, 0);
    EXPECT_EQ(tty.xScroll, 0);
    Size(kGridHeight, kGridWidth);
    EXPECT_EQ(tty.yScroll, 0);
    EXPECT_EQ(tty.xScroll, 0);
    EXPECT_EQ(tty.ySize, kGridHeight);
    EXPECT_EQ(tty.xSize, kGridWidth);

    // A small window, scrolled to the bottom right.
    Size(100, 200);
    EXPECT_EQ(tty.yScroll, kGridHeight - 100);
    EXPECT_EQ(tty.xScroll, kGridWidth - 200);
    tty.yOffset = tty.yScroll;
    tty.xOffset = tty.xScroll;

    // Minimized: 0 x 0 is a size like any other; the offsets stay.
    EXPECT_EQ(Size(0, 0), std::make_pair(0, 0));
    EXPECT_EQ(tty.yScroll, kGridHeight);
    EXPECT_EQ(tty.xScroll, kGridWidth);
    EXPECT_EQ(tty.yOffset, kGridHeight - 100);

    // Growing pulls the offsets back by the difference; the contents move
    // down and right by as much.
    EXPECT_EQ(Size(150, 260), std::make_pair(-50, -60));
    EXPECT_EQ(tty.yOffset, kGridHeight - 150);
    EXPECT_EQ(tty.yOffset, tty.yScroll);
    EXPECT_EQ(tty.xOffset, kGridWidth - 260);

    // Shrinking keeps them.
    EXPECT_EQ(Size(120, 230), std::make_pair(0, 0));
    EXPECT_EQ(tty.yOffset, kGridHeight - 150);
    EXPECT_EQ(tty.xOffset, kGridWidth - 260);
}

struct ScrollCase
{
    WORD wCmd;
    WORD wPos;
    int nOffsetBefore;
    int nAmount;        // 999: ignored
};

TEST_F(GeometryTest, ScrollCommandsClampToTheRange)
{
    // Client 100 high (yScroll 200), 300 wide (xScroll 340).
    const ScrollCase vertical[] = {
        {SB_LINEUP, 0, 0, 0},            {SB_LINEUP, 0, 50, -kYChar},
        {SB_LINEDOWN, 0, 200, 0},        {SB_LINEDOWN, 0, 195, 5},
        {SB_LINEDOWN, 0, 10, kYChar},    {SB_PAGEDOWN, 0, 150, 50},
        {SB_PAGEDOWN, 0, 0, 100},        {SB_PAGEUP, 0, 30, -30},
        {SB_PAGEUP, 0, 130, -100},       {SB_THUMBPOSITION, 77, 0, 77},
        {SB_THUMBPOSITION, 500, 20, 180}, {SB_TOP, 0, 123, -123},
        {SB_BOTTOM, 0, 3, 197},          {SB_THUMBTRACK, 50, 10, 999},
        {SB_ENDSCROLL, 0, 10, 999},      {9, 0, 10, 999},
        {0xFFFF, 0, 10, 999},
    };
    for (const ScrollCase& c : vertical) {
        SCOPED_TRACE(::testing::Message() << "command " << c.wCmd << " from " << c.nOffsetBefore);
        SetUp();
        Size(100, 300);
        tty.yOffset = c.nOffsetBefore;
        EXPECT_EQ(Scroll(TRUE, c.wCmd, c.wPos), c.nAmount);
        const int nExpected = c.nOffsetBefore + (c.nAmount == 999 ? 0 : c.nAmount);
        EXPECT_EQ(tty.yOffset, nExpected);
        EXPECT_GE(tty.yOffset, 0);
        EXPECT_LE(tty.yOffset, tty.yScroll);
        EXPECT_EQ(tty.xOffset, 0) << "the other axis stays";
    }

    // The horizontal bar uses the horizontal fields.
    SetUp();
    Size(100, 300);
    EXPECT_EQ(Scroll(FALSE, SB_LINERIGHT), kXChar);
    EXPECT_EQ(Scroll(FALSE, SB_PAGERIGHT), 300);
    EXPECT_EQ(Scroll(FALSE, SB_RIGHT), 340 - 308);
    EXPECT_EQ(tty.xOffset, 340);
    EXPECT_EQ(Scroll(FALSE, SB_LINERIGHT), 0);
    EXPECT_EQ(Scroll(FALSE, SB_PAGELEFT), -300);
    EXPECT_EQ(Scroll(FALSE, SB_LEFT), -40);
    EXPECT_EQ(Scroll(FALSE, SB_THUMBTRACK, 5), 999);
    EXPECT_EQ(tty.yOffset, 0);

    // With the whole grid visible every command leaves the offset at 0.
    Size(kGridHeight + 1, kGridWidth + 1);
    for (WORD wCmd : {SB_LINEDOWN, SB_PAGEDOWN, SB_BOTTOM, SB_THUMBPOSITION})
        EXPECT_EQ(Scroll(TRUE, wCmd, 40), 0);
}

TEST_F(GeometryTest, PaintRangeCoversTheCellsTheRectangleMeets)
{
    auto range = TTYPaintRange(&tty, Rect(0, 0, 1000, 1000));
    EXPECT_FALSE(range.fEmpty);
    EXPECT_EQ(range.nFirstRow, 0);
    EXPECT_EQ(range.nLastRow, 24);
    EXPECT_EQ(range.nFirstColumn, 0);
    EXPECT_EQ(range.nLastColumn, 79);

    // One pixel into a cell takes the whole cell; the right and bottom edges
    // are exclusive.
    range = TTYPaintRange(&tty, Rect(9, 12, 16, 25));
    EXPECT_EQ(range.nFirstColumn, 1);
    EXPECT_EQ(range.nLastColumn, 1);
    EXPECT_EQ(range.nFirstRow, 1);
    EXPECT_EQ(range.nLastRow, 2);

    // A thumb released between cell edges: the top row is the one holding
    // the top of the update rectangle.
    tty.yOffset = 17;
    tty.xOffset = 3;
    range = TTYPaintRange(&tty, Rect(0, 0, 10, 10));
    EXPECT_EQ(range.nFirstRow, 1);
    EXPECT_EQ(range.nLastRow, 2);
    EXPECT_EQ(range.nFirstColumn, 0);
    EXPECT_EQ(range.nLastColumn, 1);

    // Wholly beyond the grid: only the last row or column, to be clipped away.
    tty.xOffset = tty.yOffset = 0;
    range = TTYPaintRange(&tty, Rect(0, kGridHeight + 10, 50, kGridHeight + 40));
    EXPECT_EQ(range.nFirstRow, 24);
    EXPECT_EQ(range.nLastRow, 24);
    range = TTYPaintRange(&tty, Rect(kGridWidth + 5, 0, kGridWidth + 90, 20));
    EXPECT_EQ(range.nFirstColumn, 79);
    EXPECT_EQ(range.nLastColumn, 79);
    EXPECT_FALSE(range.fEmpty);
}

TEST_F(GeometryTest, DegenerateRectanglesAndCellsDrawNothing)
{
    // An empty rectangle on a cell edge would give a negative count.
    EXPECT_TRUE(TTYPaintRange(&tty, Rect(16, 24, 16, 24)).fEmpty);
    EXPECT_TRUE(TTYPaintRange(&tty, Rect(40, 0, 30, 10)).fEmpty);

    // No cell measured yet: no division by zero, nothing drawn.
    tty.xChar = 0;
    EXPECT_TRUE(TTYPaintRange(&tty, Rect(0, 0, 100, 100)).fEmpty);
    tty.xChar = kXChar;
    tty.yChar = 0;
    EXPECT_TRUE(TTYPaintRange(&tty, Rect(0, 0, 100, 100)).fEmpty);
}

TEST_F(GeometryTest, CellRectFollowsTheOffsets)
{
    tty.xOffset = 20;
    tty.yOffset = 7;
    const RECT rc = TTYCellRect(&tty, 2, 3);
    EXPECT_EQ(rc.left, 3 * kXChar - 20);
    EXPECT_EQ(rc.top, 2 * kYChar - 7);
    EXPECT_EQ(rc.right, 4 * kXChar - 20);
    EXPECT_EQ(rc.bottom, 3 * kYChar - 7);
}

} // namespace
