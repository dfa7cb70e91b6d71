#include "orvane/cli/several.h"

#include "orvane/cli/childport.h"
#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/logfile.h"
#include "orvane/cli/outcome.h"
#include "orvane/cli/ports.h"
#include "orvane/cli/record.h"
#include "orvane/cli/runevents.h"
#include "orvane/cli/station.h"
#include "orvane/cli/system.h"

#include <cstdio>

namespace {

// A port of several that no child ran a unit on (the image, no copy of it,
// no process): shown, logged and reported as a child reports its failures.
void EarlyResult(Screen& screen, const Options& o, const std::string& port, const ImageInfo& image, UnitRecord r)
{
    Stamp(&r, o, port, image);
    screen.Note(0, port + "  " + r.result + " (exit " + std::to_string(r.code) + ")  reason: " + r.reason);
    std::string error;
    if (!o.log.empty() && !AppendLocked(o.log, LogHeader(), LogLine(r), &error))
        LogUnwritten(screen, o, &r, error);
    SpoolRecord(screen, o, r);
    if (o.Events())
        screen.Event(ResultEvent(r));
}

} // namespace

int RunPorts(const Options& options)
{
    Options o = options;
    const size_t n = o.ports.size();
    const Screen::Mode mode = ConsoleCursorMoves() && !o.json ? Screen::kTerminal : Screen::kPlain;
    Screen screen(mode, int(n), ConsoleWidth(), o.json ? stderr : stdout);

    StartEvent(screen, o);
    if (!BeginDelivery(screen, o)) {
        SummaryEvent(screen, o.Events(), kExitUsage, o.ports, std::vector<int>(n, kExitUsage), std::vector<int>(n, 0),
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
        SummaryEvent(screen, o.Events(), kExitImage, o.ports, std::vector<int>(n, kExitImage), std::vector<int>(n, 0),
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
    std::vector<ChildPort> childPorts(n);
    for (size_t i = 0; i < n; ++i) {
        const std::string copy = folder + "/port" + std::to_string(i + 1) + ".bin";
        Options child = o;
        child.adapter = AdapterIdentity(o.ports[i], known);
        if (!UnitIdPath(o, o.ports[i], AdapterSerial(o.ports[i], known), &child.unitIdFrom, &error)) {
            codes[i] = kExitUsage;
            screen.Note(0, "orvane-cli: " + error);
            if (o.Events())
                screen.Event(ErrorEvent(kExitUsage, error));
        } else if (folder.empty() || !CopyImage(o.image, copy)) {
            codes[i] = kExitImage;
            EarlyResult(screen, o, o.ports[i], image,
                        EarlyFailure(kExitImage, "cannot copy the image to a temporary folder", "image_unreadable"));
            ++fail[i];
        } else if (!children.Start(ChildArguments(child, o.ports[i], copy))) {
            codes[i] = kExitPort;
            EarlyResult(screen, o, o.ports[i], image,
                        EarlyFailure(kExitPort, "cannot start a process for the port", "port_open"));
            ++fail[i];
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
                if (!childPorts[i].Take(line) && screen.FromChild(int(i), line, &pass[i], &fail[i]))
                    DeliveryWake();   // a unit ended: its record waits
            },
            [&](int child, int code) {
                const size_t i = portOf[size_t(child)];
                codes[i] = childPorts[i].Ended(code, screen, int(i), o, &pass[i], &fail[i]);
            });
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
    SummaryEvent(screen, o.Events(), code, o.ports, codes, pass, fail);
    return code;
}
