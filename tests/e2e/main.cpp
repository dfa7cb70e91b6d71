// The end-to-end driver: plays the user of a running orvane.exe (lib/ is how,
// scenarios/ is what).
//
//   driver.exe ARTEFACT-DIR [--suite NAME]... [--sim PORT] [SCENARIO...]
//
// Runs the named suites and scenarios in the order given (a suite's in the
// order they were registered); every scenario when none is named.  Unless the first of them meets the
// program starting, the driver first attaches to the program running.
// --sim connects to the module simulator's control port.  The exit code is
// the number of failed scenarios, 100 for a wrong command line.
#include "lib/driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

static int Usage(const std::string& why)
{
    fprintf(stderr, "driver: %s\nusage: driver ARTEFACT-DIR [--suite NAME]... [--sim PORT] [SCENARIO...]\n",
            why.c_str());
    return 100;
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage("no artefact folder");
    gArtefacts = argv[1];
    // Suites and scenarios run in the order given; a suite's scenarios in
    // the order they were registered.
    std::vector<Scenario> chosen;
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--suite" && i + 1 < argc) {
            std::string suite = argv[++i];
            size_t before = chosen.size();
            for (const Scenario& sc : Registry())
                if (suite == sc.suite)
                    chosen.push_back(sc);
            if (chosen.size() == before)   // a misspelt name would pass by running nothing
                return Usage("no suite " + suite);
        } else if (arg == "--sim" && i + 1 < argc) {
            if (!SimConnect(atoi(argv[++i])))
                return Usage("no simulator on port " + std::string(argv[i]));
        } else if (arg.rfind("--", 0) == 0) {
            return Usage("unknown option or no value: " + arg);
        } else {
            auto it = std::find_if(Registry().begin(), Registry().end(),
                                   [&](const Scenario& sc) { return arg == sc.name; });
            if (it == Registry().end())
                return Usage("no scenario " + arg);
            chosen.push_back(*it);
        }
    }
    if (chosen.empty())
        chosen = Registry();

    if (!chosen.empty() && !chosen[0].fStarts)
        Attach();
    int failed = 0;
    for (const Scenario& sc : chosen)
        failed += !Run(sc);
    Log("driver: %d passed, %d failed", (int)chosen.size() - failed, failed);
    return failed;
}
