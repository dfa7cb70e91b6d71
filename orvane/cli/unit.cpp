// The console as the Install dialog: the installer core's front-end functions
// (install.h) for orvane-cli, and the loop that ticks the state machine.
// Statuses become lines, the message box texts the verdict, the progress bar
// a progress line; the reason for a failure is worked out from the phase the
// run stopped in and what the module sent last.
#include "orvane/cli/unit.h"

#include "common/sha256.h"
#include "orvane/cli/events.h"
#include "orvane/cli/identity.h"
#include "orvane/cli/logfile.h"
#include "orvane/cli/port.h"
#include "orvane/cli/ports.h"
#include "orvane/cli/system.h"
#include "orvane/installer/install.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

const int kTickMs = 10;   // about the rate a Windows desktop ticks the dialog
const char kSuccess[] = "Install Success!";
const char kFail[] = "Install Fail!";
const char kNoFile[] = "Creat File Fail";

// Where a run can stop, in order.
enum Stage { kWake, kFlash, kPrepare, kImage, kVerdict };

const char* const kStageNames[] = {
    "waking the boot monitor", "after \"flash\"", "preparing (\"p 60\")", "sending the image",
    "waiting for the verdict",
};

// What a technician should look at, by exit code and by whether the run had
// got as far as the image.
struct ADVICE
{
    int code;
    const char* beforeImage;
    const char* fromImage;
};

const ADVICE kAdvice[] = {
    {kExitModuleFailed, "the power (on after removing the LAN card) and the installation rate (--rate)",
     "the image file (the right one for this model?) and the installation rate (--rate)"},
    {kExitNoVerdict, "the cable and the port, and the installation rate (--rate)",
     "the cable and the port, the installation rate (--rate) and the image file"},
    {kExitNoWake, "the power (on after removing the LAN card), the cable and the port, and the installation rate (--rate)",
     "the cable and the port"},
    {kExitImage, "the image file", "the image file"},
    {kExitPort, "the cable and the port (its name, its permissions, another program using it)",
     "the cable, the adapter and the port"},
    {kExitWrongModel, "the module on this port and --expect-model", "the module on this port and --expect-model"},
};

// The progress range the dialog sets for a model: 256 blocks of 1024 bytes
// for the MRQ-520W and MRQ-710F, 56 for the MRQ-41.
int ProgressBlocks(int nModelNo)
{
    return nModelNo == 2 ? 56 : 256;
}

double Since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string NowIso()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// ---- what the module sent -------------------------------------------------

struct RECEIVED
{
    std::mutex lock;
    std::string line;      // being received
    std::string last;      // the last whole non-empty line
    std::string first;     // the first whole non-empty line
    bool saw302 = false;
} gReceived;

const size_t kShownBytes = 40;

std::string Printable(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes)
        out += c >= 0x20 && c < 0x7F ? char(c) : '.';
    const size_t first = out.find_first_not_of(" .");
    const size_t last = out.find_last_not_of(" .");
    out = first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
    return out.size() > kShownBytes ? out.substr(0, kShownBytes) + "..." : out;
}

void ForgetReceived()
{
    std::lock_guard<std::mutex> hold(gReceived.lock);
    gReceived.line.clear();
    gReceived.last.clear();
    gReceived.first.clear();
    gReceived.saw302 = false;
}

std::string LastReceived()
{
    std::lock_guard<std::mutex> hold(gReceived.lock);
    const std::string partial = Printable(gReceived.line);
    return partial.empty() ? gReceived.last : partial;
}

bool Saw302()
{
    std::lock_guard<std::mutex> hold(gReceived.lock);
    return gReceived.saw302;
}

// ---- the unit in progress -------------------------------------------------

enum Outcome { kRunning, kCancel, kNoAnswer, kImageProblem, kPortGone, kWrongModel };

struct UNIT
{
    UnitContext* context = nullptr;
    std::string startIso;
    Clock::time_point start, stageSince, transferStart, transferEnd;
    Stage stage = kWake;
    bool modelKnown = false;
    bool ended = false;
    std::string message;
    Outcome outcome = kRunning;
    bool transferring = false, transferred = false, verdictTimeSet = false;
    int milestone = 0;
    std::deque<std::pair<Clock::time_point, uint64_t>> recent;   // progress over the last seconds
    int interruptBase = 0;
    bool cancelNoticed = false;
    bool wrongModel = false;
    bool goneInImage = false;   // the port went away while the image was written
    Clock::time_point lastProgressEvent;
    int eventMilestone = -1;
    std::string live;
} gUnit;

