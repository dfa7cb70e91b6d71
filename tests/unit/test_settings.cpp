// The Serial Port Setting dialog's tables and decisions: what it shows for a
// record, and what Ok writes back.
#include "orvane/settings/settings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// DCB codes, named here so that a swapped table entry shows.
enum { kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4 };
enum { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

// A record as it is after creation, with option fields that are not the
// zero of the allocation so that clearing them shows.
TTYINFO FreshRecord()
{
    TTYINFO tty;
    std::memset(&tty, 0x5A, sizeof(tty));
    tty.bPort = 1;
    tty.fConnected = FALSE;
    tty.dwBaudRate = 19200;
    tty.dwBaudRateDown = 115200;
    tty.bByteSize = 8;
    tty.bParity = kNoParity;
    tty.bStopBits = kOneStopBit;
    tty.bFlowCtrl = 0x05;
    tty.fAutoWrap = TRUE;
    tty.fNewLine = TRUE;
    tty.fLocalEcho = TRUE;
    tty.fUseCNReceive = TRUE;
    tty.fDisplayErrors = TRUE;
    return tty;
}

// What the dialog holds right after it was filled for a record, taken as Ok
// would read it.
SETTINGSCHOICE ChoiceAsShown(const TTYINFO& tty)
{
    SETTINGSVIEW view;
    GetSettingsView(&tty, &view);
    SETTINGSCHOICE choice = {};
    choice.nPortSel = view.nPortSel;
    choice.nBaudSel = FindTableEntry(BaudTable, BAUD_ENTRIES, tty.dwBaudRate);
    if (choice.nBaudSel >= 0)
        choice.dwBaud = BaudTable[choice.nBaudSel];
    choice.nByteSizeSel = view.nByteSizeSel;
    choice.nParitySel = FindTableEntry(ParityTable, PARITY_ENTRIES, tty.bParity);
    if (choice.nParitySel >= 0)
        choice.dwParity = ParityTable[choice.nParitySel];
    choice.nStopBitsSel = FindTableEntry(StopBitsTable, STOPBITS_SHOWN, tty.bStopBits);
    if (choice.nStopBitsSel >= 0)
        choice.dwStopBits = StopBitsTable[choice.nStopBitsSel];
    choice.fInstBaud57600 = view.idInstBaud == IDC_INSTBAUD57600;
    return choice;
}

TEST(SettingsTables, ListOrderMapsToLineCodes)
{
    EXPECT_EQ(BaudTable[0], 19200u);
    EXPECT_EQ(BaudTable[1], 115200u);

    // None, Even, Odd, Mark, Space.
    const DWORD expected[PARITY_ENTRIES] = { kNoParity, kEvenParity, kOddParity, kMarkParity, kSpaceParity };
    for (int i = 0; i < PARITY_ENTRIES; i++)
        EXPECT_EQ(ParityTable[i], expected[i]) << "parity entry " << i;

    // "1", "1.5", "2"; only "1" is offered.
    EXPECT_EQ(StopBitsTable[0], (DWORD)kOneStopBit);
    EXPECT_EQ(StopBitsTable[1], (DWORD)kOne5StopBits);
    EXPECT_EQ(StopBitsTable[2], (DWORD)kTwoStopBits);
    EXPECT_EQ(STOPBITS_SHOWN, 1);
}

TEST(SettingsTables, FindTableEntrySelectsTheLastMatchAmongTheShownEntries)
{
    EXPECT_EQ(FindTableEntry(ParityTable, PARITY_ENTRIES, kOddParity), 2);
    EXPECT_EQ(FindTableEntry(ParityTable, PARITY_ENTRIES, kEvenParity), 1);
    EXPECT_EQ(FindTableEntry(BaudTable, BAUD_ENTRIES, 9600), -1);

    const DWORD twice[] = { 7, 3, 7, 1 };
    EXPECT_EQ(FindTableEntry(twice, 4, 7), 2);

    // Entries beyond the length are not in the list.
    EXPECT_EQ(FindTableEntry(StopBitsTable, STOPBITS_SHOWN, kTwoStopBits), -1);
    EXPECT_EQ(FindTableEntry(StopBitsTable, 0, kOneStopBit), -1);
}

TEST(SettingsView, FreshRecordShowsCom1EightBitsAnd115200)
{
    TTYINFO tty = FreshRecord();
    SETTINGSVIEW view;
    GetSettingsView(&tty, &view);
    EXPECT_EQ(view.nPortSel, 0);
    EXPECT_TRUE(view.fPortEnabled);
    EXPECT_EQ(view.nByteSizeSel, 3);          // 5, 6, 7, 8
    EXPECT_EQ(view.idInstBaud, IDC_INSTBAUD115200);
    EXPECT_EQ(FindTableEntry(BaudTable, BAUD_ENTRIES, tty.dwBaudRate), 0);
    EXPECT_EQ(FindTableEntry(ParityTable, PARITY_ENTRIES, tty.bParity), 0);
    EXPECT_EQ(FindTableEntry(StopBitsTable, STOPBITS_SHOWN, tty.bStopBits), 0);
}

TEST(SettingsView, FollowsTheRecord)
{
    TTYINFO tty = FreshRecord();
    tty.bPort = 4;
    tty.fConnected = TRUE;
    tty.bByteSize = 5;
    tty.dwBaudRateDown = 57600;
    SETTINGSVIEW view;
    GetSettingsView(&tty, &view);
    EXPECT_EQ(view.nPortSel, 3);              // shows the port in use...
    EXPECT_FALSE(view.fPortEnabled);          // ...but it cannot change
    EXPECT_EQ(view.nByteSizeSel, 0);
    EXPECT_EQ(view.idInstBaud, IDC_INSTBAUD57600);

    // Values the lists do not hold select nothing; any installation rate but
    // 57600 shows as 115200.
    tty.bPort = 0;
    tty.bByteSize = 9;
    tty.dwBaudRateDown = 9600;
    GetSettingsView(&tty, &view);
    EXPECT_EQ(view.nPortSel, -1);
    EXPECT_EQ(view.nByteSizeSel, -1);
    EXPECT_EQ(view.idInstBaud, IDC_INSTBAUD115200);
    tty.bPort = 5;
    GetSettingsView(&tty, &view);
    EXPECT_EQ(view.nPortSel, -1);
}

TEST(SettingsOk, WritesTheChoicesAndNothingElse)
{
    TTYINFO tty = FreshRecord();
    TTYINFO expected;
    std::memcpy(&expected, &tty, sizeof(tty));

    SETTINGSCHOICE choice = ChoiceAsShown(tty);
    choice.nPortSel = 2;
    choice.nBaudSel = 1;
    choice.dwBaud = 115200;
    choice.nByteSizeSel = 2;
    choice.nParitySel = 1;
    choice.dwParity = kEvenParity;
    choice.fInstBaud57600 = TRUE;
    ApplySettingsChoice(&tty, &choice);

    expected.bPort = 3;
    expected.dwBaudRate = 115200;
    expected.bByteSize = 7;
    expected.bParity = kEvenParity;
    expected.dwBaudRateDown = 57600;
    // Flow control, auto-wrap, new-line, echo, receive and error-notice
    // options are kept: the dialog has no controls for them.
    EXPECT_EQ(std::memcmp(&tty, &expected, sizeof(tty)), 0);
    EXPECT_EQ(tty.bFlowCtrl, 0x05);
    EXPECT_TRUE(tty.fAutoWrap);
    EXPECT_TRUE(tty.fDisplayErrors);

    // Back to 115200 for installation.
    choice.fInstBaud57600 = FALSE;
    ApplySettingsChoice(&tty, &choice);
    EXPECT_EQ(tty.dwBaudRateDown, 115200u);
}

TEST(SettingsOk, UnchangedDialogLeavesTheRecordAsItWas)
{
    TTYINFO records[3] = { FreshRecord(), FreshRecord(), FreshRecord() };
    records[1].bPort = 2;
    records[1].dwBaudRate = 115200;
    records[1].dwBaudRateDown = 57600;
    records[1].fConnected = TRUE;
    records[2].bPort = 4;
    records[2].bByteSize = 6;
    records[2].bParity = kSpaceParity;
    records[2].bFlowCtrl = 0;
    records[2].fAutoWrap = FALSE;

    for (TTYINFO& tty : records) {
        TTYINFO before;
        std::memcpy(&before, &tty, sizeof(tty));
        SETTINGSCHOICE choice = ChoiceAsShown(tty);
        ApplySettingsChoice(&tty, &choice);
        EXPECT_EQ(std::memcmp(&tty, &before, sizeof(tty)), 0) << "port " << (int)tty.bPort;
    }
}

TEST(SettingsOk, ListsWithoutSelectionKeepTheRecordValues)
{
    // The lists report an error code then; it must not become a port,
    // a baud rate or a line code.
    TTYINFO tty = FreshRecord();
    tty.bPort = 2;
    tty.bByteSize = 7;
    tty.bParity = kOddParity;
    SETTINGSCHOICE choice = {};
    choice.nPortSel = choice.nBaudSel = choice.nByteSizeSel = -1;
    choice.nParitySel = choice.nStopBitsSel = -1;
    choice.dwBaud = choice.dwParity = choice.dwStopBits = 0xFFFFFFFFu;
    choice.fInstBaud57600 = FALSE;
    ApplySettingsChoice(&tty, &choice);
    EXPECT_EQ(tty.bPort, 2);
    EXPECT_EQ(tty.dwBaudRate, 19200u);
    EXPECT_EQ(tty.bByteSize, 7);
    EXPECT_EQ(tty.bParity, kOddParity);
    EXPECT_EQ(tty.bStopBits, kOneStopBit);
    EXPECT_EQ(tty.dwBaudRateDown, 115200u);
}

} // namespace
