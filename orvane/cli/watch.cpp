// --watch: a bench whose adapters come and go.  Every port that --match names
// gets a station (a child process, as with several ports) as soon as it
// appears; the station ends when the port goes away and starts again when it
// is back.  One changing line per port with its running counts, and a line
// with the whole bench's, until Ctrl+C.
#include "orvane/cli/watch.h"

#include "orvane/cli/childport.h"
#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/events.h"
#include "orvane/cli/ports.h"
#include "orvane/cli/system.h"
#include "orvane/cli/image.h"
#include "orvane/cli/runevents.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <cstdlib>
#include <numeric>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;

// How long a station may go on once its port has gone from the list before
// it is told to stop (it notices a port that really went away by itself).
const auto kGoneGrace = std::chrono::seconds(2);

struct WatchedPort
{
    std::string name, device, adapter, serial;
    std::string ids;                // its stations' --unit-id-from
    ChildPort station;              // what its station has under way
    int row = 0;
    bool present = false;
    int child = -1;                 // running: its number; -1 none
    std::string childDevice;        // the device its station opened
    bool childGone = false;         // its station said the port went away
    bool stopped = false;           // ended on its own: not again until the port comes back
    bool waitForChange = false;     // ended with the port gone: again once it has gone from the list, or is another device
    bool interrupted = false;
    bool absentSinceStart = false;  // gone from the list since its station started (a pty number comes back)
    Clock::time_point goneSince;
    int pass = 0, fail = 0;         // of stations that have ended
    int childPass = 0, childFail = 0;
    int code = 0;                   // the first unit that did not pass
    int Pass() const { return pass + childPass; }
    int Fail() const { return fail + childFail; }
};

// The folders to follow for the matches (Linux): the system's device
// folders, and the folder of each pattern that is a path.
std::vector<std::string> Folders(const Options& o)
{
#ifdef _WIN32
    (void)o;
    return {};
#else
    const char* rootEnv = std::getenv("ORVANE_CLI_SYSROOT");
    const std::string root = rootEnv ? rootEnv : "";
    std::vector<std::string> folders = {root + "/dev", root + "/dev/serial", root + "/dev/serial/by-id",
                                        root + "/dev/serial/by-path"};
    for (const std::string& m : o.matches) {
        const size_t slash = m.find_last_of('/');
        if (!IsIdentity(m) && slash != std::string::npos)
            folders.push_back(slash == 0 ? "/" : m.substr(0, slash));
    }
    return folders;
#endif
}

std::string PassFail(int pass, int fail)
{
    return "PASS " + std::to_string(pass) + " FAIL " + std::to_string(fail);
}

} // namespace

// The ports that match now, each under the name it matched by: a path
// pattern's own path (a link in a bench's folder), otherwise the port's name.
// One port reached by two names is taken once.
std::vector<PortInfo> MatchingPorts(const Options& o)
{
    const std::vector<PortInfo> all = ListPorts(false);
    std::vector<PortInfo> found;
    std::set<std::string> devices;
    auto take = [&](PortInfo p, const std::string& name) {
        const std::string device = PortDevice(name);
        if (!devices.insert(device).second)
            return;
        p.name = name;
        found.push_back(p);
    };
    for (const std::string& m : o.matches) {
        if (!IsIdentity(m))
            for (const std::string& path : PathsMatching(m)) {
                std::string why;
                if (!PortPresent(path, &why))
                    continue;
                PortInfo p;
                p.kind = "other";
                const std::string device = PortDevice(path);
                for (const PortInfo& q : all)
                    if (PortDevice(q.name) == device)
                        p = q;
                take(p, path);
            }
        for (const PortInfo& p : all)
            if (MatchesPort(m, p))
                take(p, p.name);
    }
    return found;
}

