// Native tests: a module simulator process (MODSIM_PATH), its pty published
// at a link, its control port connected; and starting a program with its
// standard output on a pipe.
#ifndef ORVANE_TESTS_SIMPROCESS_H
#define ORVANE_TESTS_SIMPROCESS_H

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

// Starts args[0] with args; its standard output on *pOut.
pid_t SpawnWithPipe(std::vector<std::string> args, int* pOut);

class SimProcess {
public:
    // The options are the simulator's command line, after --link and the
    // control port (which this adds).
    SimProcess(const std::string& linkPath, std::vector<std::string> options);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    std::string Request(const std::string& line);
    // Asks for the report until it holds text; the last one.
    std::string WaitReport(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(5));
    // "quit", then the exit status.
    int Quit();

    const std::string link;

private:
    pid_t pid_ = -1;
    int control_ = -1;
};

#endif
