// orvane-cli's command line: what it asks for, checked, and the --help text.
#ifndef ORVANE_CLI_OPTIONS_H
#define ORVANE_CLI_OPTIONS_H

#include <string>
#include <vector>

// The exit codes (documented in --help, README.md and docs/cli.md).
enum ExitCode
{
    kExitInstalled = 0,
    kExitModuleFailed = 1,   // the module answered 302
    kExitNoVerdict = 2,      // nothing after the image within the verdict time
    kExitNoWake = 3,         // no answer within --wake-timeout
    kExitImage = 4,          // the image file: missing, unreadable, "Creat File Fail"
    kExitPort = 5,           // the port cannot be opened or configured
    kExitCancelled = 6,      // Ctrl+C
    kExitUsage = 7           // the command line is wrong
};

struct Options
{
    std::vector<std::string> ports;
    std::string image;
    unsigned long rate = 115200;        // the installation rate (dwBaudRateDown)
    unsigned long normalRate = 19200;   // the normal rate (dwBaudRate)
    double verdictTimeout = 0;          // seconds; 0: the dialog's waiting counter
    double wakeTimeout = 0;             // seconds; 0: wait as long as it takes
    std::string log;
    bool station = false;
    bool help = false;
    bool version = false;

    // Between a parent and the child it starts for one of several ports.
    bool child = false;
    std::string imageName;   // what the log calls the image (the parent's file)
};

// Reads the arguments (without the program name).  On a mistake returns
// false with a one-line reason in *error.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// The arguments that make a child run one of the ports with the same options.
std::vector<std::string> ChildArguments(const Options& options, const std::string& port,
                                        const std::string& image);

const char* HelpText();

#endif