void Event(const std::string& json)
{
    if (gUnit.context->options->Events())
        gUnit.context->screen->Event(json);
}

// The fields every event of a unit carries.
JsonObject UnitEvent(const char* name)
{
    return JsonObject::Event(name).Str("port", gUnit.context->port).Int("attempt", gUnit.context->attempt);
}

// A line that stays: the port, the seconds since the unit started, the text.
void NoteAt(const UnitContext& c, double seconds, const std::string& text)
{
    char head[32];
    std::snprintf(head, sizeof(head), "  [%5.1f s] ", seconds);
    c.screen->Note(0, c.port + head + text);
}

void Note(const std::string& text)
{
    NoteAt(*gUnit.context, Since(gUnit.start), text);
}

void Live(const std::string& text, bool milestone = false)
{
    UnitContext& c = *gUnit.context;
    std::string line = c.port + "  ";
    if (c.options->station && !c.options->watched)   // --watch's parent shows the counts of every station
        line += "PASS " + std::to_string(c.pass) + " FAIL " + std::to_string(c.fail) + "  ";
    line += text;
    if (line == gUnit.live && !milestone)
        return;
    gUnit.live = line;
    c.screen->Live(0, line, milestone);
}

// What the port has taken of the image, never what was merely handed to it.
uint64_t BytesSent()
{
    return dwImageTaken;
}

double TransferRate()
{
    const double seconds = std::chrono::duration<double>(gUnit.transferEnd - gUnit.transferStart).count();
    return seconds > 0 ? double(gUnit.context->image->size) / seconds : 0;
}

void ShowProgress()
{
    const uint64_t total = gUnit.context->image->size;
    const uint64_t sent = BytesSent();
    const int percent = total ? int(sent * 100 / total) : 100;
    // The rate of the last few seconds: the first blocks only fill the
    // driver's buffer and would promise far too much.
    const Clock::time_point now = Clock::now();
    auto& recent = gUnit.recent;
    recent.emplace_back(now, sent);
    while (recent.size() > 2 && now - recent[1].first > std::chrono::seconds(3))
        recent.pop_front();
    const double span = std::chrono::duration<double>(now - recent.front().first).count();
    const double rate = span > 0.5 ? double(sent - recent.front().second) / span : 0;
    char text[160];
    if (rate > 0)
        std::snprintf(text, sizeof(text), "%3d%%  %llu of %llu bytes  %.0f B/s  %.0f s left", percent,
                      (unsigned long long)sent, (unsigned long long)total, rate, double(total - sent) / rate);
    else
        std::snprintf(text, sizeof(text), "%3d%%  %llu of %llu bytes", percent, (unsigned long long)sent,
                      (unsigned long long)total);
    const bool milestone = percent / 10 > gUnit.milestone;
    if (milestone)
        gUnit.milestone = percent / 10;
    Live(text, milestone);
    // Events: at every 10% and in between at most every 250 ms.
    if (percent / 10 > gUnit.eventMilestone || now - gUnit.lastProgressEvent >= std::chrono::milliseconds(250)) {
        gUnit.eventMilestone = percent / 10;
        gUnit.lastProgressEvent = now;
        Event(UnitEvent("progress")
                  .Int("bytes", (long long)sent)
                  .Int("total", (long long)total)
                  .Int("percent", percent)
                  .NumOrNull("bytes_per_s", rate, 0)
                  .Num("seconds_left", rate > 0 ? double(total - sent) / rate : NAN, 1)
                  .Num("elapsed_s", Since(gUnit.start), 3)
                  .Done());
    }
}

void ShowWait()
{
    static const char* const kWaits[] = {
        "waking the boot monitor: turn the module on (LAN card removed)", "\"flash\" sent, waiting for the monitor",
        "\"p 60\" sent, waiting for the module", "sending the image", "image sent, waiting for the verdict",
    };
    if (gUnit.stage == kImage)
        return;
    Live(std::string(kWaits[gUnit.stage]) + "  " + std::to_string(int(Since(gUnit.stageSince))) + " s");
}

