// The port link on a real window under Wine, against the module simulator on
// COM1 (its control port in ORVANE_SIM_PORT): the line settings as the module
// sees them, bursts received whole and in order, the terminal gate, writes,
// and a Disconnect that never hangs.
#include "orvane/installer/checkdata.h"
#include "orvane/installer/install.h"
#include "orvane/installer/installdlg.h"
#include "orvane/serial/serial.h"
#include "orvane/terminal/screen.h"
#include "orvane/terminal/ttywrite.h"
#include "tests/support/json.h"
#include "tests/support/simclient.h"
#include "tests/support/ttywindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Every block the watcher hands on, in order.
std::mutex gTapLock;
std::string gTapped;

void Tap(const BYTE* lpBlock, int nLength)
{
    std::lock_guard<std::mutex> hold(gTapLock);
    gTapped.append(reinterpret_cast<const char*>(lpBlock), nLength);
}

size_t TappedSize()
{
    std::lock_guard<std::mutex> hold(gTapLock);
    return gTapped.size();
}

// The simulator's flood: xorshift32 from the seed.
std::string FloodBytes(size_t n, uint32_t x)
{
    std::string s(n, '\0');
    for (char& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = (char)(x & 0xFF);
    }
    return s;
}

class SerialLink : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        const char* port = std::getenv("ORVANE_SIM_PORT");
        ASSERT_TRUE(port && SimConnect(std::atoi(port))) << "no module simulator (ORVANE_SIM_PORT)";
    }

    void SetUp() override
    {
        hWnd = CreateTestTTYWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 420);
        ASSERT_EQ(CreateTTYInfo(hWnd), TRUE);
        hTTYWnd = hWnd;
        gCondition = 0;
        gpfnReceivedBlock = Tap;
        {
            std::lock_guard<std::mutex> hold(gTapLock);
            gTapped.clear();
        }
        ASSERT_EQ(SimRequest("reset"), "ok");
    }

    void TearDown() override
    {
        if (IsConnected(Record()))
            CloseConnection(hWnd);
        gpfnReceivedBlock = AppendReceived;
        hTTYWnd = NULL;
        DestroyTTYInfo(hWnd);
        DestroyWindow(hWnd);
    }

    NPTTYINFO Record() const { return GetTTYInfo(hWnd); }

    bool Greyed(UINT id) const
    {
        return (GetMenuState(GetMenu(hWnd), id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) != 0;
    }

    // Handles this thread's messages until done() holds or the time is up.
    template <class Done>
    static bool PumpUntil(Done done, DWORD dwLimit = 20000)
    {
        const DWORD dwStart = GetTickCount();
        while (!done()) {
            if (GetTickCount() - dwStart > dwLimit)
                return false;
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            Sleep(2);
        }
        return true;
    }

    // The last command of a kind the module received, after it has arrived.
    static Json LastCommand(const char* kind)
    {
        Json found;
        PumpUntil([&] {
            const Json r = Json::Parse(SimRequest("report"));
            for (size_t i = 0; i < r["commands"].size(); ++i)
                if (r["commands"][i]["kind"].str() == kind)
                    found = r["commands"][i];
            return !found.isNull();
        });
        return found;
    }

    std::string ScreenRow(int nRow) const
    {
        return std::string(reinterpret_cast<const char*>(Record()->abScreen) + nRow * SCREEN_COLUMNS,
                           SCREEN_COLUMNS);
    }

    HWND hWnd = NULL;
};

// Rate, parity and stop bits as the module sees them.  A pseudo-terminal
// always carries 8 data bits whatever was asked (its driver resets them), so
// the data bits are checked in the DCB itself, natively.
std::string LineOf(const Json& line)
{
    return std::to_string((long)line["baud"].num()) + " " + line["parity"].str().substr(0, 1) +
           std::to_string((int)line["stop_bits"].num());
}

