#include "orvane/cli/options.h"

#include <cstdlib>
#include <cstring>

namespace {

bool ParseSeconds(const std::string& text, double* seconds)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value > 0) || value > 86400)
        return false;
    *seconds = value;
    return true;
}

bool ParseRate(const std::string& text, unsigned long first, unsigned long second, unsigned long* rate)
{
    const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
    if (text != std::to_string(value) || (value != first && value != second))
        return false;
    *rate = value;
    return true;
}

std::vector<std::string> SplitPorts(const std::string& text)
{
    std::vector<std::string> ports;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        ports.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return ports;
        start = comma + 1;
    }
}

// orvane.exe's port link opens "COM" and the record's port number, 1 to 9.
bool PortNameOk(const std::string& port)
{
#ifdef _WIN32
    return port.size() == 4 && (port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0) &&
           port[3] >= '1' && port[3] <= '9';
#else
    return !port.empty();
#endif
}

std::string Seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            o->help = true;
            return true;
        }
        if (name == "--version") {
            o->version = true;
            return true;
        }
        if (name == "--station") {
            o->station = true;
            continue;
        }
        if (name == "--child") {
            o->child = true;
            continue;
        }
        const bool takesValue = name == "--port" || name == "--image" || name == "--rate" ||
                                name == "--normal-rate" || name == "--verdict-timeout" ||
                                name == "--wake-timeout" || name == "--log" || name == "--image-name";
        if (!takesValue) {
            *error = "unknown option " + name;
            return false;
        }
        if (i + 1 == args.size()) {
            *error = name + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (name == "--port") {
            o->ports = SplitPorts(value);
            for (const std::string& port : o->ports)
                if (!PortNameOk(port)) {
#ifdef _WIN32
                    *error = "--port takes COM1 to COM9, not \"" + port + "\"";
#else
                    *error = "--port: an empty port name in \"" + value + "\"";
#endif
                    return false;
                }
        } else if (name == "--image") {
            o->image = value;
        } else if (name == "--image-name") {
            o->imageName = value;
        } else if (name == "--log") {
            o->log = value;
        } else if (name == "--rate") {
            if (!ParseRate(value, 57600, 115200, &o->rate)) {
                *error = "--rate takes 57600 or 115200, not " + value;
                return false;
            }
        } else if (name == "--normal-rate") {
            if (!ParseRate(value, 19200, 115200, &o->normalRate)) {
                *error = "--normal-rate takes 19200 or 115200, not " + value;
                return false;
            }
        } else if (!ParseSeconds(value, name == "--verdict-timeout" ? &o->verdictTimeout : &o->wakeTimeout)) {
            *error = name + " takes a number of seconds above 0, not " + value;
            return false;
        }
    }
    if (o->ports.empty() || o->image.empty()) {
        *error = o->ports.empty() ? "--port is missing" : "--image is missing";
        return false;
    }
    if (o->child && o->ports.size() != 1) {
        *error = "a child runs one port";
        return false;
    }
    return true;
}

std::vector<std::string> ChildArguments(const Options& o, const std::string& port, const std::string& image)
{
    std::vector<std::string> args = {"--port", port, "--image", image, "--image-name", o.imageName,
                                     "--rate", std::to_string(o.rate), "--normal-rate", std::to_string(o.normalRate)};
    if (o.verdictTimeout > 0)
        args.insert(args.end(), {"--verdict-timeout", Seconds(o.verdictTimeout)});
    if (o.wakeTimeout > 0)
        args.insert(args.end(), {"--wake-timeout", Seconds(o.wakeTimeout)});
    if (!o.log.empty())
        args.insert(args.end(), {"--log", o.log});
    if (o.station)
        args.push_back("--station");
    args.push_back("--child");
    return args;
}

