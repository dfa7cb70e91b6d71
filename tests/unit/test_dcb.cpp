// The DCB a record asks for: the rate of the mode, the line fields, and each
// flow-control bit of bFlowCtrl; the fields no setting owns keep the port's.
#include "orvane/serial/serial.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(FillDCB, ModesLineFieldsAndFlowControl)
{
    const struct {
        BYTE bFlow;
        BOOL dsrFlow; unsigned dtr; BOOL ctsFlow; unsigned rts; BOOL xonxoff;
    } rows[] = {
        { 0x00, FALSE, DTR_CONTROL_ENABLE, FALSE, RTS_CONTROL_ENABLE, FALSE },
        { 0x01, TRUE, DTR_CONTROL_HANDSHAKE, FALSE, RTS_CONTROL_ENABLE, FALSE },
        { 0x02, FALSE, DTR_CONTROL_ENABLE, TRUE, RTS_CONTROL_HANDSHAKE, FALSE },
        { 0x04, FALSE, DTR_CONTROL_ENABLE, FALSE, RTS_CONTROL_ENABLE, TRUE },
        { 0x07, TRUE, DTR_CONTROL_HANDSHAKE, TRUE, RTS_CONTROL_HANDSHAKE, TRUE },
    };
    TTYINFO tty{};
    tty.dwBaudRate = 19200;
    tty.dwBaudRateDown = 57600;
    tty.bByteSize = 7;
    tty.bParity = 2;
    tty.bStopBits = 2;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.bFlow);
        tty.bFlowCtrl = r.bFlow;
        for (int nMode : { 1, 0 }) {
            DCB dcb;
            const BYTE bBefore = nMode ? 0xFF : 0x00;   // the port's state before
            std::memset(&dcb, bBefore, sizeof(dcb));
            FillDCB(&tty, nMode, &dcb);
            EXPECT_EQ(dcb.BaudRate, nMode ? 19200u : 57600u);
            EXPECT_EQ(dcb.ByteSize, 7);
            EXPECT_EQ(dcb.Parity, 2);
            EXPECT_EQ(dcb.StopBits, 2);
            EXPECT_EQ(dcb.fOutxDsrFlow, (unsigned)r.dsrFlow);
            EXPECT_EQ(dcb.fDtrControl, r.dtr);
            EXPECT_EQ(dcb.fOutxCtsFlow, (unsigned)r.ctsFlow);
            EXPECT_EQ(dcb.fRtsControl, r.rts);
            EXPECT_EQ(dcb.fOutX, (unsigned)r.xonxoff);
            EXPECT_EQ(dcb.fInX, (unsigned)r.xonxoff);
            EXPECT_EQ(dcb.XonChar, 0x11);
            EXPECT_EQ(dcb.XoffChar, 0x13);
            EXPECT_EQ(dcb.XonLim, 100);
            EXPECT_EQ(dcb.XoffLim, 100);
            EXPECT_EQ(dcb.fBinary, 1u);
            EXPECT_EQ(dcb.fParity, 1u);
            // Left as the port had them.
            EXPECT_EQ(dcb.fDsrSensitivity, bBefore & 1u);
            EXPECT_EQ(dcb.fAbortOnError, bBefore & 1u);
            EXPECT_EQ((BYTE)dcb.EvtChar, bBefore);
        }
    }
}

// The watcher polls only a port whose waits keep ending without an event:
// a stray empty wait between events never makes it give up on them.
TEST(Watcher, PollsOnlyAfterEmptyWaitsInARow)
{
    const struct { const char* waits; bool fPolls; } rows[] = {
        // e: a wait that ended without an event; r: EV_RXCHAR
        { "eeeeeee", false }, { "eeeeeeee", true }, { "eeeeeeereeeeeeer", false }, { "rrrreeeeeeee", true },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.waits);
        int nEmpty = 0;
        BOOL fPolls = FALSE;
        for (const char* w = row.waits; *w && !fPolls; ++w)
            fPolls = NoteEventWait(&nEmpty, *w == 'r');
        EXPECT_EQ(fPolls, row.fPolls);
    }
}

} // namespace