// Where the run stands, from phase and step (moved by the parser on the
// watcher's thread too).
void Observe()
{
    const INSTALLSTATE s = GetInstallState();
    if (s.nPhase >= 5 && !gUnit.transferring)
        return;
    Stage stage = gUnit.stage;
    if (gUnit.transferring)
        stage = kImage;
    else if (s.nPhase <= 2)
        stage = Stage(s.nPhase);
    else if (s.nPhase == 3)
        stage = s.nStep == 8 ? kVerdict : kImage;
    if (s.nPhase >= 2)
        gUnit.modelKnown = true;
    if (stage != gUnit.stage) {
        gUnit.stage = stage;
        gUnit.stageSince = Clock::now();
    }
}

void Cancel(Outcome outcome)
{
    gUnit.outcome = outcome;
    InstallCommand(gUnit.context->hDlg, IDC_INSTCANCEL, 0);
}

// Ctrl+C, the wake-up limit and a failed image open end the run the way the
// dialog's Cancel does; the next tick closes it.
void CheckStops()
{
    if (gUnit.outcome != kRunning)
        return;
    const Options& o = *gUnit.context->options;
    if (PortGone()) {
        if (o.watched && gUnit.stage == kWake)
            Note("the port went away: its station ends");
        Cancel(kPortGone);
    } else if (Interrupts() > gUnit.interruptBase) {
        Note(gUnit.stage == kWake && o.station ? "Ctrl+C: the station stops" : "Ctrl+C: cancelled");
        Cancel(kCancel);
    } else if (gUnit.message == kNoFile) {
        gUnit.stage = kImage;   // the open that failed was the image's
        Cancel(kImageProblem);
    } else if (o.wakeTimeout > 0 && gUnit.stage <= kPrepare && !(o.station && gUnit.stage == kWake) &&
               Since(gUnit.stageSince) > o.wakeTimeout) {
        Cancel(kNoAnswer);
    }
}

std::string Reason(int code)
{
    std::string what;
    char text[96];
    const bool fEarly = code == kExitModuleFailed && lEarlyVerdictAt >= 0;
    switch (code) {
    case kExitModuleFailed:
        what = "the module reported failure (302)";
        if (fEarly) {
            std::snprintf(text, sizeof(text), "the module answered 101 with %ld of %llu bytes of the image gone",
                          (long)lEarlyVerdictAt, (unsigned long long)gUnit.context->image->size);
            what = std::string(text) + " (it ended the image early)";
        }
        break;
    case kExitNoVerdict:
        std::snprintf(text, sizeof(text), "no verdict %.1f s after the image", max_timeout / 100.0);
        what = text;
        break;
    case kExitNoWake:
        std::snprintf(text, sizeof(text), "no answer in %g s", gUnit.context->options->wakeTimeout);
        what = text;
        break;
    case kExitImage:
        what = "the image file could not be opened (" + gUnit.message + ")";
        break;
    case kExitPort:
        if (gUnit.outcome == kPortGone) {
            what = "the port went away";
            if (gUnit.goneInImage) {
                gUnit.stage = kImage;
                std::snprintf(text, sizeof(text), " with %llu of %llu bytes taken", (unsigned long long)BytesSent(),
                              (unsigned long long)gUnit.context->image->size);
                what += text;
            }
        } else {
            std::snprintf(text, sizeof(text), "the port stopped taking the image after %llu of %llu bytes",
                          (unsigned long long)BytesSent(), (unsigned long long)gUnit.context->image->size);
            what = text;
        }
        break;
    case kExitWrongModel:
        what = std::string("the module is an ") + ModelName(nModel) + ", not the " +
               ModelName(gUnit.context->options->expectModel) + " expected (--expect-model); no image byte sent";
        break;
    case kExitCancelled:
        what = "cancelled (Ctrl+C)";
        if (gUnit.stage == kImage) {
            std::snprintf(text, sizeof(text), " with %llu of %llu bytes sent", (unsigned long long)BytesSent(),
                          (unsigned long long)gUnit.context->image->size);
            what += text;
        }
        break;
    }
    std::string reason = "stopped " + std::string(kStageNames[gUnit.stage]) + ": " + what;
    const std::string last = LastReceived();
    reason += "; last received " + (last.empty() ? std::string("nothing") : "\"" + last + "\"");
    // A module ends an image on silence: an early end points at the line, as
    // a port that stops does.
    for (const ADVICE& a : kAdvice)
        if (a.code == (fEarly ? kExitPort : code))
            reason += std::string("; check ") + (gUnit.stage >= kImage ? a.fromImage : a.beforeImage);
    return reason;
}

