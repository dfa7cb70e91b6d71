// orvane-cli: orvane's firmware download from a console, for production
// benches and scripts.  See docs/cli.md.
#include "orvane/cli/options.h"
#include "orvane/cli/ports.h"
#include "orvane/cli/check.h"
#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/report.h"
#include "orvane/cli/runevents.h"
#include "orvane/cli/serve/serve.h"
#include "orvane/cli/several.h"
#include "orvane/cli/station.h"
#include "orvane/cli/watch.h"
#include "orvane/cli/system.h"
#include "orvane/version.h"

#include <algorithm>
#include <cstdio>

namespace {
int Run(const Options& options);
}

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "report")
        return RunReport(std::vector<std::string>(args.begin() + 1, args.end()));
    if (!args.empty() && args[0] == "deliver")
        return RunDeliver(std::vector<std::string>(args.begin() + 1, args.end()));
    // --json asks for events from the first mistake on.
    const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
    Options options;
    std::string error;
    if (!ParseOptions(args, &options, &error, StartedByParent())) {
        UsageError(json, kExitUsage, error + " (orvane-cli --help tells more)");
        return kExitUsage;
    }
    if (options.version) {
        std::printf("orvane-cli %s\n", ORVANE_VERSION);
        return kExitInstalled;
    }
    if (options.help) {
        std::fputs(HelpText(), stdout);
        return kExitInstalled;
    }
    if (options.listPorts)
        return ListPortsCommand(options.json);

    // Ports named by identity become the one port that has it, before
    // anything else happens; none or several is a mistake, never a guess.
    std::vector<PortInfo> ports;
    bool listed = false;
    for (std::string& port : options.ports) {
        if (options.child || !IsIdentity(port))
            continue;
        if (!listed)
            ports = ListPorts();
        listed = true;
        if (!ResolveIdentity(port, ports, &port, &error)) {
            UsageError(options.json, kExitUsage, error);
            return kExitUsage;
        }
    }
    if (options.check)
        return RunCheck(options);

    CatchInterrupts();
    if (!options.serve.empty() && !options.child) {
        // The bench view: its address is the first thing said.  Its server
        // serves until the process ends, which a served run does at once.
        std::string first;
        if (!StartBenchView(options.serve, &first, &error)) {
            UsageError(options.json, kExitUsage, error);
            return kExitUsage;
        }
        std::fprintf(options.json ? stderr : stdout, "%s\n", first.c_str());
        Screen::EventsTo(BenchViewEvent, options.json);
        std::fflush(stderr);
        const int code = Run(options);
        EndBenchView();
        QuitNow(code);
    }
    return Run(options);
}

namespace {

// One port here, several in children, or a station on every port --watch
// follows.
int Run(const Options& options)
{
    if (options.watch)
        return RunWatch(options);
    if (options.ports.size() > 1)
        return RunPorts(options);
    const Screen::Mode mode = options.child                          ? Screen::kChild
                              : ConsoleIsTerminal() && !options.json ? Screen::kTerminal
                                                                     : Screen::kPlain;
    Screen screen(mode, 1, ConsoleWidth(), options.json && !options.child ? stderr : stdout);
    return RunPort(options, screen);
}

} // namespace
