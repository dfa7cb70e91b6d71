// The console as the Install dialog's owner: the loop that ticks the
// installer core's state machine for one unit, and the rules that stop it
// (Ctrl+C, the wake-up limit, a failed image open, the port going away) the
// way the dialog's Cancel does.  The front end itself is frontend.cpp; how
// a run ended and why, outcome.cpp.
#include "orvane/cli/unit.h"

#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/identity.h"
#include "orvane/cli/port.h"
#include "orvane/cli/received.h"
#include "orvane/cli/system.h"
#include "orvane/cli/unitstate.h"
#include "orvane/installer/install.h"

#include <cstdio>

UNIT gUnit;

namespace {

const int kTickMs = 10;   // about the rate a Windows desktop ticks the dialog

// A line that stays: the port, the seconds since the unit started, the text.
void NoteAt(const UnitContext& c, double seconds, const std::string& text)
{
    char head[32];
    std::snprintf(head, sizeof(head), "  [%5.1f s] ", seconds);
    c.screen->Note(0, c.port + head + text);
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

void Cancel(Stop outcome)
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
        Note(InterruptName() + (gUnit.stage == kWake && o.station ? ": the station stops" : ": cancelled"));
        Cancel(kCancel);
    } else if (gUnit.message == kNoFile) {
        gUnit.stage = kImage;   // the open that failed was the image's
        Cancel(kImageProblem);
    } else if (o.wakeTimeout > 0 && gUnit.stage <= kPrepare && !(o.station && gUnit.stage == kWake) &&
               Since(gUnit.stageSince) > o.wakeTimeout) {
        Cancel(kNoAnswer);
    }
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
    }, [&](const std::string& why) {
        Note("unit id refused: " + why);
        Event(UnitEvent("warning").Str("code", "unit_id_refused").Str("text", why).Done());
    });
    if (!read)
        return false;
    c.idKnown = true;
    uint64_t offset = 0;
    long line = 0;
    if (c.options->watched && c.ids->Position(&offset, &line))   // for the port's next station
        c.screen->Tag(Screen::kTagIdsAt, std::to_string(offset) + " " + std::to_string(line));
    Note(c.unitId.empty() ? std::string("unit id: none (the list of ids has ended)") : "unit id " + c.unitId);
    Event(UnitEvent("unit_id").Str("unit_id", c.unitId).Done());
    gUnit.stageSince = Clock::now();   // the wait for the id is not the module's
    return true;
}

} // namespace

void TellUnderWay()
{
    UnitContext& c = *gUnit.context;
    if (!c.underWay || (c.options->station && gUnit.stage == kWake))
        return;
    const int now = int(gUnit.stage) * 4 + (c.idKnown ? 2 : 0) + (gUnit.modelKnown ? 1 : 0);
    if (now == gUnit.told)
        return;
    gUnit.told = now;
    c.underWay(Finish());
}

double Since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

void Event(const std::string& json)
{
    if (gUnit.context->options->Events())
        gUnit.context->screen->Event(json);
}

JsonObject UnitEvent(const char* name)
{
    return JsonObject::Event(name).Str("port", gUnit.context->port).Int("attempt", gUnit.context->attempt);
}

void Note(const std::string& text)
{
    NoteAt(*gUnit.context, Since(gUnit.start), text);
}

void Live(const std::string& text, bool milestone)
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

UnitRecord Finish()
{
    UnitRecord r;
    r.start = gUnit.startIso;
    r.seconds = Since(gUnit.start);
    r.model = gUnit.modelKnown ? ModelName(nModel) : "";
    r.verdict = gUnit.message;
    if (gUnit.transferred && !fImageStalled && gUnit.outcome != kPortGone) {
        const double seconds = std::chrono::duration<double>(gUnit.transferEnd - gUnit.transferStart).count();
        r.bytesPerSecond = seconds > 0 ? double(gUnit.context->image->size) / seconds : 0;
    }
    const Options& o = *gUnit.context->options;
    RunEnd end;
    end.stage = gUnit.stage;
    end.stop = gUnit.outcome;
    end.message = gUnit.message;
    end.transferred = gUnit.transferred;
    end.stalled = fImageStalled;
    end.goneInImage = gUnit.goneInImage;
    end.saw302 = Saw302();
    end.earlyVerdictAt = lEarlyVerdictAt;
    end.taken = dwImageTaken;   // what the port took, never what was merely handed to it
    end.size = gUnit.context->image->size;
    end.wakeTimeout = o.wakeTimeout;
    end.verdictSeconds = max_timeout / 100.0;
    end.model = nModel;
    end.expectModel = o.expectModel;
    end.lastReceived = LastReceived();
    end.cancelledBy = InterruptName();
    const RunResult result = Judge(end);
    SetCode(&r, result.code);
    r.reason = result.reason;
    r.reasonCode = result.reasonCode;
    r.lastReceived = end.lastReceived;
    r.attempt = gUnit.context->attempt;
    // A station's wait that Ctrl+C ended, or (under --watch) that the port
    // going away ended, is no unit.
    r.unit = !(gUnit.stage == kWake && ((r.code == kExitCancelled && o.station) ||
                                        (r.code == kExitPort && gUnit.outcome == kPortGone && o.watched)));
    r.unitId = gUnit.context->unitId;
    r.bootLine = FirstReceived();
    return r;
}

UnitRecord RunUnit(UnitContext& context)
{
    gUnit = UNIT{};
    gUnit.context = &context;
    gUnit.start = gUnit.stageSince = Clock::now();
    gUnit.interruptBase = context.interruptBase;
    gUnit.startIso = NowIso();
    ForgetReceived();
    dwImageTaken = 0;
    fImageStalled = FALSE;
    Event(UnitEvent("unit_start").Str("time", gUnit.startIso).Done());
    nCount = 0;   // counts only once the image is out; a run starts at nought

    // As the Download command: the installation rate, empty receive buffers,
    // then the dialog.
    if (!SetupConnection(hTTYWnd, 0)) {
        UnitRecord r = PortGone() ? EarlyFailure(kExitPort, "the port went away", "port_gone")
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
        TellUnderWay();
        if (gUnit.stage == kVerdict && !gUnit.verdictTimeSet) {
            gUnit.verdictTimeSet = true;
            if (context.options->verdictTimeout > 0)
                max_timeout = int(context.options->verdictTimeout * 100 + 0.5);
        }
        ShowWait();
        if (context.screen)
            ShowNotices(*context.screen);   // --deliver: the sender's news, for the console and the bench view
    }
    InstallDestroy(context.hDlg);

    return Finish();
}

void ShowReport(const UnitContext& c, const UnitRecord& r)
{
    std::string line = r.result;
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
        c.screen->Event(ResultEvent(r));
}
