// The console as the Install dialog: the installer core's front-end
// functions (install.h) for orvane-cli.  Statuses become lines, the message
// box texts the verdict, the progress bar a progress line.
#include "orvane/cli/image.h"
#include "orvane/cli/port.h"
#include "orvane/cli/system.h"
#include "orvane/cli/unitstate.h"
#include "orvane/installer/install.h"

#include <cmath>
#include <cstdio>

namespace {

void ShowProgress()
{
    const uint64_t total = gUnit.context->image->size;
    const uint64_t sent = dwImageTaken;
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
        TellUnderWay();   // the image is under way: the tick that sends it does not end before it
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
        Note(InterruptName() + ": the unit is cancelled once the image is written; Ctrl+C again stops it now");
    }
    if (interrupts >= 2) {
        gUnit.outcome = kCancel;
        gUnit.context->stopNow(Finish());
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

