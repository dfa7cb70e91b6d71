// Running the units.  Every port has its own process-wide state in the
// installer core (phase, parser buffers, hTTYWnd), so one process runs one
// port; with several ports this process starts a child per port and shows
// their lines, one changing line per port.
#include "orvane/cli/session.h"

#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/events.h"
#include "orvane/cli/identity.h"
#include "orvane/cli/logfile.h"
#include "orvane/cli/port.h"
#include "orvane/cli/ports.h"
#include "orvane/cli/system.h"
#include "orvane/cli/unit.h"

#include <cstdio>

namespace {

// A port as the banner names it: what was given, the port an identity
// resolved to, and the device a link stands for.
std::string Label(const Options& o, size_t i)
{
    std::string label = o.ports[i];
    if (i < o.portsGiven.size() && o.portsGiven[i] != o.ports[i])
        label = o.portsGiven[i] + " = " + o.ports[i];
    const std::string device = PortDevice(o.ports[i]);
    if (device != o.ports[i] && device != "\\\\.\\" + o.ports[i])
        label += " -> " + device;
    return label;
}

std::string Labels(const Options& o)
{
    std::string labels;
    for (size_t i = 0; i < o.ports.size(); ++i)
        labels += (i ? ", " : "") + Label(o, i);
    return labels;
}

void Banner(Screen& screen, const Options& o, const ImageInfo& image)
{
    screen.Note(0, "orvane-cli: " + image.name + ", " + std::to_string(image.size) + " bytes, SHA-256 " +
                       image.sha256.substr(0, 16) + "...; " + Labels(o) + " at " + std::to_string(o.rate) + " baud" +
                       (o.station ? "; station: Ctrl+C ends it" : ""));
}

// The codes a unit is run again after (--retries): no answer, no verdict, a
// port that went away.  Never after a 302, an image problem, a wrong model
// or a cancel.
bool Retryable(int code)
{
    return code == kExitNoVerdict || code == kExitNoWake || code == kExitPort;
}

// A port of several that no child ran a unit on (the image, no copy of it,
// no process): shown, logged and reported as a child reports its failures.
void EarlyResult(Screen& screen, const Options& o, const std::string& port, const ImageInfo& image, UnitReport r)
{
    Stamp(&r, o);
    screen.Note(0, port + "  " + r.Result() + " (exit " + std::to_string(r.code) + ")  reason: " + r.reason);
    std::string error;
    if (!o.log.empty() && !AppendLocked(o.log, LogHeader(), LogLine(r, port, image), &error))
        std::fprintf(stderr, "orvane-cli: %s\n", error.c_str());
    if (DeliveryOn() && !(DeliveryPrepare(ResultEvent(r, port, image), &error) && DeliveryCommit(&error)))
        SpoolFailure(screen, o, port, r.attempt, error);
    if (o.json)
        screen.Event(ResultEvent(r, port, image));
}

std::string Counted(int pass, int fail)
{
    return std::to_string(pass + fail) + " units: " + std::to_string(pass) + " PASS, " + std::to_string(fail) + " FAIL";
}

} // namespace

void StartEvent(Screen& screen, const Options& o)
{
    if (!o.json)
        return;
    std::vector<std::string> devices;
    for (const std::string& port : o.ports)
        devices.push_back(PortDevice(port));
    JsonObject options;
    options.Int("rate", (long long)o.rate)
        .Int("normal_rate", (long long)o.normalRate)
        .NumOrNull("verdict_timeout", o.verdictTimeout, 3)
        .NumOrNull("wake_timeout", o.wakeTimeout, 3)
        .Int("retries", o.retries)
        .Bool("station", o.station || o.watch)
        .Bool("check", o.check)
        .StrOrNull("expect_model", ModelName(o.expectModel))
        .StrOrNull("sha256", o.sha256)
        .StrOrNull("log", o.log)
        .StrOrNull("job", o.job);
    JsonObject start = JsonObject::Event("start");
    start.Str("version", ToolVersion())
        .Str("image", o.image)
        .Strs("ports", o.ports)
        .Strs("ports_given", o.portsGiven)
        .Strs("devices", devices);
    if (o.watch) {
        options.Bool("watch", true);
        start.Strs("matches", o.matches);
    }
    screen.Event(start.Raw("options", options.Done()).Done());
}

