// The watcher thread appends and parses the module's replies while the
// window thread runs the Install dialog: ticks (each parses first), Cancel,
// and a new run after each end.  Built with -fsanitize=thread: any
// unprotected access is a report and a non-zero exit.  Besides, after every
// tick the window thread checks that phase and step belong together, and
// that the dialog never closed on a verdict without reporting it.
#include "orvane/installer/install.h"
#include "tests/support/recorder.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

int Fail(const char* what, const INSTALLSTATE& s)
{
    std::fprintf(stderr, "tsan_checkdata: %s (phase %d step %d model %d)\n", what, s.nPhase, s.nStep, s.nModel);
    return 1;
}

} // namespace

int main()
{
    const char* image = "tsan-image.bin";
    std::ofstream(image, std::ios::binary) << std::string(3000, 'i');
    const HWND hMain = recorder::FakeWindow(1), hDlg = recorder::FakeWindow(2);
    TTYINFO tty{};
    recorder::Attach(hMain, &tty);
    hTTYWnd = hMain;
    std::snprintf(gszMyFileName, sizeof(gszMyFileName), "%s", image);

    ResetReceiveState();
    recorder::gFileField = image;
    InstallInit(hDlg);

    constexpr int kRounds = 60000;
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        static const char* const kReplies[] = {
            "noise\r\n", "000\r\n", "100 AVR\r\n", "200\r\n", "error r\r\n", "101\r\n", "1", "0", "2\r\n", "302\r\n",
        };
        for (int i = 0; i < kRounds; ++i) {
            const char* reply = kReplies[i % (sizeof kReplies / sizeof kReplies[0])];
            AppendReceived(reinterpret_cast<const BYTE*>(reply), (int)std::strlen(reply));
        }
        done = true;
    });

    long ticks = 0, runs = 0;
    bool fCancelled = false;
    while (!done) {
        recorder::ClearCalls();
        InstallTick(hDlg);
        if (++ticks % 97 == 0) {
            InstallCommand(hDlg, IDC_INSTCANCEL, 0);
            fCancelled = true;
        }
        const INSTALLSTATE s = GetInstallState();
        if (!recorder::PhaseAndStepBelong(s.nPhase, s.nStep))
            return Fail("phase and step do not belong together", s);

        // Without Cancel a run ends only on a verdict, and reports it.
        const bool fEnded = !recorder::CallsNamed("End").empty();
        if (fEnded && !fCancelled && recorder::CallsNamed("Message").empty())
            return Fail("closed without reporting the verdict", s);

        if (fEnded) {   // the next run
            ResetReceiveState();
            InstallInit(hDlg);
            fCancelled = false;
            ++runs;
        }
    }
    watcher.join();
    std::remove(image);

    {
        std::lock_guard<PARSERLOCK> hold(gParserLock);
        if (received_length > RECEIVE_CAPACITY || nCnt > LINE_CAPACITY || check_idx > received_length) {
            std::fprintf(stderr, "bounds broken: %d %d %d\n", received_length, check_idx, nCnt);
            return 1;
        }
    }
    std::printf("tsan_checkdata: %d appends, %ld ticks, %ld runs: ok\n", kRounds, ticks, runs);
    return runs > 0 ? 0 : 1;
}