// The module sees the rate of the mode; the menu follows the port; a closed
// port takes no write.
TEST_F(SerialLink, OpenSwitchRatesAndClose)
{
    const struct { DWORD normal, down; const char* atNormal; const char* atDown; } rows[] = {
        { 19200, 115200, "19200 n1", "115200 n1" },
        { 115200, 57600, "115200 n1", "57600 n1" },
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.atNormal);
        NPTTYINFO p = Record();
        p->dwBaudRate = r.normal;
        p->dwBaudRateDown = r.down;

        ASSERT_TRUE(OpenConnection(hWnd, 1));
        EXPECT_TRUE(IsConnected(p));
        EXPECT_TRUE(Greyed(IDM_CONNECT));
        EXPECT_FALSE(Greyed(IDM_DISCONNECT));
        EXPECT_FALSE(Greyed(IDM_DOWNLOAD));
        EXPECT_EQ(LineOf(Json::Parse(SimRequest("report"))["line"]), r.atNormal);
        EXPECT_TRUE(SetupConnection(hWnd, 0));
        EXPECT_EQ(LineOf(Json::Parse(SimRequest("report"))["line"]), r.atDown);
        EXPECT_TRUE(SetupConnection(hWnd, 1));
        EXPECT_EQ(LineOf(Json::Parse(SimRequest("report"))["line"]), r.atNormal);

        EXPECT_TRUE(CloseConnection(hWnd));
        EXPECT_FALSE(IsConnected(p));
        EXPECT_EQ(WatcherId(p).load(), 0u);
        EXPECT_EQ(p->hWatchThread, (HANDLE)NULL);
        EXPECT_FALSE(Greyed(IDM_CONNECT));
        EXPECT_TRUE(Greyed(IDM_DISCONNECT));
        EXPECT_TRUE(Greyed(IDM_DOWNLOAD));
        BYTE x = 'x';
        EXPECT_FALSE(WriteCommBlock(hWnd, &x, 1));
        EXPECT_FALSE(SetupConnection(hWnd, 1));
    }
}

// Parity and stop bits reach the module.  A pseudo-terminal under Wine then
// refuses every further change of the line (the kernel answers EINVAL once
// parity has been set), so a failing SetupConnection is seen here too: it
// returns FALSE and the port stays open and usable.  (Wine applies the rate
// before it fails on the parity, so the rate may have changed.)
TEST_F(SerialLink, ParityStopBitsAndARefusedChange)
{
    const struct { BYTE parity, stop; const char* seen; } rows[] = {
        { EVENPARITY, TWOSTOPBITS, "19200 e2" }, { ODDPARITY, ONESTOPBIT, "19200 o1" },
        { MARKPARITY, ONESTOPBIT, "19200 m1" }, { SPACEPARITY, TWOSTOPBITS, "19200 s2" },
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.seen);
        NPTTYINFO p = Record();
        p->bParity = r.parity;
        p->bStopBits = r.stop;
        ASSERT_TRUE(OpenConnection(hWnd, 1));
        EXPECT_EQ(LineOf(Json::Parse(SimRequest("report"))["line"]), r.seen);

        EXPECT_FALSE(SetupConnection(hWnd, 0));
        EXPECT_TRUE(IsConnected(p));
        BYTE b = 'q';
        EXPECT_TRUE(WriteCommBlock(hWnd, &b, 1));
        EXPECT_EQ(LastCommand("data")["text"].str(), "q");
        ASSERT_EQ(SimRequest("clear"), "ok");
        EXPECT_TRUE(CloseConnection(hWnd));
    }
    // The next test starts from a line without parity again.
    Record()->bParity = NOPARITY;
    Record()->bStopBits = ONESTOPBIT;
}

// Bursts larger than one read and larger than the driver's queue reach the
// parser's append whole and in order, with the screen gate open too.
TEST_F(SerialLink, BurstsArriveWhole)
{
    ASSERT_TRUE(OpenConnection(hWnd, 1));
    const struct { size_t n; uint32_t seed; int phase; } bursts[] = { { 5000, 7, 0 }, { 100000, 11, 1 } };
    for (const auto& b : bursts) {
        SCOPED_TRACE(b.n);
        {
            std::lock_guard<std::mutex> hold(gTapLock);
            gTapped.clear();
        }
        gCondition = b.phase;
        ASSERT_EQ(SimRequest("flood " + std::to_string(b.n) + " " + std::to_string(b.seed)), "ok");
        EXPECT_TRUE(PumpUntil([&] { return TappedSize() >= b.n; })) << TappedSize() << " bytes arrived";
        std::lock_guard<std::mutex> hold(gTapLock);
        EXPECT_EQ(gTapped.size(), b.n);
        EXPECT_TRUE(gTapped == FloodBytes(b.n, b.seed)) << "the bytes differ from what was sent";
    }
}

