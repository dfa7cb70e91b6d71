// orvane-cli's command line: what it asks for, checked, and the --help text.
#ifndef ORVANE_CLI_OPTIONS_H
#define ORVANE_CLI_OPTIONS_H

#include <cstdint>
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
    kExitWrongModel = 8,     // the module is not the --expect-model one
    kExitLog = 9,            // the unit's log line could not be written
    kExitProcessEnded = 10,  // the process running a port ended before its unit's record (killed, crashed)
    kExitDelivery = 11       // a unit's record could not be put in the spool; deliver left records waiting or rejected
};

struct OptionSpec;

// An option in effect, with its value as given (a flag's is "yes" or "no";
// a job file's path already made relative to the job file's folder).
struct GivenOption
{
    const OptionSpec* spec;
    std::string value;
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
    int retries = 0;                // re-runs after codes 2, 3 and 5
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

    // The bench view (--serve [ADDR:]PORT): a page of every slot, served by
    // this process; the slots' names (--slot PORT=NAME, "slot PORT = NAME"
    // in a job file), in the order given.
    std::string serve;
    std::vector<std::pair<std::string, std::string>> slots;
    // Events are made for --json and for the bench view (a served run's
    // children are given --serve, and their events feed the parent's page).
    bool Events() const { return json || !serve.empty(); }
    // Records to the factory's system (deliver/): where they go, where they
    // wait, and the job file's headers (an API token: never shown).
    std::string deliver;         // --deliver URL
    std::string spool;           // --spool, or beside the log
    std::vector<std::pair<std::string, std::string>> deliverHeaders;   // job key deliver-header, repeated
    bool allowHttp = false;      // plain HTTP beyond this machine

    // Between a parent and the child it starts for one of several ports
    // (the child's protocol options, never the user's).
    bool child = false;
    bool watched = false;        // the child of --watch: a port gone while waiting ends it quietly
    std::string imageName;       // what the log calls the image (the parent's file)
    std::string adapter;         // the adapter's identity, as the parent found it
    bool idsMade = false;        // unitIdFrom is the port's own, {port} and {serial} made by the parent
    bool idsAt = false;          // a file of unit ids read on from where the port's last station left it
    uint64_t idsOffset = 0;
    long idsLine = 0;

    // The options in effect, in the order they were applied: what a child
    // is passed on.
    std::vector<GivenOption> given;
};

// Reads the arguments (without the program name), after the job file's
// options when --job names one.  Every option is in one table (options.cpp):
// its kind, its job file key, whether a job file's value is a path, whether
// a child process gets it.  On a mistake returns false with a one-line
// reason in *error (for the job file: its name and line).
// The protocol options between parent and child are taken only fromParent:
// from anyone else they are unknown options.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error, bool fromParent = false);

// Text that may go into a log field and an event: one line, no control
// bytes.
bool OneLineOfText(const std::string& text);

// "MRQ-520W" for 1, ... ; "" for 0.
const char* ModelName(int nModelNo);

// The tool's version (start event).
const char* ToolVersion();

// The arguments that make a child run one of the ports with the same
// options: every option in effect that a child gets, then the port, its copy
// of the image, and the protocol options between parent and child.
std::vector<std::string> ChildArguments(const Options& options, const std::string& port,
                                        const std::string& image);

// --unit-id-from for one port: {port} becomes the port's own name (its last
// path part) and {serial} its adapter's serial number (the same whatever
// port the adapter gets), so each port of a bench can have a file or FIFO of
// its own.  False with the reason when {serial} is asked for and the adapter
// has none.  A child's is its parent's, made already.
bool UnitIdPath(const Options& options, const std::string& port, const std::string& serial, std::string* path,
                std::string* error);

// The --help text (help.cpp).
const char* HelpText();

#endif
