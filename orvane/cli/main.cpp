// orvane-cli: orvane's firmware download from a console, for production
// benches and scripts.  See docs/cli.md.
#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/options.h"
#include "orvane/cli/ports.h"
#include "orvane/cli/session.h"
#include "orvane/cli/system.h"
#include "orvane/version.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "report")
        return RunReport(std::vector<std::string>(argv + 2, argv + argc));
    if (argc > 1 && std::string(argv[1]) == "deliver")
        return RunDeliver(std::vector<std::string>(argv + 2, argv + argc));
    Options options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::fprintf(stderr, "orvane-cli: %s (orvane-cli --help tells more)\n", error.c_str());
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
            std::fprintf(stderr, "orvane-cli: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    if (options.check)
        return RunCheck(options);

    CatchInterrupts();
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
