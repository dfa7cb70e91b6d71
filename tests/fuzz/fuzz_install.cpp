// The download state machine under any interleaving of its events: ticks,
// module replies (whole, split, during the image), Cancel, the dialog closed
// and opened again, the file-name field and the chooser, and a port that
// takes the image in short writes, stalls or fails.  replytable.h follows
// the lines the parser has matched, each in the phase it met; the state the
// program shows must be the table's, or where the tick's own steps lead from
// it.  And:
//   - the image only after a "200" matched in phase 2 after "p 60\r" went out,
//     and only after "p 60\r" went out;
//   - "flash" only after a "000\r\n" matched in phase 0, so never to a 710F;
//   - "Install Success!" only for a "101" matched after the port had taken
//     the image's last byte; "Install Fail!" only after a "302", a "101"
//     before that, the waiting limit or a port that stopped;
//   - with no verdict the run fails on exactly the 502nd tick after the image;
//   - Cancel writes "r\r" exactly when the model is the 520W, waits until
//     it has left the port, then asks for the normal rate;
//   - the port takes the image's bytes in order, none skipped or repeated,
//     all of them unless it stopped (a failed write, nothing taken for
//     IMAGE_STALL_MS, or bytes still to go when the image's time is up:
//     IMAGE_TIME_FACTOR times its wire time and IMAGE_TIME_EXTRA_MS); then
//     nothing more is written to it, output is dropped, the 520W reset (and
//     waited for), the normal rate asked for, and the next tick reports
//     "Install Fail!";
//   - the dialog closes only through its ends.
// At the end, a clean run into a 520W still succeeds.
//
// Input: one byte per event, the low three bits choosing, the rest (arg)
// its argument:
//   0  a tick                   2  8 * arg ticks (503 for 0)
//   1  a tick, in whose first wait (the pause before "p 60", the file
//      chooser, a pause between image writes) the module sends
//      kReplies[arg % count]
//   3, 4  a reply, kReplies[arg % count]    5  Cancel
//   6  the outside world: the file-name field (arg % 3: the image, a missing
//      file, empty); the chooser answers the image (arg & 4) or is cancelled;
//      the module answers each image write with a reply (arg & 8); with
//      arg & 16 the next 1 + arg % 4 bytes are how the port takes each write
//      of the image, in turn: 255 fails, b % 4 == 0 takes nothing, 1 all,
//      2 and 3 at most b / 4 + 1 bytes
//   7  the dialog destroyed, and a new download
// Run longer by hand:  scripts/harden
#include "orvane/installer/install.h"
#include "tests/fuzz/replytable.h"
#include "tests/support/recorder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using replytable::STATE;

