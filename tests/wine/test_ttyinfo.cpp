// The record on a real window: defaults, the menu it leaves, its place at
// window index 0, and teardown.
#include "orvane/orvane.h"
#include "orvane/installer/checkdata.h"
#include "tests/support/ttywindow.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class RecordWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        hWnd = CreateTestTTYWindow(WS_OVERLAPPEDWINDOW, 500, 300);
        hMenu = GetMenu(hWnd);
        ASSERT_NE(hWnd, (HWND)NULL);
    }

    void TearDown() override
    {
        if (hWnd)
            DestroyWindow(hWnd);
    }

    UINT MenuState(UINT id) const { return GetMenuState(GetMenu(hWnd), id, MF_BYCOMMAND); }

    HWND hWnd = NULL;
    HMENU hMenu = NULL;
};

TEST_F(RecordWindow, CreateGivesTheDefaultsAtIndexZero)
{
    ASSERT_EQ(CreateTTYInfo(hWnd), TRUE);
    NPTTYINFO p = (NPTTYINFO)GetWindowLongPtrA(hWnd, 0);
    ASSERT_NE(p, (NPTTYINFO)NULL);
    EXPECT_EQ(p, GetTTYInfo(hWnd));

    EXPECT_EQ(p->bPort, 1);
    EXPECT_EQ(p->dwBaudRate, 19200u);
    EXPECT_EQ(p->dwBaudRateDown, 115200u);
    EXPECT_EQ(p->bByteSize, 8);
    EXPECT_EQ(p->bParity, NOPARITY);
    EXPECT_EQ(p->bStopBits, ONESTOPBIT);
    EXPECT_EQ(p->bFlowCtrl, 0);
    EXPECT_TRUE(p->fAutoWrap);
    EXPECT_FALSE(p->fLocalEcho);
    EXPECT_FALSE(p->fNewLine);
    EXPECT_TRUE(p->fDisplayErrors);
    EXPECT_TRUE(p->fUseCNReceive);
    EXPECT_FALSE(p->fXonXoff);
    EXPECT_FALSE(p->fConnected);
    EXPECT_EQ(p->idComDev, (HANDLE)NULL);
    EXPECT_EQ(p->wCursorState, 0);
    EXPECT_EQ(p->nRow, 0);
    EXPECT_EQ(p->nColumn, 0);
    EXPECT_EQ(p->rgbFGColor, RGB(0, 0, 0));
    EXPECT_EQ(p->hTermWnd, hWnd);
    EXPECT_EQ(p->dwThreadID, 0u);
    EXPECT_EQ(p->hWatchThread, (HANDLE)NULL);
    for (BYTE b : p->abScreen)
        ASSERT_EQ(b, ' ');

    EXPECT_EQ(p->lfTTYFont.lfHeight, 9);
    EXPECT_EQ(p->lfTTYFont.lfCharSet, OEM_CHARSET);
    EXPECT_EQ(p->lfTTYFont.lfPitchAndFamily, FIXED_PITCH | FF_MODERN);
    EXPECT_STREQ(p->lfTTYFont.lfFaceName, "FixedSys");

    // The font exists and the cell was measured from it.
    EXPECT_NE(p->hTTYFont, (HFONT)NULL);
    EXPECT_GT(p->xChar, 0);
    EXPECT_GT(p->yChar, 0);

    // Both overlapped events: manual-reset, not signalled.
    ASSERT_NE(p->osRead.hEvent, (HANDLE)NULL);
    ASSERT_NE(p->osWrite.hEvent, (HANDLE)NULL);
    EXPECT_NE(p->osRead.hEvent, p->osWrite.hEvent);
    EXPECT_EQ(WaitForSingleObject(p->osRead.hEvent, 0), (DWORD)WAIT_TIMEOUT);
    SetEvent(p->osRead.hEvent);
    EXPECT_EQ(WaitForSingleObject(p->osRead.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(p->osRead.hEvent, 0), WAIT_OBJECT_0) << "manual reset";
    EXPECT_EQ(p->osRead.Offset, 0u);
    EXPECT_EQ(p->osWrite.OffsetHigh, 0u);

    EXPECT_TRUE(DestroyTTYInfo(hWnd));
    EXPECT_EQ(GetWindowLongPtrA(hWnd, 0), 0);
}

TEST_F(RecordWindow, CreateLeavesTheDisconnectedMenu)
{
    // From the connected state, so that every item has to change.
    EnableMenuItem(hMenu, IDM_CONNECT, MF_GRAYED | MF_DISABLED);
    ASSERT_EQ(CreateTTYInfo(hWnd), TRUE);
    EXPECT_EQ(MenuState(IDM_CONNECT) & (MF_GRAYED | MF_DISABLED), 0u);
    EXPECT_EQ(MenuState(IDM_DISCONNECT) & (MF_GRAYED | MF_DISABLED), (UINT)(MF_GRAYED | MF_DISABLED));
    EXPECT_EQ(MenuState(IDM_DOWNLOAD) & (MF_GRAYED | MF_DISABLED), (UINT)(MF_GRAYED | MF_DISABLED));
    DestroyTTYInfo(hWnd);
}

TEST_F(RecordWindow, DestroyWithoutARecordReturnsFalse)
{
    EXPECT_EQ(GetWindowLongPtrA(hWnd, 0), 0);
    EXPECT_FALSE(DestroyTTYInfo(hWnd));
}

TEST(ReplyParserOnWindows, RecognisesTheWakeUpReply)
{
    // The same parser source, built into the Windows flavour.
    ResetReceiveState();
    gCondition = 0;
    gIsActivate = 1;
    const char reply[] = "000\r\n";
    AppendReceived(reinterpret_cast<const BYTE*>(reply), 5);
    EXPECT_EQ(gCondition, 1);
    EXPECT_EQ(gIsActivate, 2);
}

} // namespace
