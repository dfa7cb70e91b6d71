// Running the units.  Every port has its own process-wide state in the
// installer core (phase, parser buffers, hTTYWnd), so one process runs one
// port; with several ports this process starts a child per port and shows
// their lines, one changing line per port.
#include "orvane/cli/session.h"

#include "orvane/cli/port.h"
#include "orvane/cli/system.h"
#include "orvane/cli/unit.h"

#include <cstdio>

namespace {

void Banner(Screen& screen, const std::string& ports, const Options& o, const ImageInfo& image)
{
    screen.Note(0, "orvane-cli: " + image.name + ", " + std::to_string(image.size) + " bytes, SHA-256 " +
                       image.sha256.substr(0, 16) + "...; " + ports + " at " + std::to_string(o.rate) + " baud" +
                       (o.station ? "; station: Ctrl+C ends it" : ""));
}

void WriteLog(const Options& o, const UnitReport& r, const std::string& port, const ImageInfo& image)
{
    std::string error;
    if (!o.log.empty() && !AppendLocked(o.log, LogHeader(), LogLine(r, port, image), &error))
        std::fprintf(stderr, "orvane-cli: %s\n", error.c_str());
}

std::string Counted(int pass, int fail)
{
    return std::to_string(pass + fail) + " units: " + std::to_string(pass) + " PASS, " + std::to_string(fail) + " FAIL";
}

} // namespace

int RunPort(const Options& o, Screen& screen)
{
    ImageInfo image;
    image.name = o.imageName.empty() ? BaseName(o.image) : o.imageName;
    UnitContext c;
    c.options = &o;
    c.image = &image;
    c.screen = &screen;
    c.port = o.ports[0];
    auto finish = [&](const UnitReport& r) {
        ShowReport(c, r);
        WriteLog(o, r, c.port, image);
    };

    std::string error;
    if (!InspectImage(o.image, &image, &error)) {
        finish(EarlyFailure(kExitImage, error));
        return kExitImage;
    }
    if (!o.child)
        Banner(screen, c.port, o, image);
    c.hDlg = PortAttach(c.port, o.normalRate, o.rate);
    PortSetTap(TapReceived);
    if (c.hDlg == NULL || !PortOpen(&error)) {
        finish(EarlyFailure(kExitPort, c.hDlg == NULL ? "cannot make the port's record" : error));
        PortDetach();
        return kExitPort;
    }

    int code = kExitInstalled;
    auto summary = [&] {
        if (o.station)
            screen.Note(0, c.port + "  station: " + Counted(c.pass, c.fail));
    };
    c.stopNow = [&](const UnitReport& r) {
        finish(r);
        summary();
        screen.Close();
        QuitNow(code == kExitInstalled ? kExitCancelled : code);
    };
    for (;;) {
        const UnitReport r = RunUnit(c);
        if (!r.unit)
            break;   // Ctrl+C while a station waited for the next unit
        finish(r);
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
    PortClose();
    PortDetach();
    screen.Close();
    return code;
}

int RunPorts(const Options& options)
{
    Options o = options;
    const size_t n = o.ports.size();
    std::string ports;
    for (const std::string& p : o.ports)
        ports += (ports.empty() ? "" : ",") + p;
    const Screen::Mode mode = ConsoleCursorMoves() ? Screen::kTerminal : Screen::kPlain;
    Screen screen(mode, int(n), ConsoleWidth());

    ImageInfo image;
    image.name = o.imageName = BaseName(o.image);
    std::string error;
    if (!InspectImage(o.image, &image, &error)) {
        for (const std::string& port : o.ports) {
            const UnitReport r = EarlyFailure(kExitImage, error);
            screen.Note(0, port + "  " + r.Result() + " (exit 4)  reason: " + r.reason);
            WriteLog(o, r, port, image);
        }
        return kExitImage;
    }
    Banner(screen, ports, o, image);

    // Each child sends its own copy: orvane.exe opens the image for sending
    // without sharing, so two processes cannot send one file at once.
    const std::string folder = MakeTempFolder();
    Children children;
    std::vector<int> codes(n, -1);
    std::vector<int> pass(n, 0), fail(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const std::string copy = folder + "/port" + std::to_string(i + 1) + ".bin";
        if (folder.empty() || !CopyImage(o.image, copy)) {
            screen.Note(0, o.ports[i] + "  FAIL (exit 4)  reason: cannot copy the image to a temporary folder");
            codes[i] = kExitImage;
        } else if (!children.Start(ChildArguments(o, o.ports[i], copy))) {
            screen.Note(0, o.ports[i] + "  FAIL (exit 5)  reason: cannot start a process for the port");
            codes[i] = kExitPort;
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
                screen.FromChild(int(i), line, &pass[i], &fail[i]);
            },
            [&](int child, int code) { codes[portOf[size_t(child)]] = code; });
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
    screen.Note(0, "orvane-cli: " + results + (o.station ? "; station: " + Counted(allPass, allFail) : "") +
                       "; exit " + std::to_string(code));
    return code;
}