namespace {

const char* const kReplies[] = {
    "MRQ-520W boot 000\r\n", "flash ready 100\r\n", "AVR flash ready 100\r\n", "MRQ-710F boot 100\r\n",
    "prog 200\r\n", "101\r\n", "302\r\n", "error\r\n", "noise\r\n", "10", "1\r\n", "000\r\n",
};
const int kReplyCount = sizeof kReplies / sizeof kReplies[0];

const DWORD kInstallRate = 115200;
const HWND hMain = recorder::FakeWindow(1);
const HWND hDlg = recorder::FakeWindow(2);
// The image's file is this process's own: another fuzz_install at work on the
// same machine rewrites its file when it starts.
const std::string kImageName = "/tmp/orvane-fuzz-image-" + std::to_string(getpid()) + ".bin";
const std::string kMissingName = "/tmp/orvane-fuzz-no-such-image.bin";
std::string gImage;
TTYINFO gTTY;

std::vector<uint8_t> gPort;               // how the port takes each image write, in turn
size_t gnPortNext = 0;
const char* gpszDuringImage = nullptr;    // the module's answer to each image write
const char* gpszDuringWait = nullptr;     // its answer while the tick waits
int gnSuccesses = 0;

struct RUN
{
    std::string fed;           // what the module sent in this run
    size_t nMatched = 0;       // the bytes of it the parser has matched
    STATE seen{0, 1, 1};       // the state at the last look
    bool fWoken = false, f710F = false, fProgram = false, fImageAllowed = false;
    bool fImage = false, fTransferChecked = false, fPortStopped = false, fFailNext = false;
    bool fVerdict = false, fEarly = false, fSuccessDue = false, f302 = false, fCancelled = false;
    int nFlash = 0, nProgram = 0;
    int nTicksAfterImage = -1;  // -1 until the transfer has returned
    DWORD dwImageStart = 0, dwLastTaken = 0;
    std::string taken;          // the bytes of the image the port took
};
RUN gRun;

void Check(bool fOk, const char* lpszWhat)
{
    if (!fOk) {
        std::fprintf(stderr, "fuzz_install: %s\n", lpszWhat);
        std::abort();
    }
}

// Whether the tick alone (its own steps, the transfer, the waiting limit)
// leads from a to b.
bool TickLeads(STATE a, STATE b)
{
    const auto is = [](STATE s, int nPhase, int nStep) { return s.nPhase == nPhase && s.nStep == nStep; };
    if (a == b)
        return true;
    if (a.nModel != b.nModel)
        return false;
    if (is(a, 1, 2))
        return is(b, 1, 3);
    if (is(a, 2, 4))
        return is(b, 2, 5);
    if (is(a, 3, 6))
        return is(b, 3, 7) || is(b, 3, 8) || is(b, 5, 11);
    if (is(a, 3, 7))
        return is(b, 3, 8) || is(b, 5, 11);
    if (is(a, 3, 8))
        return is(b, 5, 11);
    return (is(a, 5, 9) || is(a, 5, 11)) && is(b, 5, 10);
}

// The lines the parser has matched since the last look go through the table
// from state s, for a copy of the run; the state they lead to.  With
// nBegin >= 0 the tick takes its step 6 -> 7 (the image begins) once that
// many lines have gone through, if the state is then 3/6.
STATE Replay(RUN& run, STATE s, size_t nMatched, int nBegin = -1)
{
    for (int nLine = 0;; ++nLine) {
        if (nLine == nBegin && s.nPhase == 3 && s.nStep == 6)
            s.nStep = 7;
        if (run.nMatched >= nMatched)
            return s;
        const size_t nEnd = run.fed.find('\n', run.nMatched);
        Check(nEnd < nMatched, "the parser matched part of a line");
        replytable::ROW row;
        s = replytable::Apply(s, run.fed.substr(run.nMatched, nEnd + 1 - run.nMatched), &row, run.fProgram,
                              run.taken == gImage);
        run.nMatched = nEnd + 1;
        run.fWoken |= row == replytable::WAKE;
        run.f710F |= row == replytable::READY_710F;
        if (row == replytable::PROGRAM)
            run.fImageAllowed = run.fProgram;
        run.fSuccessDue |= row == replytable::SUCCESS;
        run.fEarly |= row == replytable::EARLY;
        run.f302 |= row == replytable::FAILURE;
        run.fVerdict |= row == replytable::SUCCESS || row == replytable::EARLY || row == replytable::FAILURE;
    }
}

// The state now must follow from the state seen at the last look through the
// lines matched since.  Inside a tick (at the image's first write, or while
// it waits) the tick may have taken its step 6 -> 7 somewhere among them:
// its own parser turn comes before that step, the one before each chunk
// after it.
void Look(bool fInTick = false)
{
    const size_t nMatched = gRun.fed.size() - (size_t)(received_length - check_idx) - (size_t)nCnt;
    const INSTALLSTATE now = GetInstallState();
    const STATE n{now.nPhase, now.nStep, now.nModel};
    STATE s = gRun.seen;
    if (gRun.nMatched < nMatched) {   // new lines: tried on copies of the run
        RUN run = gRun;
        s = Replay(run, gRun.seen, nMatched);
        // A step 6 -> 7 among them is taken when the state shown needs it, or
        // when it then is exactly that state (a 101 after it ends the run
        // as 5/11, as a stalled transfer would without it).
        for (int nBegin = 0; fInTick && !(s == n) && nBegin <= 2; ++nBegin) {
            RUN tried = gRun;
            const STATE t = Replay(tried, gRun.seen, nMatched, nBegin);
            if (t == n || !TickLeads(s, n)) {
                run = std::move(tried);
                s = t;
            }
        }
        gRun = std::move(run);
    }
    if (!TickLeads(s, n)) {
        std::fprintf(stderr, "fuzz_install: the table gives %sthe program shows %s\n", s.Text().c_str(),
                     n.Text().c_str());
        Check(false, "phase, step or model not the table's");
    }
    gRun.seen = n;
}

// With fInTick the tick may have begun the image among the lines matched.
void Feed(const char* lpszText, bool fInTick = false)
{
    // Within the buffers, so that every byte sent is matched or waits (a
    // flood is fuzz_checkdata's).
    const size_t n = std::strlen(lpszText);
    if ((size_t)(received_length - check_idx + nCnt) + n > LINE_CAPACITY)
        return;
    gRun.fed += lpszText;
    AppendReceived(reinterpret_cast<const BYTE*>(lpszText), (int)n);
    Look(fInTick);
}

void Waited(const recorder::Call&)
{
    if (const char* lpszText = gpszDuringWait) {
        gpszDuringWait = nullptr;
        Feed(lpszText, true);
    }
}

// Every write, as it is made.
void Wrote(const recorder::Call& c)
{
    Look(c.name == "WriteCommBytes");
    if (c.name == "WriteCommBytes") {
        Check(gRun.fProgram, "the image went before \"p 60\"");
        Check(gRun.fImage || gRun.fImageAllowed, "the image went before a 200 matched in phase 2 after \"p 60\"");
        gRun.fImage = true;
        Check(gImage.compare(gRun.taken.size(), c.bytes.size(), c.bytes) == 0,
              "the port took other bytes than the image's next, in order");
        // An answer while the write goes on: the port's bytes count as taken
        // once the write has returned.
        if (gpszDuringImage)
            Feed(gpszDuringImage);
        gRun.taken += c.bytes;
    } else if (c.bytes == "flash") {
        Check(++gRun.nFlash == 1, "\"flash\" sent twice in one run");
        Check(gRun.fWoken && !gRun.f710F, "\"flash\" without a 000 matched in phase 0, or to a 710F");
    } else if (c.bytes == "p 60\r") {
        Check(++gRun.nProgram == 1, "\"p 60\" sent twice in one run");
        gRun.fProgram = true;
    }
}

// The port, for each write of the image: how much it takes, and the time its
// write time-out takes (1 ms a byte and 1 ms) on the clock of the transfer.
recorder::Take Port(DWORD dwRequested)
{
    Check(!gRun.fPortStopped, "the image went on after the port stopped");
    if (!gRun.fImage)
        gRun.dwImageStart = gRun.dwLastTaken = recorder::gClock;
    const uint8_t b = gPort.empty() ? 1 : gPort[gnPortNext++ % gPort.size()];
    recorder::Take take{dwRequested, TRUE};
    if (b == 255)
        take = recorder::Take{0, FALSE};
    else if (b % 4 == 0)
        take.dwTaken = 0;
    else if (b % 4 != 1)
        take.dwTaken = std::min<DWORD>(dwRequested, b / 4 + 1);
    recorder::gClock += (take.dwTaken ? take.dwTaken : dwRequested) + 1;
    if (take.dwTaken > 0)
        gRun.dwLastTaken = recorder::gClock;
    const DWORD dwImageTime = IMAGE_TIME_FACTOR * (DWORD)(gImage.size() * 10 * 1000 / kInstallRate) + IMAGE_TIME_EXTRA_MS;
    gRun.fPortStopped = !take.fOk || recorder::gClock - gRun.dwLastTaken >= IMAGE_STALL_MS ||
                        (take.dwTaken < dwRequested && recorder::gClock - gRun.dwImageStart >= dwImageTime);
    return take;
}

bool Shown(const char* lpszMessage)
{
    for (const recorder::Call& c : recorder::Calls())
        if (c.name == "Message" && c.bytes == lpszMessage)
            return true;
    return false;
}

// The tick in which the image began: the whole of it taken, or a port that
// stopped left as Cancel leaves it.
void CheckTransfer()
{
    if (!gRun.fPortStopped) {
        Check(gRun.taken == gImage, "the transfer ended before the port had taken the whole image");
        return;
    }
    std::string after;
    for (const recorder::Call& c : recorder::Calls()) {
        if (c.name == "WriteCommBytes")
            after = "image";
        else if (c.name == "ClearCommOutput" || c.name == "DrainCommOutput" || c.name == "WriteCommBlock" ||
                 c.name == "SetupConnection")
            after += " " + (c.name[0] == 'C' ? "clear" : c.name[0] == 'D' ? "drain" : c.name[0] == 'W' ? c.bytes
                                                                                                    : std::to_string(c.a));
    }
    Check(after == (gRun.seen.nModel == 1 ? "image clear r\r drain 1" : "image clear 1"),
          "a port that stopped: not output dropped, the 520W reset (gone out) and the normal rate");
    gRun.fFailNext = !gRun.fVerdict;   // a verdict matched before stands
}

void NewRun()
{
    ResetReceiveState();
    const int nModelNo = gRun.seen.nModel;
    gRun = RUN();
    gRun.seen = STATE{0, 1, nModelNo};
    gnPortNext = 0;
    InstallInit(hDlg);
    recorder::ClearCalls();
    Look();
}

// What the calls since the last look show; a closed dialog is destroyed and
// a new download begins.  True when the dialog closed.
bool Inspect()
{
    bool fEnded = false, fReported = false, fNoFile = false, fChooserGaveUp = false;
    std::string lastWrite;
    for (const recorder::Call& c : recorder::Calls()) {
        if (c.name == "WriteCommBlock") {
            lastWrite = c.bytes;
        } else if (c.name == "Message" && c.bytes == "Install Success!") {
            Check(gRun.fSuccessDue && gRun.taken == gImage,
                  "success reported without a 101 matched after the port took the image's last byte");
            fReported = true;
            ++gnSuccesses;
        } else if (c.name == "Message" && c.bytes == "Install Fail!") {
            Check(gRun.f302 || gRun.nTicksAfterImage >= 502 || gRun.fPortStopped || gRun.fEarly,
                  "failure reported without a 302, the waiting limit, a port that stopped or a 101 before the "
                  "image's last byte");
            fReported = true;
        } else if (c.name == "Message" && c.bytes.rfind("It may not run correctly!", 0) == 0) {
            fNoFile = true;
        } else if (c.name == "ChooseFile") {
            fChooserGaveUp = true;   // confirmed by an "r" write and End
        } else if (c.name == "End") {
            fEnded = true;
        }
    }
    if (fEnded)
        Check(fReported || fNoFile || gRun.fCancelled || (fChooserGaveUp && lastWrite == "r\r"),
              "the dialog closed through none of its ends");
    recorder::ClearCalls();
    if (fEnded) {
        InstallDestroy(hDlg);
        NewRun();
    }
    return fEnded;
}

void Tick(int nTicks)
{
    for (int i = 0; i < nTicks; i++) {
        const bool fFailDue = gRun.fFailNext;
        InstallTick(hDlg);
        Look();
        if (fFailDue)
            Check(Shown("Install Fail!"), "a port that stopped did not end the run with \"Install Fail!\" at once");
        if (gRun.fImage && !gRun.fTransferChecked) {
            gRun.fTransferChecked = true;
            CheckTransfer();
        }
        const STATE& s = gRun.seen;
        if (gRun.nTicksAfterImage >= 0)
            ++gRun.nTicksAfterImage;
        else if (s.nPhase == 3 && s.nStep == 8)
            gRun.nTicksAfterImage = 0;   // the transfer has returned in this tick
        if (gRun.nTicksAfterImage > 0 && gRun.nTicksAfterImage <= 502 && !gRun.fVerdict && !gRun.fCancelled) {
            const bool fWaiting = s.nPhase == 3 && s.nStep == 8, fFailing = s.nPhase == 5 && s.nStep == 11;
            Check(gRun.nTicksAfterImage < 502 ? fWaiting : fFailing,
                  "with no verdict, not failing on exactly the 502nd tick after the image");
        }
        if (Inspect())
            break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    unsigned x = 1;
    for (int i = 0; i < 3000; i++)
        gImage += (char)((x = x * 1103515245 + 12345) >> 16);
    std::ofstream(kImageName, std::ios::binary) << gImage;
    std::atexit([] { std::remove(kImageName.c_str()); });
    gTTY.dwBaudRate = 19200;
    gTTY.dwBaudRateDown = kInstallRate;
    recorder::Attach(hMain, &gTTY);
    hTTYWnd = hMain;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    recorder::Reset();
    recorder::gOnWrite = Wrote;
    recorder::gOnWait = Waited;
    recorder::gPortTakes = Port;
    gPort.clear();
    gpszDuringImage = nullptr;
    nModel = 1;
    gRun.seen.nModel = 1;
    std::snprintf(gszMyFileName, sizeof(gszMyFileName), "%s", kImageName.c_str());
    NewRun();

    for (size_t i = 0; i < size; i++) {
        const unsigned arg = data[i] >> 3;
        switch (data[i] & 7) {
        case 0:
            Tick(1);
            break;
        case 1:
            gpszDuringWait = kReplies[arg % kReplyCount];
            Tick(1);
            gpszDuringWait = nullptr;
            break;
        case 2:
            Tick(arg ? 8 * (int)arg : 503);   // 503: the waiting limit and its report
            break;
        case 3: case 4:
            Feed(kReplies[arg % kReplyCount]);
            break;
        case 5:
            gRun.fCancelled = true;
            gRun.seen.nPhase = 5;   // and the step stays
            InstallCommand(hDlg, IDC_INSTCANCEL, 0);
            Check(recorder::Transcript() == (gRun.seen.nModel == 1 ? "w:r\\r drain setup:1" : "setup:1"),
                  "Cancel: not \"r\\r\" for the 520W alone, gone out before the normal rate");
            Look();
            break;
        case 6:
            recorder::gFileField = arg % 3 == 0 ? kImageName : arg % 3 == 1 ? kMissingName : "";
            if (arg & 4)
                recorder::gChooserAnswer = kImageName;
            else
                recorder::gChooserAnswer.reset();
            gpszDuringImage = (arg & 8) ? kReplies[arg % kReplyCount] : nullptr;
            if (arg & 16) {
                const size_t n = std::min<size_t>(1 + arg % 4, size - i - 1);
                gPort.assign(data + i + 1, data + i + 1 + n);
                i += n;
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

    // Whatever came before, a clean run into a 520W succeeds.
    InstallDestroy(hDlg);
    gPort.clear();
    gpszDuringImage = nullptr;
    recorder::gFileField = kImageName;
    NewRun();
    const int nSuccesses = gnSuccesses;
    for (int nReply : {0, 1, 4, 5}) {
        Tick(1);
        Feed(kReplies[nReply]);
    }
    Tick(1);
    Check(gnSuccesses == nSuccesses + 1, "a clean run into a 520W did not end in \"Install Success!\"");
    InstallDestroy(hDlg);
    return 0;
}