// Every port's exit code and counts, and the whole run's code.
void SummaryEvent(Screen& screen, bool json, int code, const std::vector<std::string>& ports,
                  const std::vector<int>& codes, const std::vector<int>& pass, const std::vector<int>& fail)
{
    if (!json)
        return;
    JsonArray list;
    int allPass = 0, allFail = 0;
    for (size_t i = 0; i < codes.size(); ++i) {
        list.Add(JsonObject()
            .Str("port", ports[i])
            .Int("code", codes[i])
            .Int("units", pass[i] + fail[i])
            .Int("passed", pass[i])
            .Int("failed", fail[i])
            .Done());
        allPass += pass[i];
        allFail += fail[i];
    }
    JsonObject summary = JsonObject::Event("summary");
    summary.Int("code", code).Int("units", allPass + allFail).Int("passed", allPass).Int("failed", allFail);
    summary.Raw("ports", list.Done());
    if (!DeliverySummaryJson().empty())
        summary.Raw("delivery", DeliverySummaryJson());
    screen.Event(summary.Done());
}

int RunPort(const Options& options, Screen& screen)
{
    Options o = options;
    if (!o.child)
        o.adapter = AdapterIdentity(o.ports[0], ListPorts(false));
    ImageInfo image;
    image.name = o.imageName.empty() ? BaseName(o.image) : o.imageName;
    UnitContext c;
    c.options = &o;
    c.image = &image;
    c.screen = &screen;
    c.port = o.ports[0];
    // A unit's end: its flags worked out with the log locked (an id is
    // repeated when this bench's log has it already, whoever wrote it), the
    // log line, then what is shown.
    SeenIds seen;
    const bool idsInUse = !o.unitId.empty() || !o.unitIdFrom.empty();
    std::string device;   // what the port was when opened: a link may be gone by the unit's end
    auto finish = [&](UnitReport r) {
        Stamp(&r, o);
        r.device = device;
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
        // The record is written to the spool with the log locked, and
        // renamed into its queue once the log line is there.
        std::string error, spoolError;
        bool prepared = false;
        auto prepare = [&] {
            if (DeliveryOn() && !prepared && spoolError.empty() &&
                !(prepared = DeliveryPrepare(ResultEvent(r, c.port, image), &spoolError)))
                spoolError = spoolError.empty() ? "cannot put the record in the spool" : spoolError;
        };
        if (!o.log.empty() &&
            !AppendLockedAfter(o.log, LogHeader(), &seen.logOffset,
                               [&](const std::string& line) { seen.FromLog(line, o.bench); },
                               [&] {
                                   flag();
                                   prepare();
                                   return LogLine(r, c.port, image);
                               },
                               &error))
            std::fprintf(stderr, "orvane-cli: %s\n", error.c_str());
        if (!flagged)
            flag();
        prepare();
        if (prepared)
            DeliveryCommit(&spoolError);
        ShowReport(c, r);
        if (!spoolError.empty())
            SpoolFailure(screen, o, c.port, r.attempt, spoolError);
        ShowNotices(screen);
    };
    // A run of one port in this process says how the run went itself.
    auto done = [&](int code) {
        if (code == kExitInstalled && DeliveryPutFailed())
            code = kExitDelivery;
        if (!o.child) {
            EndDelivery(screen);
            SummaryEvent(screen, o.json, code, o.ports, {code}, {c.pass}, {c.fail});
        }
        return code;
    };
    if (!o.child)
        StartEvent(screen, o);
    if (!BeginDelivery(screen, o))
        return done(kExitUsage);

    std::string error, reasonCode;
    if (!InspectImage(o.image, o.sha256, &image, &error, &reasonCode)) {
        finish(EarlyFailure(kExitImage, error, reasonCode));
        return done(kExitImage);
    }
    if (!o.child)
        Banner(screen, o, image);
    UnitIds ids;
    if (!o.unitIdFrom.empty()) {
        if (!ids.Open(UnitIdPath(o, c.port), &error)) {
            screen.Note(0, c.port + "  " + error);
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
        finish(EarlyFailure(kExitPort, c.hDlg == NULL ? "cannot make the port's record" : error, "port_open"));
        PortDetach();
        return done(kExitPort);
    }
    device = PortDevice(c.port);

    int code = kExitInstalled;
    auto summary = [&] {
        if (o.station && !o.watched)   // --watch's parent sums every station of the port up
            screen.Note(0, c.port + "  station: " + Counted(c.pass, c.fail));
    };
    c.stopNow = [&](const UnitReport& r) {
        finish(r);
        summary();
        done(code == kExitInstalled ? kExitCancelled : code);
        screen.Close();
        QuitNow(code == kExitInstalled ? kExitCancelled : code);
    };
    bool stationEnded = false;
    while (!stationEnded) {
        // One unit: its attempts, each from the wake-up.
        const int interrupts = Interrupts();
        UnitReport r;
        c.unitId = o.unitId;
        c.idKnown = !o.unitId.empty();
        c.flags.clear();
        for (c.attempt = 1;; ++c.attempt) {
            if (c.attempt > 1 && PortGone()) {
                // The same port again (an adapter plugged back in, a line
                // that is there again).
                PortClose();
                if (!PortOpen(&error)) {
                    r = EarlyFailure(kExitPort, error, "port_open");
                    r.attempt = c.attempt;
                    finish(r);
                    break;
                }
            }
            r = RunUnit(c);
            if (!r.unit) {
                stationEnded = true;   // Ctrl+C while a station waited for the next unit
                break;
            }
            finish(r);
            // Under --watch a port that went away is not opened again: it
            // gets a new station when it is back.
            if (c.attempt > o.retries || !Retryable(r.code) || Interrupts() > interrupts || (o.watched && PortGone()))
                break;
            screen.Note(0, c.port + "  retrying: attempt " + std::to_string(c.attempt + 1) + " of " +
                               std::to_string(o.retries + 1) + ", from the wake-up");
        }
        if (stationEnded)
            break;
        if (r.code == kExitInstalled)
            ++c.pass;
        else if (r.code != kExitCancelled)
            ++c.fail;
        if (code == kExitInstalled)
            code = r.code;
        screen.Counts(c.pass, c.fail);
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

int RunPorts(const Options& options)
{
    Options o = options;
    const size_t n = o.ports.size();
    const Screen::Mode mode = ConsoleCursorMoves() && !o.json ? Screen::kTerminal : Screen::kPlain;
    Screen screen(mode, int(n), ConsoleWidth(), o.json ? stderr : stdout);

    StartEvent(screen, o);
    if (!BeginDelivery(screen, o)) {
        SummaryEvent(screen, o.json, kExitUsage, o.ports, std::vector<int>(n, kExitUsage), std::vector<int>(n, 0),
                     std::vector<int>(n, 0));
        return kExitUsage;
    }
    ImageInfo image;
    image.name = o.imageName = BaseName(o.image);
    std::string error, reasonCode;
    if (!InspectImage(o.image, o.sha256, &image, &error, &reasonCode)) {
        for (const std::string& port : o.ports)
            EarlyResult(screen, o, port, image, EarlyFailure(kExitImage, error, reasonCode));
        EndDelivery(screen);
        SummaryEvent(screen, o.json, kExitImage, o.ports, std::vector<int>(n, kExitImage), std::vector<int>(n, 0),
                     std::vector<int>(n, 1));
        return kExitImage;
    }
    Banner(screen, o, image);

    // Each child sends its own copy: orvane.exe opens the image for sending
    // without sharing, so two processes cannot send one file at once.
    const std::string folder = MakeTempFolder();
    const std::vector<PortInfo> known = ListPorts(false);
    Children children;
    std::vector<int> codes(n, -1);
    std::vector<int> pass(n, 0), fail(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const std::string copy = folder + "/port" + std::to_string(i + 1) + ".bin";
        if (folder.empty() || !CopyImage(o.image, copy)) {
            codes[i] = kExitImage;
            EarlyResult(screen, o, o.ports[i], image,
                        EarlyFailure(kExitImage, "cannot copy the image to a temporary folder", "image_unreadable"));
        } else if (o.adapter = AdapterIdentity(o.ports[i], known), !children.Start(ChildArguments(o, o.ports[i], copy))) {
            codes[i] = kExitPort;
            EarlyResult(screen, o, o.ports[i], image,
                        EarlyFailure(kExitPort, "cannot start a process for the port", "port_open"));
        } else {
            codes[i] = -2;   // running
        }
    }
    // Children are numbered in the order they started.
    std::vector<size_t> portOf;
    for (size_t i = 0; i < n; ++i)
        if (codes[i] == -2)
            portOf.push_back(i);

    int interrupts = 0;
    while (children.Running()) {
        children.Poll(
            50,
            [&](int child, const std::string& line) {
                const size_t i = portOf[size_t(child)];
                if (screen.FromChild(int(i), line, &pass[i], &fail[i]))
                    DeliveryWake();   // a unit ended: its record waits
            },
            [&](int child, int code) { codes[portOf[size_t(child)]] = code; });
        ShowNotices(screen);
        if (Interrupts() > interrupts) {
            interrupts = Interrupts();
            children.Interrupt();
        }
    }
    screen.Close();
    if (!folder.empty())
        RemoveTree(folder);

    int code = kExitInstalled;
    std::string results;
    int allPass = 0, allFail = 0;
    for (size_t i = 0; i < n; ++i) {
        if (code == kExitInstalled)
            code = codes[i];
        results += (i ? ", " : "") + o.ports[i] + " " + (codes[i] == 0 ? "PASS" : "exit " + std::to_string(codes[i]));
        allPass += pass[i];
        allFail += fail[i];
    }
    EndDelivery(screen);
    screen.Note(0, "orvane-cli: " + results + (o.station ? "; station: " + Counted(allPass, allFail) : "") +
                       "; exit " + std::to_string(code));
    SummaryEvent(screen, o.json, code, o.ports, codes, pass, fail);
    return code;
}

int RunCheck(const Options& o)
{
    Screen screen(Screen::kPlain, 1, ConsoleWidth(), o.json ? stderr : stdout);
    StartEvent(screen, o);
    int code = kExitInstalled;
    std::vector<std::string> problems, warnings;
    ImageInfo image;
    image.name = BaseName(o.image);
    std::string error, reasonCode;
    const bool imageOk = InspectImage(o.image, o.sha256, &image, &error, &reasonCode);
    if (!imageOk) {
        code = kExitImage;
        problems.push_back(error);
    } else {
        const std::string large = ImageTooLarge(image, o.expectModel);
        if (!large.empty())
            warnings.push_back(large);
    }
    screen.Note(0, "orvane-cli --check: " + image.name + ", " +
                       (image.size ? std::to_string(image.size) + " bytes, SHA-256 " + image.sha256 : "unreadable") +
                       (o.sha256.empty() ? "" : image.sha256 == o.sha256 ? " (matches --sha256)" : " (not --sha256's)"));
    screen.Note(0, "  installation rate " + std::to_string(o.rate) + " baud, normal rate " +
                       std::to_string(o.normalRate) + " baud" +
                       (o.expectModel ? std::string(", expecting an ") + ModelName(o.expectModel) : "") +
                       (o.retries ? ", up to " + std::to_string(o.retries) + " retries" : "") +
                       (o.station ? ", as a station" : ""));
    JsonArray ports;
    std::vector<int> codes;
    for (size_t i = 0; i < o.ports.size(); ++i) {
        std::string why;
        const bool present = PortPresent(o.ports[i], &why);
        codes.push_back(!imageOk ? kExitImage : present ? kExitInstalled : kExitPort);
        screen.Note(0, "  port " + Label(o, i) + (present ? "" : ": " + why));
        if (!present) {
            problems.push_back(o.ports[i] + ": " + why);
            if (code == kExitInstalled)
                code = kExitPort;
        }
        ports.Add(JsonObject()
            .Str("port", o.ports[i])
            .Str("given", i < o.portsGiven.size() ? o.portsGiven[i] : o.ports[i])
            .Str("device", PortDevice(o.ports[i]))
            .Bool("present", present)
            .Done());
    }
    for (const std::string& w : warnings)
        screen.Note(0, "  warning: " + w);
    for (const std::string& p : problems)
        screen.Note(0, "  problem: " + p);
    screen.Note(0, std::string("orvane-cli --check: ") + (code ? "would not run" : "would run") + "; nothing was sent; exit " +
                       std::to_string(code));
    if (o.json) {
        screen.Event(JsonObject::Event("check")
                         .Int("code", code)
                         .Str("image", image.name)
                         .Int("size", (long long)image.size)
                         .StrOrNull("sha256", image.sha256)
                         .Int("rate", (long long)o.rate)
                         .Int("normal_rate", (long long)o.normalRate)
                         .StrOrNull("expect_model", ModelName(o.expectModel))
                         .Raw("ports", ports.Done())
                         .Strs("warnings", warnings)
                         .Strs("problems", problems)
                         .Done());
        SummaryEvent(screen, o.json, code, o.ports, codes, std::vector<int>(codes.size(), 0),
                     std::vector<int>(codes.size(), 0));
    }
    return code;
}

int ListPortsCommand(bool json)
{
    const std::vector<PortInfo> ports = ListPorts();
    for (const PortInfo& p : ports)
        std::printf("%s\n", (json ? PortEvent(p) : PortText(p)).c_str());
    if (!json && ports.empty())
        std::printf("no serial ports\n");
    return kExitInstalled;
}
