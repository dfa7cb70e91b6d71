// orvane-cli: orvane's firmware download from a console, for production
// benches and scripts.  See docs/cli.md.
#include "orvane/cli/options.h"
#include "orvane/cli/session.h"
#include "orvane/cli/system.h"
#include "orvane/version.h"

#include <cstdio>

int main(int argc, char** argv)
{
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
    CatchInterrupts();
    if (options.ports.size() > 1)
        return RunPorts(options);
    const Screen::Mode mode = options.child ? Screen::kChild
                              : ConsoleIsTerminal() ? Screen::kTerminal
                                                    : Screen::kPlain;
    Screen screen(mode, 1, ConsoleWidth());
    return RunPort(options, screen);
}