// Received text is shown only once the installer's phase is non-zero; it is
// handed on either way.
TEST_F(SerialLink, ScreenShowsTextOnceThePhaseIsNonZero)
{
    ASSERT_TRUE(OpenConnection(hWnd, 1));
    ASSERT_EQ(SimRequest("send hello\\r\\n"), "ok");
    ASSERT_TRUE(PumpUntil([] { return TappedSize() == 7; }));
    EXPECT_EQ(ScreenRow(0).find("hello"), std::string::npos);

    gCondition = 1;
    ASSERT_EQ(SimRequest("send world"), "ok");
    ASSERT_TRUE(PumpUntil([] { return TappedSize() == 12; }));
    EXPECT_EQ(ScreenRow(0).substr(0, 5), "world");
}

// The watcher held in the hand-over of its first block: what comes meanwhile
// waits in the driver.
HANDLE hRelease = NULL;
std::atomic<bool> fHeld{false};
void HoldFirst(const BYTE* lpBlock, int nLength)
{
    if (!fHeld.exchange(true))
        WaitForSingleObject(hRelease, INFINITE);
    AppendReceived(lpBlock, nLength);
}

// What the driver holds from before a Download (the module's answer to the
// last run's reset, a late verdict) belongs to the run before: the new run
// wakes the module at the installation rate and tells its model by its own
// answers.
TEST_F(SerialLink, DownloadDropsWhatCameBefore)
{
    static const HANDLE hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    hRelease = hEvent;
    ResetEvent(hRelease);
    fHeld = false;
    struct Release { ~Release() { SetEvent(hRelease); } } release;   // before TearDown waits for the watcher
    gpfnReceivedBlock = HoldFirst;
    CreateWindowExA(0, "EDIT", "", WS_CHILD, 0, 0, 200, 20, hWnd, (HMENU)(INT_PTR)IDC_FILENAME, NULL, NULL);
    ASSERT_TRUE(OpenConnection(hWnd, 1));
    gCondition = 5;   // the last run has ended
    gIsActivate = 10;
    ASSERT_EQ(SimRequest("send bye\\r\\n"), "ok");
    ASSERT_TRUE(PumpUntil([] { return fHeld.load(); }));
    ASSERT_EQ(SimRequest("send r\\r\\n100\\r\\n302\\r\\n"), "ok");
    ASSERT_TRUE(PumpUntil([this] {
        DWORD dwErrors;
        COMSTAT stat{};
        return ClearCommError(Record()->idComDev, &dwErrors, &stat) && stat.cbInQue == 13;
    }));

    // The Download command, then the Install dialog's ticks (on this window,
    // with its file-name field) until the model is known.
    ASSERT_TRUE(SetupConnection(hWnd, 0));
    ResetReceiveState();
    std::snprintf(gszMyFileName, sizeof(gszMyFileName), "image.bin");
    InstallDlgProc(hWnd, WM_INITDIALOG, 0, 0);
    SetEvent(hRelease);
    EXPECT_TRUE(PumpUntil([this] {
        if (GetInstallState().nPhase >= 2)
            return true;
        InstallDlgProc(hWnd, WM_TIMER, 1, 0);
        return false;
    }));
    const INSTALLSTATE state = GetInstallState();
    InstallDlgProc(hWnd, WM_DESTROY, 0, 0);
    gszMyFileName[0] = '\0';
    EXPECT_NE(state.nPhase, 5) << "a verdict from before ended the run";
    EXPECT_EQ(state.nModel, 1) << "not the MRQ-520W's own answers";
    const Json report = Json::Parse(SimRequest("report"));
    for (size_t i = 0; i < report["commands"].size(); ++i) {
        if (report["commands"][i]["kind"].str() == "cr") {
            EXPECT_EQ(LineOf(report["commands"][i]["line"]), "115200 n1") << "a wake-up CR at another rate";
        }
    }
}