UnitReport Finish()
{
    UnitReport r;
    r.start = gUnit.startIso;
    r.seconds = Since(gUnit.start);
    r.model = gUnit.modelKnown ? ModelName(nModel) : "";
    r.verdict = gUnit.message;
    if (gUnit.transferred && !fImageStalled && gUnit.outcome != kPortGone)
        r.bytesPerSecond = TransferRate();
    if (gUnit.message == kSuccess)
        r.code = kExitInstalled;
    else if (fImageStalled && gUnit.transferred)
        r.code = kExitPort;
    else if (gUnit.message == kFail)
        r.code = Saw302() || lEarlyVerdictAt >= 0 ? kExitModuleFailed : kExitNoVerdict;
    else if (gUnit.outcome == kPortGone)
        r.code = kExitPort;
    else if (gUnit.outcome == kWrongModel)
        r.code = kExitWrongModel;
    else if (gUnit.outcome == kImageProblem || !gUnit.message.empty())
        r.code = kExitImage;
    else if (gUnit.outcome == kNoAnswer)
        r.code = kExitNoWake;
    else if (gUnit.outcome == kCancel)
        r.code = kExitCancelled;
    else
        r.code = kExitNoVerdict;   // closed without a verdict
    if (r.code != kExitInstalled)
        r.reason = Reason(r.code);
    static const char* const kCodes[] = {"installed", "module_failed", "no_verdict", "no_answer",
                                         "image_unreadable", "port_gone", "cancelled", "usage", "wrong_model"};
    r.reasonCode = kCodes[r.code];
    if (r.code == kExitPort && gUnit.outcome != kPortGone)
        r.reasonCode = "port_stalled";
    if (r.code == kExitModuleFailed && lEarlyVerdictAt >= 0)
        r.reasonCode = "early_verdict";
    r.lastReceived = LastReceived();
    r.attempt = gUnit.context->attempt;
    // A station's wait that Ctrl+C ended, or (under --watch) that the port
    // going away ended, is no unit.
    const Options& o = *gUnit.context->options;
    r.unit = !(gUnit.stage == kWake && ((r.code == kExitCancelled && o.station) ||
                                        (r.code == kExitPort && gUnit.outcome == kPortGone && o.watched)));
    r.unitId = gUnit.context->unitId;
    {
        std::lock_guard<std::mutex> hold(gReceived.lock);
        r.bootLine = gReceived.first;
    }
    return r;
}

// Once the module has answered the wake-up, the unit's id: the next line of
// --unit-id-from, waited for (the label not scanned yet) with the state
// machine held where it is.  False when Ctrl+C or the port going away came
// first.
bool ReadUnitId()
{
    UnitContext& c = *gUnit.context;
    if (c.idKnown || c.ids == nullptr || gUnit.stage == kWake || gUnit.outcome != kRunning)
        return true;
    const Clock::time_point since = Clock::now();
    bool waiting = false;
    const bool read = c.ids->Next(&c.unitId, [&] {
        if (!waiting)
            Note("waiting for the unit id (scan the label)");
        waiting = true;
        Live("waiting for the unit id (scan the label)  " + std::to_string(int(Since(since))) + " s");
        return PortGone() || Interrupts() > gUnit.interruptBase;
    });
    if (!read)
        return false;
    c.idKnown = true;
    Note(c.unitId.empty() ? std::string("unit id: none (the list of ids has ended)") : "unit id " + c.unitId);
    Event(UnitEvent("unit_id").Str("unit_id", c.unitId).Done());
    gUnit.stageSince = Clock::now();   // the wait for the id is not the module's
    return true;
}

} // namespace

// ---- the front end ------------------------------------------------------------

void InstallTimer(HWND, BOOL) {}   // the loop in RunUnit ticks while the unit runs