const char* HelpText()
{
    return R"(NAME
    orvane-cli - install a firmware image into MRQ serial-to-LAN modules

SYNOPSIS
    orvane-cli --port PORT[,PORT...] --image FILE [--rate 57600|115200]
               [--normal-rate 19200|115200] [--verdict-timeout SECONDS]
               [--wake-timeout SECONDS] [--log FILE] [--station]
    orvane-cli --help | --version

DESCRIPTION
    orvane-cli does what the Download command of orvane does, from a console:
    it wakes the module's boot monitor with carriage returns, sends "flash"
    and "p 60", sends the image in 1024-byte blocks and waits for the
    module's verdict (101: installed, 302: failed).  It runs the same state
    machine and reply parser as orvane.exe; only the screen differs.

    Each line it prints starts with the port and the seconds since the unit
    started.  While the image is sent a progress line shows the bytes the
    port has taken, the percentage, the rate and the time left; it is
    rewritten in place on a terminal, and printed every 10% when the output
    is a file or a pipe.
    A failure ends with one line that says in which phase it stopped
    (waking the boot monitor, after "flash", preparing ("p 60"), sending
    the image, waiting for the verdict), what the module sent last, and
    what to check.

    Turn the module on after removing its LAN card, as orvane.exe asks.

    With several ports (separated by commas) one orvane-cli process runs
    each port, all at once, and this one shows a line per port.

    Ctrl+C cancels: the module is sent what the dialog's Cancel sends and
    the port returns to the normal rate.  While the image is being sent the
    cancel waits for its end, as the dialog's Cancel button does; a second
    Ctrl+C stops the image at once.

OPTIONS
    --port PORT[,PORT...]
        The serial ports the modules are on: COM1 to COM9 on Windows, a
        terminal device such as /dev/ttyUSB0 on Linux.

    --image FILE
        The firmware image.  It is checked before any port is opened.

    --rate 57600|115200
        The installation rate, at which the boot monitor listens.
        Default 115200.

    --normal-rate 19200|115200
        The normal rate, which the port is opened at and returns to after a
        cancel.  Default 19200.

    --verdict-timeout SECONDS
        How long to wait for the verdict once the image has been written.
        Default: about 5 s (orvane.exe's waiting counter of 500 ticks).

    --wake-timeout SECONDS
        Give up when the module does not answer the wake-up, "flash" or
        "p 60" within SECONDS.  Default: wait as long as it takes, as the
        dialog does.  With --station the wake-up waits for the next unit
        however long it takes; the limit is kept for "flash" and "p 60".

    --log FILE
        Append one CSV line per unit to FILE, with a header when the file
        is new: start (ISO 8601, UTC), port, model (MRQ-520W, MRQ-41,
        MRQ-710F, or empty when the module never said), image, size,
        sha256, duration_s, bytes_per_s, result (PASS, FAIL, CANCELLED),
        reason.  Several processes may append to the same file at once.

    --station
        After each unit wait for the next one on the same port and count
        PASS and FAIL, until Ctrl+C; then print a summary.

    --help
        This text.

    --version
        The version of orvane-cli (and of orvane, which it comes with).

EXIT STATUS
    0   installed (with --station: no unit failed)
    1   the module reported failure (302)
    2   no verdict after the image (the waiting counter expired)
    3   the module did not answer within --wake-timeout
    4   the image file is missing or unreadable ("Creat File Fail")
    5   the port cannot be opened or configured, or it stopped taking the
        image (nothing taken for 5 s, or a write failed): "the port
        stopped taking the image after N of M bytes"
    6   cancelled (Ctrl+C)
    7   the command line is wrong
    With several ports: 0 only if every port passed, otherwise the first
    non-zero code in the order the ports were given.  With --station: the
    code of the first unit that did not pass.

EXAMPLES
    Install one module on the first USB serial adapter:
        orvane-cli --port /dev/ttyUSB0 --image mrq520w-2.4.bin

    Four modules at once at 57600 baud, with a log for the batch:
        orvane-cli --port COM1,COM2,COM3,COM4 --image mrq41.bin --rate 57600 --log batch.csv

    A production bench: one unit after another until Ctrl+C, giving up on
    a unit that stops answering before the image after 10 s:
        orvane-cli --port /dev/ttyUSB0 --image mrq520w.bin --station --wake-timeout 10 --log line3.csv
)";
}
