// orvane-cli's command line: what it asks for, checked, and the --help text.
#ifndef ORVANE_CLI_OPTIONS_H
#define ORVANE_CLI_OPTIONS_H

#include <string>
#include <utility>
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
    kExitUsage = 7,          // the command line (or the job file) is wrong
    kExitWrongModel = 8      // the module is not the --expect-model one
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
    bool listPorts = false;
    bool json = false;              // events on stdout, the text on stderr
    bool check = false;             // say what would run; open and send nothing
    int retries = 0;                // re-runs after codes 2, 3 and a port gone
    std::string sha256;             // lowercase hex; empty: not checked
    int expectModel = 0;            // nModel's numbering: 1 520W, 2 41, 3 710F; 0 any
    std::string job;                // the job file the options came from, if any
    std::vector<std::string> portsGiven;   // --port as given, before identities were resolved

    // A bench that follows adapters as they come and go (--watch): a station
    // on every port that matches one of these.
    bool watch = false;
    std::vector<std::string> matches;

    // Who and what each unit is, for the log and the result events.
    std::string unitId;          // --unit-id: one unit's id
    std::string unitIdFrom;      // --unit-id-from: a line per unit; {port} stands for the port's name
    std::string operatorName;
    std::string bench;
    std::string imageLabel;      // --image-name

    // Records to the factory's system (deliver/): where they go, where they
    // wait, and the job file's headers (an API token: never shown).
    std::string deliver;         // --deliver URL
    std::string spool;           // --spool, or beside the log
    std::vector<std::pair<std::string, std::string>> deliverHeaders;
    bool allowHttp = false;      // plain HTTP beyond this machine

    // Between a parent and the child it starts for one of several ports.
    bool child = false;
    bool watched = false;        // the child of --watch: a port gone while waiting ends it quietly
    std::string imageName;       // what the log calls the image (the parent's file)
    std::string adapter;         // the adapter's identity, as the parent found it
};

// Reads the arguments (without the program name), after the job file's
// options when --job names one.  On a mistake returns false with a one-line
// reason in *error (for the job file: its name and line).
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// "MRQ-520W" for 1, ... ; "" for 0.
const char* ModelName(int nModelNo);

// The tool's version (start event).
const char* ToolVersion();

// The arguments that make a child run one of the ports with the same options.
std::vector<std::string> ChildArguments(const Options& options, const std::string& port,
                                        const std::string& image);

// --unit-id-from for one port: {port} becomes the port's own name (its last
// path part), so each port of a bench can have a file or FIFO of its own.
std::string UnitIdPath(const Options& options, const std::string& port);

const char* HelpText();

#endif