void InstallSetStatus(HWND, LPCSTR lpszText)
{
    if (gUnit.wrongModel)
        return;   // no preparing: the run is being given up
    Note(lpszText);
    Event(UnitEvent("status").Num("elapsed_s", Since(gUnit.start), 3).Str("text", lpszText).Done());
}

void InstallSetFileName(HWND, LPCSTR) {}   // the name is --image's, for good

int InstallGetFileName(HWND, LPSTR lpszName, int cchMax)
{
    // Another model than expected: no name, no chooser, so the dialog gives
    // the run up before "p 60" (resetting the monitor, the normal rate).
    if (gUnit.wrongModel) {
        lpszName[0] = '\0';
        return 0;
    }
    const std::string& path = gUnit.context->image->path;
    std::snprintf(lpszName, size_t(cchMax), "%s", path.c_str());
    return int(path.size() < size_t(cchMax) ? path.size() : size_t(cchMax - 1));
}

// Cancel is greyed exactly while the image is written.
void InstallEnable(HWND, int idControl, BOOL fEnable)
{
    if (idControl != IDC_INSTCANCEL)
        return;
    if (!fEnable) {
        gUnit.transferring = true;
        gUnit.transferStart = Clock::now();
        gUnit.milestone = 0;
        gUnit.recent.clear();
        Observe();
    } else {
        // The verdict is waited for once the image is out of the port; a
        // port that stopped taking it has nothing to drain.
        if (!fImageStalled)
            DrainCommOutput(hTTYWnd);
        gUnit.goneInImage = PortGone();   // the transfer stopped at its first failed write
        gUnit.transferring = false;
        gUnit.transferred = true;
        gUnit.transferEnd = Clock::now();
    }
}

// The dialog sets the range once the model is known, before "p 60".
void InstallProgressRange(HWND, WORD)
{
    const int nModelNo = GetInstallState().nModel;
    gUnit.modelKnown = true;
    const int expected = gUnit.context->options->expectModel;
    if (expected && nModelNo != expected) {
        gUnit.wrongModel = true;
        gUnit.outcome = kWrongModel;
        return;
    }
    const std::string warning = ImageTooLarge(*gUnit.context->image, nModelNo);
    if (!warning.empty()) {
        Note("warning: " + warning);
        Event(UnitEvent("warning").Str("code", "image_too_large").Str("text", warning).Done());
    }
}

void InstallProgressStep(HWND)
{
    const int interrupts = Interrupts() - gUnit.interruptBase;
    if (interrupts >= 1 && !gUnit.cancelNoticed) {
        gUnit.cancelNoticed = true;
        Note("Ctrl+C: the unit is cancelled once the image is written; Ctrl+C again stops it now");
    }
    if (interrupts >= 2) {
        gUnit.outcome = kCancel;
        UnitReport r = Finish();
        r.code = kExitCancelled;
        r.reason = Reason(kExitCancelled);
        gUnit.context->stopNow(r);
    }
    ShowProgress();
}

void InstallRepaint(HWND) {}

void InstallMessage(HWND, LPCSTR lpszText, LPCSTR)
{
    if (gUnit.wrongModel)
        return;   // "It may not run correctly!": the run was given up on purpose
    gUnit.message = lpszText;
    // The text of the dialog's message box stays on one line.
    for (char& c : gUnit.message)
        if (c == '\n')
            c = ' ';
}

void InstallPause(DWORD dwMilliseconds)
{
    PortWait(int(dwMilliseconds));
}