// A wait that ends while its write still goes on, with the count so far;
// the next one finds the write done.  (The first wait runs the write to its
// end, so that the two report the same count.)
int nWaits = 0;
BOOL WINAPI StillGoingOnce(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpCount, BOOL bWait)
{
    const BOOL fDone = GetOverlappedResult(hFile, lpOverlapped, lpCount, bWait);
    if (++nWaits > 1 || !fDone)
        return fDone;
    SetLastError(ERROR_IO_INCOMPLETE);
    return FALSE;
}

// A typed character and a block go out as they are, at the line's rate; a
// block larger than the driver takes at once is counted once, however many
// waits it took.
TEST_F(SerialLink, WritesReachTheModule)
{
    ASSERT_TRUE(OpenConnection(hWnd, 1));
    EXPECT_TRUE(ProcessTTYCharacter(hWnd, 'k'));
    Json typed = LastCommand("data");
    EXPECT_EQ(typed["text"].str(), "k");
    EXPECT_EQ(LineOf(typed["line"]), "19200 n1");

    ASSERT_EQ(SimRequest("clear"), "ok");
    std::vector<BYTE> block(512, 'X');
    EXPECT_TRUE(WriteCommBlock(hWnd, block.data(), (DWORD)block.size()));
    Json sent = LastCommand("data");
    EXPECT_EQ(sent["count"].num(), 512);
    EXPECT_EQ(sent["text"].str().substr(0, 8), "XXXXXXXX");

    // More than the pty holds, to a module that takes the line at wire
    // speed: the write must wait, however fast this machine is.
    ASSERT_TRUE(SetupConnection(hWnd, 0));
    ASSERT_EQ(SimRequest("set pace=1"), "ok");
    std::vector<BYTE> large(20000, 'Y');
    nWaits = 0;
    gpfnWaitForWrite = StillGoingOnce;
    DWORD dwTaken = 0;
    EXPECT_TRUE(WriteCommBytes(hWnd, large.data(), (DWORD)large.size(), &dwTaken));
    gpfnWaitForWrite = GetOverlappedResult;
    ASSERT_EQ(SimRequest("set pace=0"), "ok");
    EXPECT_EQ(nWaits, 2) << "the write did not wait (it must outgrow what the driver takes at once)";
    EXPECT_EQ(dwTaken, large.size());
}

std::atomic<long> lRound{0};

DWORD WINAPI Watchdog(LPVOID)
{
    long lSeen = -1;
    for (;;) {
        Sleep(30000);
        if (lRound == lSeen) {
            std::fprintf(stderr, "Disconnect during a flood hung in round %ld\n", lRound.load());
            std::fflush(stderr);
            ExitProcess(3);
        }
        lSeen = lRound;
    }
}

// Disconnect never hangs: when nothing comes, and while the module floods the
// line and the watcher waits for this thread to repaint.
TEST_F(SerialLink, DisconnectNeverHangs)
{
    // A hang fails here rather than at the test's time limit.
    HANDLE hWatchdog = CreateThread(NULL, 0, Watchdog, NULL, 0, NULL);

    ASSERT_TRUE(OpenConnection(hWnd, 1));   // nothing comes: the watcher waits
    EXPECT_TRUE(CloseConnection(hWnd));

    gCondition = 1;   // the watcher writes the screen and repaints
    for (lRound = 1; lRound <= 50; ++lRound) {
        {
            std::lock_guard<std::mutex> hold(gTapLock);
            gTapped.clear();
        }
        ASSERT_TRUE(OpenConnection(hWnd, 1)) << "round " << lRound.load();
        ASSERT_EQ(SimRequest("flood 200000 " + std::to_string(lRound.load())), "ok");
        // Disconnect while the watcher is taking the flood in, not before it came.
        ASSERT_TRUE(PumpUntil([] { return TappedSize() > 0; })) << "no flood byte arrived in round " << lRound.load();
        ASSERT_TRUE(CloseConnection(hWnd));
        EXPECT_EQ(WatcherId(Record()).load(), 0u);
    }
    TerminateThread(hWatchdog, 0);
    CloseHandle(hWatchdog);
    SimRequest("reset");
}

} // namespace
