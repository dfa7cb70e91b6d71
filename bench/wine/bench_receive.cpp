// How fast the port link takes in an unthrottled flood, with nothing lost:
// the simulator on COM1 (control port in ORVANE_SIM_PORT, reading unpaced)
// floods N bytes; every byte the watcher hands on is checked against the
// flood's sequence.  Prints "BENCH receive_<gate> <bytes per second>" for the
// terminal gate closed (before a download) and open (text on the screen).
#include "orvane/installer/checkdata.h"
#include "orvane/serial/serial.h"
#include "orvane/terminal/screen.h"
#include "tests/support/simclient.h"
#include "tests/support/ttywindow.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::atomic<long long> gReceived{0};
std::atomic<bool> gBad{false};
uint32_t gX = 1;

// Runs on the watcher thread: the flood's xorshift32 sequence, byte by byte.
void Check(const BYTE* lpBlock, int nLength)
{
    for (int i = 0; i < nLength; i++) {
        gX ^= gX << 13;
        gX ^= gX >> 17;
        gX ^= gX << 5;
        if (lpBlock[i] != (BYTE)gX)
            gBad = true;
    }
    gReceived += nLength;
}

} // namespace

int main(int argc, char** argv)
{
    const long long n = argc > 1 ? std::atoll(argv[1]) : 8 << 20;
    const char* port = std::getenv("ORVANE_SIM_PORT");
    if (!port || !SimConnect(std::atoi(port))) {
        std::fprintf(stderr, "bench_receive: no simulator (ORVANE_SIM_PORT)\n");
        return 2;
    }
    HWND hWnd = CreateTestTTYWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 420);
    if (CreateTTYInfo(hWnd) != TRUE || !OpenConnection(hWnd, 1)) {
        std::fprintf(stderr, "bench_receive: cannot open COM1\n");
        return 2;
    }
    hTTYWnd = hWnd;
    gpfnReceivedBlock = Check;

    int status = 0;
    for (int gate : { 0, 1 }) {
        gCondition = gate;
        gReceived = 0;
        gX = 7 + gate;
        LARGE_INTEGER f, a, b;
        QueryPerformanceFrequency(&f);
        QueryPerformanceCounter(&a);
        SimRequest("flood " + std::to_string(n) + " " + std::to_string(gX));
        while (gReceived < n) {
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            Sleep(1);
        }
        QueryPerformanceCounter(&b);
        const double s = double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
        std::printf("BENCH receive_%s %.0f%s\n", gate ? "screen" : "terminal", n / s, gBad ? " LOST-OR-CHANGED" : "");
        std::fflush(stdout);
        status |= gBad ? 1 : 0;
    }
    CloseConnection(hWnd);
    return status;
}