DWORD InstallClock(void)
{
    static const Clock::time_point start = Clock::now();
    return DWORD(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void InstallEnd(HWND)
{
    gUnit.ended = true;
}

BOOL InstallChooseFile(HWND, LPSTR, DWORD)
{
    return FALSE;   // no one to ask: the image is --image
}

// ---- the unit ---------------------------------------------------------------

const char* UnitReport::Result() const
{
    return code == kExitInstalled ? "PASS" : code == kExitCancelled ? "CANCELLED" : "FAIL";
}

bool InspectImage(const std::string& path, const std::string& sha256, ImageInfo* image, std::string* error,
                  std::string* reasonCode)
{
    *reasonCode = "image_unreadable";
    void* hImage = ImageOpen(path.c_str());
    if (hImage == NULL) {
        *error = "cannot open the image " + path + " (missing, not a file, or not readable)";
        return false;
    }
    image->path = path;
    image->size = ImageSize(hImage);
    orvane::Sha256 sha;
    BYTE abBlock[16384];
    uint64_t read = 0;
    int n;
    while ((n = ImageRead(hImage, abBlock, sizeof(abBlock))) > 0) {
        sha.update(abBlock, size_t(n));
        read += uint64_t(n);
    }
    ImageClose(hImage);
    image->sha256 = sha.hex();
    if (n < 0 || read != image->size) {
        *error = "cannot read the image " + path;
        return false;
    }
    if (image->size == 0) {
        *reasonCode = "image_empty";
        *error = "the image " + path + " is empty";
        return false;
    }
    if (!sha256.empty() && image->sha256 != sha256) {
        *reasonCode = "image_digest";
        *error = "the image " + path + " has SHA-256 " + image->sha256 + ", not " + sha256 + " (--sha256)";
        return false;
    }
    return true;
}

std::string ImageTooLarge(const ImageInfo& image, int nModelNo)
{
    std::string ranges;
    for (int n = 1; n <= 3; ++n) {
        const uint64_t blocks = uint64_t(ProgressBlocks(n));
        if ((nModelNo == 0 || nModelNo == n) && image.size > blocks * IMAGE_CHUNK)
            ranges += std::string(ranges.empty() ? "" : " and ") + "the " + ModelName(n) + "'s progress range (" +
                      std::to_string(blocks) + " blocks of 1024 bytes)";
    }
    if (ranges.empty())
        return std::string();
    return "the image (" + std::to_string(image.size) + " bytes) is larger than " + ranges;
}

void TapReceived(const unsigned char* lpBlock, int nLength)
{
    std::lock_guard<std::mutex> hold(gReceived.lock);
    for (int i = 0; i < nLength; ++i) {
        const char c = char(lpBlock[i]);
        if (c != '\n') {
            if (gReceived.line.size() < 4096)
                gReceived.line += c;
            continue;
        }
        if (gReceived.line.find("302") != std::string::npos)
            gReceived.saw302 = true;
        const std::string shown = Printable(gReceived.line);
        if (!shown.empty())
            gReceived.last = shown;
        if (gReceived.first.empty())
            gReceived.first = shown;
        gReceived.line.clear();
    }
}

UnitReport RunUnit(UnitContext& context)
{
    gUnit = UNIT{};
    gUnit.context = &context;
    gUnit.start = gUnit.stageSince = Clock::now();
    gUnit.interruptBase = Interrupts();
    gUnit.startIso = NowIso();
    ForgetReceived();
    dwImageTaken = 0;
    fImageStalled = FALSE;
    Event(UnitEvent("unit_start").Str("time", gUnit.startIso).Done());
    nCount = 0;   // counts only once the image is out; a run starts at nought

    // As the Download command: the installation rate, empty receive buffers,
    // then the dialog.
    if (!SetupConnection(hTTYWnd, 0)) {
        UnitReport r = PortGone() ? EarlyFailure(kExitPort, "the port went away", "port_gone")
                                  : EarlyFailure(kExitPort, "cannot set the port to " +
                                                                std::to_string(context.options->rate) + " baud",
                                                 "port_setup");
        r.attempt = context.attempt;
        r.unit = !(PortGone() && context.options->watched);
        return r;
    }
    PortResetReceive();
    std::snprintf(gszMyFileName, sizeof(gszMyFileName), "%s", context.image->path.c_str());
    InstallInit(context.hDlg);

    Clock::time_point next = Clock::now();
    while (!gUnit.ended) {
        next += std::chrono::milliseconds(kTickMs);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        if (wait > 0)
            PortWait(int(wait));
        else
            next = Clock::now();   // after the image: no burst of ticks to catch up
        CheckStops();
        Observe();
        InstallTick(context.hDlg);
        Observe();
        ReadUnitId();
        if (gUnit.stage == kVerdict && !gUnit.verdictTimeSet) {
            gUnit.verdictTimeSet = true;
            if (context.options->verdictTimeout > 0)
                max_timeout = int(context.options->verdictTimeout * 100 + 0.5);
        }
        ShowWait();
    }
    InstallDestroy(context.hDlg);

    return Finish();
}

void ShowReport(const UnitContext& c, const UnitReport& r)
{
    std::string line = r.Result();
    if (r.code != kExitInstalled && r.code != kExitCancelled)
        line += " (exit " + std::to_string(r.code) + ")";
    if (!r.model.empty())
        line += "  " + r.model;
    if (!r.verdict.empty())
        line += "  " + r.verdict;
    if (r.bytesPerSecond > 0)
        line += "  image " + std::to_string(c.image->size) + " bytes at " + Fixed(r.bytesPerSecond, 0) + " B/s";
    if (r.attempt > 1)
        line += "  (attempt " + std::to_string(r.attempt) + ")";
    if (!r.unitId.empty())
        line += "  unit " + r.unitId;
    NoteAt(c, r.seconds, line);
    if (!r.reason.empty())
        NoteAt(c, r.seconds, "reason: " + r.reason);
    for (const std::string& flag : r.flags)
        NoteAt(c, r.seconds, flag == "unit_id_empty" ? "flagged: the unit has no id"
                                                     : "flagged: unit id " + r.unitId +
                                                           " is already in this bench's log (logged again, not merged)");
    c.screen->Live(0, c.port + "  " + line);
    if (c.options->Events())
        c.screen->Event(ResultEvent(r, c.port, *c.image));
}

std::string ResultEvent(const UnitReport& r, const std::string& port, const ImageInfo& image)
{
    return JsonObject::Event("result")
        .Str("port", port)
        .Str("device", r.device.empty() ? PortDevice(port) : r.device)
        .Int("attempt", r.attempt)
        .Int("code", r.code)
        .Str("result", r.Result())
        .Str("reason_code", r.reasonCode)
        .StrOrNull("reason", r.reason)
        .StrOrNull("model", r.model)
        .StrOrNull("verdict", r.verdict)
        .StrOrNull("last_received", r.lastReceived)
        .Str("image", image.name)
        .Int("size", (long long)image.size)
        .StrOrNull("sha256", image.sha256)
        .Str("start", r.start)
        .Num("duration_s", r.seconds, 3)
        .NumOrNull("bytes_per_s", r.bytesPerSecond, 0)
        .StrOrNull("unit_id", r.unitId)
        .StrOrNull("operator", r.operatorName)
        .StrOrNull("bench", r.bench)
        .Str("tool_version", r.toolVersion)
        .StrOrNull("image_label", r.imageLabel)
        .StrOrNull("adapter", r.adapter)
        .StrOrNull("boot_line", r.bootLine)
        .Strs("flags", r.flags)
        .Done();
}

void Stamp(UnitReport* r, const Options& o)
{
    r->operatorName = o.operatorName;
    r->bench = o.bench;
    r->toolVersion = ToolVersion();
    r->imageLabel = o.imageLabel;
    r->adapter = o.adapter;
}

UnitReport EarlyFailure(int code, const std::string& reason, const std::string& reasonCode)
{
    UnitReport r;
    r.start = NowIso();
    r.code = code;
    r.reason = reason;
    r.reasonCode = reasonCode;
    for (const ADVICE& a : kAdvice)
        if (a.code == code)
            r.reason += std::string("; check ") + a.beforeImage;
    return r;
}

std::string LogLine(const UnitReport& r, const std::string& port, const ImageInfo& image)
{
    std::string flags;
    for (const std::string& f : r.flags)
        flags += (flags.empty() ? "" : " ") + f;
    const std::string fields[] = {
        r.start, port, r.model, image.name, image.size ? std::to_string(image.size) : "", image.sha256,
        Fixed(r.seconds, 1), r.bytesPerSecond > 0 ? Fixed(r.bytesPerSecond, 0) : "", r.Result(), r.reason,
        std::to_string(r.attempt), r.reasonCode, r.unitId, r.operatorName, r.bench, r.toolVersion, r.imageLabel,
        r.adapter, r.bootLine, flags,
    };
    std::string line;
    for (const std::string& f : fields) {
        if (!line.empty())
            line += ',';
        line += CsvField(f);
    }
    return line + "\n";
}

std::string Fixed(double value, int decimals)
{
    char text[48];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    for (char& c : text)
        if (c == ',')
            c = '.';
    return text;
}
