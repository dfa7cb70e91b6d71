// One port in this process, once or as a station: the unit's attempts, each
// from the wake-up; its record logged, then shown.
#include "orvane/cli/station.h"

#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/events.h"
#include "orvane/cli/identity.h"
#include "orvane/cli/logfile.h"
#include "orvane/cli/outcome.h"
#include "orvane/cli/port.h"
#include "orvane/cli/ports.h"
#include "orvane/cli/received.h"
#include "orvane/cli/runevents.h"
#include "orvane/cli/system.h"
#include "orvane/cli/unit.h"

#include <chrono>
#include <cstdio>

namespace {

// The codes a unit is run again after (--retries): no answer, no verdict, a
// port that went away.  Never after a 302, an image problem, a wrong model
// or a cancel.
bool Retryable(int code)
{
    return code == kExitNoVerdict || code == kExitNoWake || code == kExitPort;
}

// A retry on a port that went away: the same port again once it is back (an
// adapter plugged in again, a line that is there again), waited for as the
// wake-up waits for a module: by a station as long as it takes, otherwise
// within --wake-timeout when there is one.  False with the reason when it
// did not come back, or on Ctrl+C.
bool Reopen(const UnitContext& c, std::string* error)
{
    const Options& o = *c.options;
    PortClose();
    const auto since = std::chrono::steady_clock::now();
    c.screen->Note(0, c.port + "  the port went away: waiting for it to come back");
    for (;;) {
        std::string absent;
        if (PortPresent(c.port, &absent) && PortOpen(error))
            return true;
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
        if (Interrupts() > c.interruptBase) {
            *error = "cancelled while waiting for the port to come back";
            return false;
        }
        if (!o.station && o.wakeTimeout > 0 && waited > o.wakeTimeout) {
            char text[96];
            std::snprintf(text, sizeof(text), "the port went away and did not come back within %g s", o.wakeTimeout);
            *error = text;
            return false;
        }
        c.screen->Live(0, c.port + "  waiting for the port to come back  " + std::to_string(int(waited)) + " s");
        PortWait(100);
    }
}

} // namespace

void LogUnwritten(Screen& screen, const Options& o, UnitRecord* r, const std::string& error)
{
    LogUnwritten(r, error);
    screen.Note(0, r->port + "  warning: the unit's log line could not be written: " + error);
    if (o.Events())
        screen.Event(JsonObject::Event("warning")
                         .Str("port", r->port)
                         .Int("attempt", r->attempt)
                         .Str("code", "log_unwritten")
                         .Str("text", error)
                         .Done());
}

void Stamp(UnitRecord* r, const Options& o, const std::string& port, const ImageInfo& image)
{
    r->port = port;
    if (r->device.empty())
        r->device = PortDevice(port);
    r->image = image.name;
    r->size = image.size;
    r->sha256 = image.sha256;
    r->operatorName = o.operatorName;
    r->bench = o.bench;
    r->toolVersion = ToolVersion();
    r->imageLabel = o.imageLabel;
    r->adapter = o.adapter;
}

