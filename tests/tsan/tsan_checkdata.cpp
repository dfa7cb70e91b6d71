// The watcher thread appends and parses while the window thread runs its own
// parser calls (timer ticks, transfer loop) and reads phase, step and model.
// Built with -fsanitize=thread: any unprotected access is a report and a
// non-zero exit.
#include "orvane/installer/checkdata.h"
#include "orvane/orvane.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

static std::atomic<int> gRestores{0};

BOOL SetupConnection(HWND, int nMode)
{
    if (nMode == 1)
        ++gRestores;
    return TRUE;
}

int main()
{
    ResetReceiveState();
    gCondition = 0;
    gIsActivate = 1;

    constexpr int kRounds = 20000;
    std::atomic<bool> done{false};

    std::thread watcher([&] {
        static const char* const kReplies[] = {
            "noise\r\n", "000\r\n", "100 AVR\r\n", "200\r\n", "error r\r\n", "101\r\n", "1", "0", "2\r\n",
        };
        for (int i = 0; i < kRounds; ++i) {
            const char* reply = kReplies[i % (sizeof kReplies / sizeof kReplies[0])];
            AppendReceived(reinterpret_cast<const BYTE*>(reply), (int)std::strlen(reply));
        }
        done = true;
    });

    long observed = 0;
    while (!done) {
        CheckData();
        const int phase = gCondition, step = gIsActivate, model = nModel;
        if (phase < 0 || phase > 5 || step < 0 || step > 11 || model < 1 || model > 3) {
            std::fprintf(stderr, "torn state: phase %d step %d model %d\n", phase, step, model);
            return 1;
        }
        if (phase == 5)
            gCondition = 0;   // the next Install dialog
        ++observed;
    }
    watcher.join();

    {
        std::lock_guard<std::mutex> hold(gParserLock);
        if (received_length > RECEIVE_CAPACITY || nCnt > LINE_CAPACITY || check_idx > received_length) {
            std::fprintf(stderr, "bounds broken: %d %d %d\n", received_length, check_idx, nCnt);
            return 1;
        }
    }
    std::printf("tsan_checkdata: %d appends, %ld window-thread parses, %d restores: ok\n",
                kRounds, observed, gRestores.load());
    return gRestores > 0 ? 0 : 1;
}