int RunWatch(const Options& options)
{
    Options o = options;
    const Screen::Mode mode = ConsoleCursorMoves() && !o.json ? Screen::kTerminal : Screen::kPlain;
    Screen screen(mode, 1, ConsoleWidth(), o.json ? stderr : stdout);
    std::string matches;
    for (const std::string& m : o.matches)
        matches += (matches.empty() ? "" : ", ") + m;

    ImageInfo image;
    image.name = o.imageName = BaseName(o.image);
    std::string error, reasonCode;
    StartEvent(screen, o);
    auto summary = [&](int code, const std::vector<WatchedPort>& ports) {
        std::vector<std::string> names;
        std::vector<int> codes, passes, fails;
        for (const WatchedPort& p : ports) {
            names.push_back(p.name);
            codes.push_back(p.code);
            passes.push_back(p.Pass());
            fails.push_back(p.Fail());
            screen.Note(0, "orvane-cli: " + p.name + "  " + std::to_string(p.Pass() + p.Fail()) + " units: " +
                               PassFail(p.Pass(), p.Fail()));
        }
        const int pass = std::accumulate(passes.begin(), passes.end(), 0);
        const int fail = std::accumulate(fails.begin(), fails.end(), 0);
        screen.Note(0, "orvane-cli: watched " + matches + "; " + std::to_string(ports.size()) + " ports, " +
                           std::to_string(pass + fail) + " units: " + PassFail(pass, fail) + "; exit " +
                           std::to_string(code));
        SummaryEvent(screen, o.Events(), code, names, codes, passes, fails);
    };
    if (!BeginDelivery(screen, o)) {
        summary(kExitUsage, {});
        return kExitUsage;
    }
    if (!InspectImage(o.image, o.sha256, &image, &error, &reasonCode)) {
        screen.Note(0, "orvane-cli: FAIL (exit 4)  reason: " + error);
        EndDelivery(screen);
        summary(kExitImage, {});
        return kExitImage;
    }
    screen.Note(0, "orvane-cli: " + image.name + ", " + std::to_string(image.size) + " bytes, SHA-256 " +
                       image.sha256.substr(0, 16) + "...; watching " + matches + " at " + std::to_string(o.rate) +
                       " baud; a station on every port that comes; Ctrl+C ends them all");
    const std::string folder = MakeTempFolder();
    if (folder.empty()) {
        screen.Note(0, "orvane-cli: FAIL (exit 4)  reason: cannot make a temporary folder for the image");
        EndDelivery(screen);
        summary(kExitImage, {});
        return kExitImage;
    }

    // The run's code: the first unit that did not pass, on whichever port, as
    // the stations say so.
    int code = kExitInstalled;
    auto failed = [&](int unitCode) {
        if (code == kExitInstalled)
            code = unitCode;
    };
    std::vector<WatchedPort> ports;
    // Where each file of unit ids stands, for the next station that reads it.
    std::map<std::string, std::pair<uint64_t, long>> idsAt;
    std::vector<size_t> portOf;   // child -> port
    Children children;
    FolderWatch watch;
    int interrupts = Interrupts();
    bool ending = false;

    auto totals = [&] {
        int pass = 0, fail = 0;
        for (const WatchedPort& p : ports) {
            pass += p.Pass();
            fail += p.Fail();
        }
        return "watching " + matches + ": " + std::to_string(ports.size()) + " ports  all " + PassFail(pass, fail);
    };
    auto show = [&](const WatchedPort& p, const std::string& what) {
        screen.Live(p.row, p.name + "  " + PassFail(p.Pass(), p.Fail()) + "  " + what);
        screen.Live(0, totals());
    };
    // A station that cannot run for the bench's options (its unit ids cannot
    // be read): every station ends, as on Ctrl+C, and the run says why and
    // exits 7, rather than wait with no station able to run.
    auto cannotRun = [&](WatchedPort& p, const std::string& why) {
        screen.Note(0, "orvane-cli: " + p.name + ": " + why + "; every station ends (exit 7)");
        if (o.Events())
            screen.Event(ErrorEvent(kExitUsage, p.name + ": " + why + "; every station ends"));
        p.stopped = true;
        if (p.code == kExitInstalled)
            p.code = kExitUsage;
        failed(kExitUsage);
        if (!ending)
            children.Interrupt();
        ending = true;
    };
    auto start = [&](WatchedPort& p) {
        const std::string copy = folder + "/port" + std::to_string(p.row) + ".bin";
        Options child = o;
        child.adapter = p.adapter;
        std::string why;
        if (!UnitIdPath(o, p.name, p.serial, &p.ids, &why)) {
            cannotRun(p, why);
            return;
        }
        child.unitIdFrom = p.ids;
        const auto at = idsAt.find(p.ids);
        child.idsAt = at != idsAt.end();
        if (child.idsAt) {
            child.idsOffset = at->second.first;
            child.idsLine = at->second.second;
        }
        p.childDevice = p.device;
        p.childGone = p.interrupted = p.waitForChange = p.absentSinceStart = false;
        p.childPass = p.childFail = 0;
        p.station = ChildPort();
        if (!CopyImage(o.image, copy) || !children.Start(ChildArguments(child, p.name, copy))) {
            screen.Note(0, p.name + "  cannot start its station; it is tried again when the port comes back");
            p.stopped = true;
            return;
        }
        p.child = int(portOf.size());
        portOf.push_back(size_t(&p - ports.data()));
        show(p, "station started");
    };

    bool look = true;
    while (!ending || children.Running()) {
        if (look && !ending) {
            look = false;
            watch.Follow(Folders(o));
            const std::vector<PortInfo> now = MatchingPorts(o);
            for (WatchedPort& p : ports) {
                const auto it = std::find_if(now.begin(), now.end(), [&](const PortInfo& q) { return q.name == p.name; });
                const bool present = it != now.end();
                const std::string device = present ? PortDevice(p.name) : std::string();
                if (p.present && !present) {
                    p.goneSince = Clock::now();
                    screen.Note(0, "orvane-cli: - " + p.name + " went away; " + PassFail(p.Pass(), p.Fail()));
                    if (o.Events())
                        screen.Event(JsonObject::Event("port_removed")
                                         .Str("port", p.name)
                                         .Int("units", p.Pass() + p.Fail())
                                         .Int("passed", p.Pass())
                                         .Int("failed", p.Fail())
                                         .Done());
                    show(p, "gone");
                    p.stopped = p.waitForChange = false;
                    p.absentSinceStart = true;
                } else if (!p.present && present) {
                    p.adapter = AdapterIdentity(it->name, {*it});
                    p.serial = AdapterSerial(it->name, {*it});
                }
                p.present = present;
                p.device = device;
            }
            for (const PortInfo& q : now)
                if (std::none_of(ports.begin(), ports.end(), [&](const WatchedPort& p) { return p.name == q.name; })) {
                    WatchedPort p;
                    p.name = q.name;
                    p.device = PortDevice(q.name);
                    p.adapter = AdapterIdentity(q.name, {q});
                    p.serial = AdapterSerial(q.name, {q});
                    p.present = true;
                    p.row = screen.AddRow();
                    ports.push_back(p);
                }
            for (WatchedPort& p : ports) {
                if (!p.present || p.child >= 0 || p.stopped)
                    continue;
                if (!p.waitForChange || p.device != p.childDevice) {
                    screen.Note(0, "orvane-cli: + " + p.name + (p.device != p.name ? " -> " + p.device : "") +
                                       (p.adapter.empty() ? "" : " (adapter " + p.adapter + ")"));
                    if (o.Events())
                        screen.Event(JsonObject::Event("port_added")
                                         .Str("port", p.name)
                                         .Str("device", p.device)
                                         .StrOrNull("adapter", p.adapter)
                                         .Done());
                    start(p);
                }
            }
        }

        if (children.Running()) {
            children.Poll(
                50,
                [&](int child, const std::string& line) {
                    WatchedPort& p = ports[portOf[size_t(child)]];
                    if (Screen::IsGone(line)) {
                        p.childGone = true;
                        return;
                    }
                    std::string at;
                    if (Screen::TagOf(line, Screen::kTagIdsAt, &at)) {
                        unsigned long long offset = 0;
                        long number = 0;
                        if (std::sscanf(at.c_str(), "%llu %ld", &offset, &number) == 2)
                            idsAt[p.ids] = {offset, number};
                        return;
                    }
                    const bool taken = p.station.Take(line);
                    if (p.station.FirstCode() != kExitInstalled)
                        failed(p.station.FirstCode());
                    if (taken)
                        return;
                    if (!line.empty() && (line[0] == 'L' || line[0] == 'M') && line.size() > 2) {
                        // The station's changing line, with the port's counts
                        // over every station it has had.
                        std::string text = line.substr(2);
                        if (text.rfind(p.name + "  ", 0) == 0)
                            text = text.substr(p.name.size() + 2);
                        screen.Live(p.row, p.name + "  " + PassFail(p.Pass(), p.Fail()) + "  " + text, line[0] == 'M');
                        return;
                    }
                    if (screen.FromChild(p.row, line, &p.childPass, &p.childFail)) {
                        DeliveryWake();   // a unit ended: its record waits
                        show(p, "");
                        if (mode == Screen::kPlain && !o.json)
                            screen.Note(0, p.name + "  " + PassFail(p.Pass(), p.Fail()) + "; " + totals());
                    }
                },
                [&](int child, int exitCode) {
                    WatchedPort& p = ports[portOf[size_t(child)]];
                    const int stationCode = p.station.Ended(exitCode, screen, p.row, o, &p.childPass, &p.childFail);
                    const int failedUnits = p.childFail;
                    p.child = -1;
                    p.pass += p.childPass;
                    p.fail += p.childFail;
                    p.childPass = p.childFail = 0;
                    // A station that ended because its port went away, with
                    // no unit failed, says nothing about the units.
                    if (p.code == 0 && stationCode != 0 && !(p.childGone && stationCode == kExitPort && failedUnits == 0))
                        p.code = stationCode;
                    if (p.code != kExitInstalled)
                        failed(p.code);
                    if (p.childGone || !p.present) {
                        // Still listed (the list lags): not again on the same
                        // device until it has gone from the list.
                        p.waitForChange = p.present && !p.absentSinceStart;
                        show(p, "gone");
                    } else if (stationCode == kExitUsage) {
                        cannotRun(p, "its station cannot run");
                    } else if (!ending) {
                        p.stopped = true;
                        screen.Note(0, "orvane-cli: " + p.name + ": its station ended (exit " + std::to_string(stationCode) +
                                           "); it starts again when the port comes back");
                        show(p, "stopped (exit " + std::to_string(stationCode) + ")");
                    }
                    look = true;
                });
            look = watch.Wait(0) || look;
        } else if (!ending) {
            look = watch.Wait(1000) || look;
        }
        ShowNotices(screen);
        for (WatchedPort& p : ports)
            if (p.child >= 0 && !p.present && !p.interrupted && Clock::now() - p.goneSince > kGoneGrace) {
                p.interrupted = true;
                children.Interrupt(p.child);
            }
        if (Interrupts() > interrupts) {
            interrupts = Interrupts();
            if (!ending)
                screen.Note(0, "orvane-cli: Ctrl+C: every station ends");
            ending = true;
            children.Interrupt();
        }
    }
    screen.Close();
    RemoveTree(folder);
    EndDelivery(screen);

    summary(code, ports);
    return code;
}