int RunPort(const Options& options, Screen& screen)
{
    Options o = options;
    std::string serial;
    if (!o.child) {
        const std::vector<PortInfo> known = ListPorts(false);
        o.adapter = AdapterIdentity(o.ports[0], known);
        serial = AdapterSerial(o.ports[0], known);
    }
    ImageInfo image;
    image.name = o.imageName.empty() ? BaseName(o.image) : o.imageName;
    UnitContext c;
    c.options = &o;
    c.image = &image;
    c.screen = &screen;
    c.port = o.ports[0];
    // A unit's end: its flags worked out with the log locked (an id is
    // repeated when this bench's log has it already, whoever wrote it), the
    // log line, its record in the spool (--deliver), then what is shown.
    SeenIds seen;
    const bool idsInUse = !o.unitId.empty() || !o.unitIdFrom.empty();
    std::string device;   // what the port was when opened: a link may be gone by the unit's end
    auto finish = [&](UnitRecord r) {
        r.device = device;
        Stamp(&r, o, c.port, image);
        bool flagged = false;
        auto flag = [&] {
            flagged = true;
            if (r.attempt > 1) {
                r.flags = c.flags;
                return;
            }
            r.flags.clear();
            const std::string f = idsInUse && c.idKnown ? seen.Flag(r.unitId) : std::string();
            if (!f.empty())
                r.flags.push_back(f);
            c.flags = r.flags;
        };
        std::string error;
        if (!o.log.empty() &&
            !AppendLockedAfter(o.log, LogHeader(), &seen.logOffset,
                               [&](const std::string& line) { seen.FromLog(line, o.bench); },
                               [&] {
                                   flag();
                                   PrepareRecord(ResultEvent(r));
                                   return LogLine(r);
                               },
                               &error))
            LogUnwritten(screen, o, &r, error);
        if (!flagged)
            flag();
        SpoolRecord(screen, o, r);
        screen.Tag(Screen::kTagRecorded, std::to_string(r.code));   // for a parent: nothing to finish
        ShowReport(c, r);
        ShowNotices(screen);
        return r;
    };
    // A parent is told of each attempt under way, so that it can record the
    // unit should this process end before it does.
    if (o.child)
        c.underWay = [&](UnitRecord r) {
            r.device = device;
            Stamp(&r, o, c.port, image);
            screen.Tag(Screen::kTagAttempt, ResultEvent(r));
        };
    // A run of one port in this process says how the run went itself.
    auto done = [&](int code) {
        if (code == kExitInstalled && DeliveryPutFailed())
            code = kExitDelivery;
        if (!o.child) {
            EndDelivery(screen);
            SummaryEvent(screen, o.Events(), code, o.ports, {code}, {c.pass}, {c.fail});
        }
        return code;
    };
    if (!o.child)
        StartEvent(screen, o);
    if (!BeginDelivery(screen, o))
        return done(kExitUsage);

    // A unit that never reached the module: logged, shown and counted as
    // a failure, as with several ports.
    auto early = [&](const UnitRecord& record) {
        const UnitRecord r = finish(record);
        ++c.fail;
        screen.Counts(c.pass, c.fail, r.code);
        return done(r.code);
    };
    std::string error, reasonCode;
    if (!InspectImage(o.image, o.sha256, &image, &error, &reasonCode))
        return early(EarlyFailure(kExitImage, error, reasonCode));
    if (!o.child)
        Banner(screen, o, image);
    UnitIds ids;
    if (!o.unitIdFrom.empty()) {
        std::string path;
        if (!UnitIdPath(o, c.port, serial, &path, &error) || !ids.Open(path, &error) ||
            (o.idsAt && !ids.Seek(o.idsOffset, o.idsLine))) {
            if (error.empty())
                error = "cannot read the unit ids on from where they stood";
            screen.Note(0, c.port + "  " + error);
            if (o.Events())
                screen.Event(ErrorEvent(kExitUsage, c.port + ": " + error));
            return done(kExitUsage);
        }
        c.ids = &ids;
    }
    c.hDlg = PortAttach(c.port, o.normalRate, o.rate);
    PortSetTap(TapReceived);
    if (c.hDlg == NULL || !PortOpen(&error)) {
        if (o.watched) {
            // Gone again before its station could open it, or held by
            // another program: no unit was there.
            screen.Note(0, c.port + "  " + error);
            screen.Gone();
            PortDetach();
            return kExitPort;
        }
        PortDetach();
        return early(EarlyFailure(kExitPort, c.hDlg == NULL ? "cannot make the port's record" : error, "port_open"));
    }
    device = PortDevice(c.port);

    int code = kExitInstalled;
    auto summary = [&] {
        if (o.station && !o.watched)   // --watch's parent sums every station of the port up
            screen.Note(0, c.port + "  station: " + Counted(c.pass, c.fail));
    };
    c.stopNow = [&](const UnitRecord& r) {
        finish(r);
        summary();
        done(code == kExitInstalled ? kExitCancelled : code);
        screen.Close();
        QuitNow(code == kExitInstalled ? kExitCancelled : code);
    };
    // A Ctrl+C from here on ends the run: it cancels the unit, whichever of
    // its attempts it comes in, and a station's wait for the next one.
    c.interruptBase = Interrupts();
    bool stationEnded = false;
    for (int units = 0; !stationEnded && (units == 0 || Interrupts() == c.interruptBase); ++units) {
        // One unit: its attempts, each from the wake-up.
        UnitRecord r;
        bool logged = false;   // an attempt of the unit is in the log: the unit counts
        c.unitId = o.unitId;
        c.idKnown = !o.unitId.empty();
        c.flags.clear();
        for (c.attempt = 1;; ++c.attempt) {
            UnitRecord attempt;
            if (c.attempt > 1 && PortGone() && !Reopen(c, &error)) {
                if (Interrupts() > c.interruptBase) {
                    stationEnded = true;   // the unit as its last attempt left it
                    break;
                }
                attempt = EarlyFailure(kExitPort, error, "port_gone");
                attempt.attempt = c.attempt;
            } else {
                attempt = RunUnit(c);
            }
            if (!attempt.unit) {
                // Ctrl+C while a station waited for a module: no unit, or
                // (a retry's wake-up) the unit as its last attempt left it.
                stationEnded = true;
                break;
            }
            r = finish(attempt);
            logged = true;
            // Under --watch a port that went away is not opened again: it
            // gets a new station when it is back.
            if (c.attempt > o.retries || !Retryable(r.code) || Interrupts() > c.interruptBase || (o.watched && PortGone()))
                break;
            screen.Note(0, c.port + "  retrying: attempt " + std::to_string(c.attempt + 1) + " of " +
                               std::to_string(o.retries + 1) + ", from the wake-up");
        }
        if (!logged)
            break;
        if (r.code == kExitInstalled)
            ++c.pass;
        else if (r.code != kExitCancelled)
            ++c.fail;
        if (code == kExitInstalled)
            code = r.code;
        screen.Counts(c.pass, c.fail, r.code);
        if (!o.station || r.code == kExitCancelled || r.code == kExitImage || r.code == kExitPort)
            break;
    }
    summary();
    if (o.watched && PortGone())
        screen.Gone();
    PortClose();
    PortDetach();
    screen.Close();
    return done(code);
}
