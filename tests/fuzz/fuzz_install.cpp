// The download state machine under any interleaving of its events: ticks
// (single, or runs long enough for the waiting counter), module replies
// (whole, split, or arriving while the image is written), Cancel, the
// dialog destroyed and opened again, and the answers of the outside world
// (file-name field, chooser, an image that opens or not).  After every event:
//   - phase is 0, 1, 2, 3 or 5 and the step belongs to it (0..11);
//   - "flash" and "p 60\r" go out at most once per run;
//   - the dialog closes only through its ends: a report, the no-file box,
//     Cancel, or a cancelled chooser inside the transfer;
//   - a report is the one the module sent: success only after a "101",
//     failure only after a "302" or the waiting counter running out.
// Input: one byte per event (see Event below).
#include "orvane/installer/install.h"
#include "tests/support/recorder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

const char* const kReplies[] = {
    "MRQ-520W boot 000\r\n", "flash ready 100\r\n", "AVR flash ready 100\r\n", "MRQ-710F boot 100\r\n",
    "prog 200\r\n", "101\r\n", "302\r\n", "error\r\n", "noise\r\n", "10", "1\r\n", "000\r\n",
};
const int kReplyCount = sizeof kReplies / sizeof kReplies[0];

const HWND hMain = recorder::FakeWindow(1);
const HWND hDlg = recorder::FakeWindow(2);
std::string gImage, gMissing;
TTYINFO gTTY;

struct RUN
{
    int nFlash = 0, nProgram = 0;
    std::string fed;             // everything the module sent in this run
    bool fCancelled = false;
    int nTicksAfterImage = -1;   // -1 until the transfer has returned
};
RUN gRun;

void Check(bool fOk, const char* lpszWhat)
{
    if (!fOk) {
        std::fprintf(stderr, "fuzz_install: %s\n", lpszWhat);
        std::abort();
    }
}

void Feed(const char* lpszText)
{
    const std::string text = lpszText;
    gRun.fed += text;
    AppendReceived(reinterpret_cast<const BYTE*>(text.data()), (int)text.size());
}

bool Sent(const char* lpszCode)
{
    return gRun.fed.find(lpszCode) != std::string::npos;
}

void NewRun()
{
    ResetReceiveState();
    gRun = RUN();
    InstallInit(hDlg);
}

// What the event did, from the calls it made.
void Inspect()
{
    bool fEnded = false, fReported = false, fNoFile = false, fChooserGaveUp = false;
    std::string lastWrite;
    for (const recorder::Call& c : recorder::Calls()) {
        if (c.name == "WriteCommBlock") {
            gRun.nFlash += c.bytes == "flash";
            gRun.nProgram += c.bytes == "p 60\r";
            lastWrite = c.bytes;
        } else if (c.name == "Message") {
            if (c.bytes == "Install Success!") {
                Check(Sent("101"), "success reported without a 101 from the module");
                fReported = true;
            } else if (c.bytes == "Install Fail!") {
                Check(Sent("302") || gRun.nTicksAfterImage >= 502, "failure reported without a 302 or a timeout");
                fReported = true;
            } else if (c.bytes.rfind("It may not run correctly!", 0) == 0) {
                fNoFile = true;
            }
        } else if (c.name == "ChooseFile") {
            fChooserGaveUp = true;   // confirmed by an "r" write and End
        } else if (c.name == "End") {
            fEnded = true;
        }
    }
    Check(gRun.nFlash <= 1, "\"flash\" sent twice in one run");
    Check(gRun.nProgram <= 1, "\"p 60\" sent twice in one run");
    if (fEnded)
        Check(fReported || fNoFile || gRun.fCancelled || (fChooserGaveUp && lastWrite == "r\r"),
              "the dialog closed through none of its ends");

    const INSTALLSTATE s = GetInstallState();
    Check(s.nStep >= 0 && s.nStep <= 11, "step out of range");
    Check(recorder::PhaseAndStepBelong(s.nPhase, s.nStep), "phase and step do not belong together");
    recorder::ClearCalls();
    if (fEnded) {
        InstallDestroy(hDlg);
        NewRun();
    }
}

void Tick(int nTicks)
{
    for (int i = 0; i < nTicks; i++) {
        InstallTick(hDlg);
        if (gRun.nTicksAfterImage >= 0)
            ++gRun.nTicksAfterImage;
        else if (GetInstallState().nStep == 8)
            gRun.nTicksAfterImage = 0;   // the transfer has returned
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    gImage = "/tmp/orvane-fuzz-image.bin";
    gMissing = "/tmp/orvane-fuzz-no-such-image.bin";
    std::ofstream(gImage, std::ios::binary) << std::string(3000, 'i');
    recorder::Attach(hMain, &gTTY);
    hTTYWnd = hMain;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    recorder::Reset();
    nModel = 1;
    std::snprintf(gszMyFileName, sizeof(gszMyFileName), "%s", gImage.c_str());
    NewRun();
    recorder::ClearCalls();

    // Event: the low three bits choose, the rest is its argument.
    for (size_t i = 0; i < size; i++) {
        const unsigned arg = data[i] >> 3;
        switch (data[i] & 7) {
        case 0: case 1:
            Tick(1);
            break;
        case 2:
            Tick(arg ? 32 * (int)arg : 600);   // long enough for the waiting counter
            break;
        case 3: case 4:
            Feed(kReplies[arg % kReplyCount]);
            break;
        case 5:
            gRun.fCancelled = true;
            InstallCommand(hDlg, IDC_INSTCANCEL, 0);
            break;
        case 6:   // the outside world: field, chooser, and a reply during the image
            recorder::gFileField = arg % 3 == 0 ? gImage : arg % 3 == 1 ? gMissing : "";
            if (arg & 4)
                recorder::gChooserAnswer = gImage;
            else
                recorder::gChooserAnswer.reset();
            if (arg & 8) {
                const char* lpszReply = kReplies[arg % kReplyCount];
                recorder::gOnWrite = [lpszReply](const recorder::Call& c) {
                    if (c.bytes.size() > 8)
                        Feed(lpszReply);
                };
            } else {
                recorder::gOnWrite = nullptr;
            }
            break;
        case 7:
            InstallDestroy(hDlg);
            recorder::ClearCalls();
            NewRun();
            break;
        }
        Inspect();
    }
    InstallDestroy(hDlg);
    return 0;
}
