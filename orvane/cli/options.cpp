#include "orvane/cli/options.h"

#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/ports.h"
#include "orvane/version.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

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

// Windows: COM1 to COM256, opened as \\.\COMn (COM10 and above need it).
// Linux: any terminal device path.  Identities (usb:..., serial:...) are
// resolved later, against the machine's ports.
bool PortNameOk(std::string* port)
{
#ifdef _WIN32
    if (port->size() < 4 || port->size() > 6 || _strnicmp(port->c_str(), "COM", 3) != 0 || (*port)[3] == '0' ||
        port->find_first_not_of("0123456789", 3) != std::string::npos)
        return IsIdentity(*port);
    const int n = std::atoi(port->c_str() + 3);
    *port = "COM" + std::to_string(n);
    return n >= 1 && n <= 256;
#else
    return !port->empty();
#endif
}

std::string Seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

bool ParseModel(const std::string& text, int* model)
{
    std::string name = text;
    if (name.rfind("MRQ-", 0) == 0 || name.rfind("mrq-", 0) == 0)
        name = name.substr(4);
    for (int n = 1; n <= 3; ++n)
        if (name == ModelName(n) + 4 || (n == 1 && name == "520w") || (n == 3 && name == "710f")) {
            *model = n;
            return true;
        }
    return false;
}

bool ParseDigest(const std::string& text, std::string* digest)
{
    if (text.size() != 64 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    *digest = text;
    for (char& c : *digest)
        c = char(std::tolower((unsigned char)c));
    return true;
}

const char* const kValueOptions[] = {
    "--port", "--image", "--rate", "--normal-rate", "--verdict-timeout", "--wake-timeout", "--log", "--image-name",
    "--retries", "--sha256", "--expect-model", "--job", "--match", "--unit-id", "--unit-id-from", "--operator",
    "--bench", "--child-image", "--adapter", "--deliver", "--spool",
};

// Texts that end up in log fields and events: one line, no control bytes.
bool TextOk(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool TakesValue(const std::string& name)
{
    for (const char* o : kValueOptions)
        if (name == o)
            return true;
    return false;
}

// One option with its value; false with the reason.
bool Apply(const std::string& name, const std::string& value, Options* o, std::string* error)
{
    if (name == "--port") {
        o->ports = SplitPorts(value);
        for (std::string& port : o->ports)
            if (!PortNameOk(&port)) {
#ifdef _WIN32
                *error = "--port takes COM1 to COM256, usb:VID:PID[:SERIAL] or serial:SERIAL, not \"" + port + "\"";
#else
                *error = "--port: an empty port name in \"" + value + "\"";
#endif
                return false;
            }
        o->portsGiven = o->ports;
    } else if (name == "--image") {
        o->image = value;
    } else if (name == "--child-image") {
        o->imageName = value;
    } else if (name == "--adapter") {
        o->adapter = value;
    } else if (name == "--match") {
        for (const std::string& match : SplitPorts(value)) {
            if (IsIdentity(match) && !IdentityOk(match, error)) {
                *error = "--match " + *error;
                return false;
            }
            if (!match.empty())
                o->matches.push_back(match);
        }
        if (o->matches.empty()) {
            *error = "--match needs usb:VID:PID[:SERIAL], serial:SERIAL or a pattern, not \"" + value + "\"";
            return false;
        }
    } else if (name == "--unit-id" || name == "--operator" || name == "--bench" || name == "--image-name") {
        if (!TextOk(value) || (name != "--unit-id" && value.empty())) {
            *error = name + " takes a line of text, not \"" + value + "\"";
            return false;
        }
        (name == "--unit-id" ? o->unitId : name == "--operator" ? o->operatorName
                                          : name == "--bench"  ? o->bench
                                                               : o->imageLabel) = value;
    } else if (name == "--unit-id-from") {
        o->unitIdFrom = value;
    } else if (name == "--log") {
        o->log = value;
    } else if (name == "--deliver") {
        o->deliver = value;
    } else if (name == "--spool") {
        o->spool = value;
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
    } else if (name == "--retries") {
        char* end = nullptr;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || n < 0 || n > 100) {
            *error = "--retries takes a number from 0 to 100, not " + value;
            return false;
        }
        o->retries = int(n);
    } else if (name == "--sha256") {
        if (!ParseDigest(value, &o->sha256)) {
            *error = "--sha256 takes the image's SHA-256 as 64 hex digits, not " + value;
            return false;
        }
    } else if (name == "--expect-model") {
        if (!ParseModel(value, &o->expectModel)) {
            *error = "--expect-model takes 520W, 41 or 710F, not " + value;
            return false;
        }
    } else if (!ParseSeconds(value, name == "--verdict-timeout" ? &o->verdictTimeout : &o->wakeTimeout)) {
        *error = name + " takes a number of seconds above 0, not " + value;
        return false;
    }
    return true;
}

// The job file: "key = value" lines, # comments; the keys are the options'
// names without their dashes.  Relative paths are the job file's folder's.
bool LoadJob(const std::string& path, Options* o, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the job file " + path;
        return false;
    }
    const size_t slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    auto relative = [&](const std::string& file) {
        const bool absolute = !file.empty() && (file[0] == '/' || file[0] == '\\' || (file.size() > 1 && file[1] == ':'));
        return absolute ? file : folder + file;
    };
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        auto trim = [](std::string text) {
            const size_t first = text.find_first_not_of(" \t\r");
            const size_t last = text.find_last_not_of(" \t\r");
            return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
        };
        line = trim(line);
        if (line.empty())
            continue;
        const size_t equals = line.find('=');
        const std::string key = trim(line.substr(0, equals));
        const std::string value = equals == std::string::npos ? std::string() : trim(line.substr(equals + 1));
        if (equals == std::string::npos || value.empty()) {
            *error = where + "write \"" + key + " = VALUE\"";
            return false;
        }
        if (key == "station" || key == "watch" || key == "allow-http") {
            if (value != "yes" && value != "no" && value != "true" && value != "false") {
                *error = where + key + " takes yes or no, not " + value;
                return false;
            }
            (key == "station" ? o->station : key == "watch" ? o->watch : o->allowHttp) = value == "yes" || value == "true";
            continue;
        }
        if (key == "deliver-header") {
            // Its value is never repeated: it may be a token.
            std::pair<std::string, std::string> header;
            if (!ParseHeader(value, &header)) {
                *error = where + "deliver-header takes \"Name: value\" on one line";
                return false;
            }
            o->deliverHeaders.push_back(header);
            continue;
        }
        static const char* const kKeys[] = {"image", "sha256", "expect-model", "rate", "normal-rate",
                                            "verdict-timeout", "wake-timeout", "retries", "log", "port", "ports",
                                            "match", "unit-id-from", "operator", "bench", "image-name",
                                            "deliver", "spool"};
        bool known = false;
        for (const char* k : kKeys)
            known = known || key == k;
        if (!known) {
            *error = where + "unknown key \"" + key + "\"";
            return false;
        }
        const std::string name = "--" + (key == "ports" ? std::string("port") : key);
        const bool path = key == "image" || key == "log" || key == "spool" || (key == "unit-id-from" && value != "-");
        if (!Apply(name, path ? relative(value) : value, o, error)) {
            *error = where + *error;
            return false;
        }
    }
    o->job = path;
    return true;
}

} // namespace

const char* ModelName(int nModelNo)
{
    switch (nModelNo) {
    case 1: return "MRQ-520W";
    case 2: return "MRQ-41";
    case 3: return "MRQ-710F";
    }
    return "";
}

const char* ToolVersion()
{
    return ORVANE_VERSION;
}

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error)
{
    // The job file first, wherever --job stands: the command line overrides it.
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--job") {
            if (!LoadJob(args[i + 1], o, error))
                return false;
            break;
        }
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
        if (name == "--station" || name == "--child" || name == "--list-ports" || name == "--json" ||
            name == "--check" || name == "--watch" || name == "--watched" || name == "--allow-http") {
            bool& flag = name == "--station" ? o->station : name == "--child" ? o->child
                         : name == "--list-ports" ? o->listPorts : name == "--json" ? o->json
                         : name == "--watch" ? o->watch : name == "--watched" ? o->watched
                         : name == "--allow-http" ? o->allowHttp : o->check;
            flag = true;
            continue;
        }
        if (!TakesValue(name)) {
            *error = "unknown option " + name;
            return false;
        }
        if (i + 1 == args.size()) {
            *error = name + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (name != "--job" && !Apply(name, value, o, error))
            return false;
    }
    if (o->listPorts)
        return true;
    if (o->watch) {
        if (!o->ports.empty() || o->matches.empty() || o->check) {
            *error = o->matches.empty() ? "--watch needs --match (which ports to follow)"
                                        : "--watch follows the ports that --match names; it takes no --port or --check";
            return false;
        }
        o->station = true;
    } else if (!o->matches.empty()) {
        *error = "--match goes with --watch";
        return false;
    }
    if ((o->ports.empty() && !o->watch) || o->image.empty()) {
        *error = o->image.empty() ? "--image is missing" : "--port is missing";
        return false;
    }
    if (!o->unitId.empty() && !o->unitIdFrom.empty()) {
        *error = "--unit-id and --unit-id-from: give one";
        return false;
    }
    if (o->unitIdFrom == "-" && (o->watch || o->ports.size() > 1)) {
        *error = "--unit-id-from - reads the console, for one port only; give each port a file ({port} in its name)";
        return false;
    }
    if (!o->deliver.empty()) {
        if (!DeliveryUrlOk(o->deliver, o->allowHttp, error))
            return false;
        if (o->spool.empty() && o->log.empty()) {
            *error = "--deliver needs --log or --spool: the records wait in a spool folder beside the log";
            return false;
        }
        if (o->spool.empty())
            o->spool = DefaultSpool(o->log);
    } else if (!o->spool.empty() && !o->child) {
        *error = "--spool goes with --deliver";
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
    std::vector<std::string> args = {"--port", port, "--image", image, "--child-image", o.imageName,
                                     "--rate", std::to_string(o.rate), "--normal-rate", std::to_string(o.normalRate)};
    if (o.verdictTimeout > 0)
        args.insert(args.end(), {"--verdict-timeout", Seconds(o.verdictTimeout)});
    if (o.wakeTimeout > 0)
        args.insert(args.end(), {"--wake-timeout", Seconds(o.wakeTimeout)});
    if (!o.log.empty())
        args.insert(args.end(), {"--log", o.log});
    if (o.retries > 0)
        args.insert(args.end(), {"--retries", std::to_string(o.retries)});
    if (!o.sha256.empty())
        args.insert(args.end(), {"--sha256", o.sha256});
    if (o.expectModel)
        args.insert(args.end(), {"--expect-model", std::string(ModelName(o.expectModel)).substr(4)});
    if (o.station)
        args.push_back("--station");
    if (o.json)
        args.push_back("--json");
    const std::pair<const char*, const std::string*> texts[] = {
        {"--unit-id", &o.unitId}, {"--unit-id-from", &o.unitIdFrom}, {"--operator", &o.operatorName},
        {"--bench", &o.bench},    {"--image-name", &o.imageLabel},   {"--adapter", &o.adapter},
    };
    for (const auto& t : texts)
        if (!t.second->empty())
            args.insert(args.end(), {t.first, *t.second});
    // A child puts its units' records in the spool; this process sends them.
    if (!o.spool.empty())
        args.insert(args.end(), {"--spool", o.spool});
    if (o.watch)
        args.push_back("--watched");
    args.push_back("--child");
    return args;
}

std::string UnitIdPath(const Options& o, const std::string& port)
{
    std::string path = o.unitIdFrom;
    const size_t slash = port.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? port : port.substr(slash + 1);
    // On past what was put in: a port's name may hold "{port}" itself.
    for (size_t at = 0; (at = path.find("{port}", at)) != std::string::npos; at += name.size())
        path.replace(at, 6, name);
    return path;
}

const char* HelpText()
{
    return R"(NAME
    orvane-cli - install a firmware image into MRQ serial-to-LAN modules

SYNOPSIS
    orvane-cli --port PORT[,PORT...] --image FILE [--rate 57600|115200]
               [--normal-rate 19200|115200] [--verdict-timeout SECONDS]
               [--wake-timeout SECONDS] [--log FILE] [--station]
               [--retries N] [--sha256 HEX] [--expect-model 520W|41|710F]
               [--json] [--check] [--job FILE]
               [--unit-id TEXT | --unit-id-from FILE] [--operator NAME]
               [--bench NAME] [--image-name LABEL]
               [--deliver URL [--spool DIR] [--allow-http]]
    orvane-cli --watch --match usb:VID:PID[:SERIAL]|serial:SERIAL|PATTERN
               --image FILE [the options of a station]
    orvane-cli report LOG... [--by port|bench|day|image|operator] [--json]
    orvane-cli deliver SPOOL [--deliver URL] [--job FILE] [--allow-http]
               [--check] [--json]
    orvane-cli --list-ports [--json]
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

    A port that goes away (adapter unplugged, line hung up) ends the unit
    at once with exit 5 and the reason "the port went away".

OPTIONS
    --port PORT[,PORT...]
        The serial ports the modules are on: COM1 to COM256 on Windows, any
        terminal device on Linux (/dev/ttyUSB0, /dev/serial/by-id/...).  A
        port can also be named by its adapter: usb:VID:PID or
        usb:VID:PID:SERIAL (VID and PID in hex, as --list-ports shows them)
        or serial:SERIAL.  Such a name must match exactly one port;
        otherwise orvane-cli exits 7 and lists the candidates.

    --image FILE
        The firmware image.  It is checked before any port is opened.

    --sha256 HEX
        Refuse the image unless its SHA-256 is HEX (exit 4, before any port
        is opened).

    --expect-model 520W|41|710F
        When the module's replies say it is another model, stop before
        "p 60" (no image byte is sent), leave the module as Cancel does,
        and exit 8.

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

    --retries N
        Run a unit again from the wake-up, up to N more times, when it
        ended with no answer (3), no verdict (2) or a port that went away
        (5); never after a 302 (1), an image problem (4), a wrong model (8)
        or Ctrl+C.  Each attempt is reported and logged.  Default 0.

    --log FILE
        Append one CSV line per attempt to FILE, with a header when the
        file is new: start (ISO 8601, UTC), port, model (MRQ-520W, MRQ-41,
        MRQ-710F, or empty when the module never said), image, size,
        sha256, duration_s, bytes_per_s, result (PASS, FAIL, CANCELLED),
        reason, attempt, reason_code, unit_id, operator, bench,
        tool_version, image_label, adapter, boot_line, flags.  Several
        processes may append to the same file at once.

    --station
        After each unit wait for the next one on the same port and count
        PASS and FAIL, until Ctrl+C; then print a summary.

    --json
        Events as JSON Lines on standard output (start, unit_start, status,
        progress, warning, result, summary); the text goes to standard
        error.  The schema is docs/orvane-cli.schema.json.

    --check
        Open nothing and send nothing: show the image (size, SHA-256), the
        ports as resolved, the rates, and any problem, and exit with the
        code a run would have for it.

    --job FILE
        Read options from FILE: "key = value" lines (image, sha256,
        expect-model, rate, normal-rate, verdict-timeout, wake-timeout,
        retries, log, station, ports, watch, match, unit-id-from, operator,
        bench, image-name, deliver, spool, allow-http, and deliver-header =
        "Name: value", repeated, for headers sent with every record, such
        as an API token, which is never shown) and # comments; paths are
        relative to the file's folder.  Options on the command line
        override it.  An unknown key or a bad value is exit 7, naming the
        file and line.

    --watch
        Follow the ports that --match names as they come and go: a station
        (--station) starts on each port as it appears and ends when it goes
        away; an adapter plugged back in gets a station again.  A unit cut
        off mid-image fails with exit 5, "the port went away".  One line per
        port with its PASS and FAIL counts and one with the bench's (plain
        lines or --json events when not on a terminal); Ctrl+C ends every
        station as Ctrl+C ends one, and prints the summary.  Exit: the code
        of the first unit that did not pass, 0 when none.

    --match usb:VID:PID[:SERIAL] | serial:SERIAL | PATTERN
        Which ports --watch follows (repeat it, or separate by commas): an
        adapter's identity as --port takes it, or a pattern with * and ?
        on the port's name or one of its links (/dev/ttyUSB*,
        /dev/serial/by-id/usb-FTDI*, COM*).  On Linux a pattern that is a
        path is also looked up in the file system: a folder of links that
        a bench keeps (/srv/bench/port?) is followed as well.

    --unit-id TEXT
        The id of the unit (its serial number, its label).

    --unit-id-from FILE
        A line per unit, read when the unit has answered the wake-up (a
        unit waits there until its line has come): a file, a FIFO that a
        scanner program writes, or - for the console, where a barcode
        scanner types the label and Enter (one port only).  {port} in FILE
        stands for the port's name (its last path part: ttyUSB0, COM12), so
        that each port has its own: --unit-id-from /run/bench/{port}.ids.
        An empty line is a unit without an id.

    --operator NAME, --bench NAME, --image-name LABEL
        Who runs the bench, which bench it is, and the image's label (its
        release name); they go into the log and the result events.  The
        log and the result event also carry the tool version, the
        adapter's identity (VID:PID:SERIAL where known), the attempt and
        the first line the boot monitor printed.  A unit id that is empty,
        or that this bench's log already has, is flagged (flags column,
        "flags" field) and logged again: never merged.

    --deliver URL
        Send every unit's record (its result event, as --json prints it)
        to the factory's system with an HTTP POST to URL, after the unit's
        log line is written.  Each record first goes into the spool, and a
        sender in the background delivers the spool in order: the bench
        never waits for the network, and a record the server has not
        taken is sent again later with the same Idempotency-Key header.
        https:// is checked against the system's certificates; plain
        http:// only to this machine unless --allow-http.

    --spool DIR
        Where records wait for delivery.  Default: beside the log, its
        name without the extension and .spool (units.csv: units.spool).
        A spool that cannot be written is exit 7 before any unit; a
        record that cannot be put there later is a warning, stays in the
        log, and makes the run's exit 11 unless a unit failed.

    --allow-http
        Send over plain HTTP to another machine too.

    --list-ports
        Every serial port of this machine with what identifies it (driver,
        USB vendor and product, serial number, maker and product, the
        /dev/serial links; on Windows the friendly name).  With --json one
        "port" event per port.

    --help
        This text.

    --version
        The version of orvane-cli (and of orvane, which it comes with).

REPORT
    orvane-cli report LOG... reads the logs of any number of benches (CSV
    of every layout orvane-cli has written, and --json output) and prints
    per port (or --by bench, day, image, operator): units, passed, failed,
    first-pass yield, retries, mean and 95th-percentile duration, and the
    most common failures.  The attempts of a unit count as one unit.  A
    torn or foreign line is counted and named by file and line; lines of
    an older layout are read and named.  --json: one report_group event
    per group and a report event with the totals.

DELIVER
    orvane-cli deliver SPOOL sends the records that wait in SPOOL (a bench
    that was off the network, a run that ended before the server took
    them), oldest first, to --deliver URL or the URL the spool was last
    run with; --job FILE takes the URL, the headers and the spool from a
    bench's job file.  It gives up after 5 failures in a row.  A server
    answer 2xx removes a record; 408, 429, 5xx, no answer, a time-out or a
    dropped connection leave it waiting; any other 4xx is a rejected
    record: moved to SPOOL/rejected with the server's answer beside it,
    and reported.  --check sends nothing: it counts the records and asks
    URL whether it answers (HEAD).  Exit 0: nothing waits and none was
    rejected (--check: the server answers); 11 otherwise; 7 for a wrong
    command line.  Each run of a bench shows the same counts at its end.

EXIT STATUS
    0   installed (with --station: no unit failed)
    1   the module reported failure (302), or answered 101 before the port
        had taken the whole image (it ended the image early): "the module
        answered 101 with N of M bytes of the image gone"
    2   no verdict after the image (the waiting counter expired)
    3   the module did not answer within --wake-timeout
    4   the image file is missing, unreadable, empty, or not --sha256's
    5   the port cannot be opened or configured, went away, or stopped
        taking the image (nothing taken for 5 s, a write failed, or the
        image not gone within four times its wire time and 10 s): "the
        port stopped taking the image after N of M bytes"
    6   cancelled (Ctrl+C)
    7   the command line or the job file is wrong, or a port named by its
        adapter matches none or several ports
    8   the module is not the --expect-model one
    11  a unit's record could not be put in the spool (--deliver), or
        orvane-cli deliver left records waiting or had one rejected
    With several ports: 0 only if every port passed, otherwise the first
    non-zero code in the order the ports were given.  With --station: the
    code of the first unit that did not pass.  With --retries: the code of
    a unit's last attempt.

EXAMPLES
    Install one module on the first USB serial adapter:
        orvane-cli --port /dev/ttyUSB0 --image mrq520w-2.4.bin

    Four modules at once at 57600 baud, with a log for the batch:
        orvane-cli --port COM11,COM12,COM13,COM14 --image mrq41.bin --rate 57600 --log batch.csv

    The adapter with serial number A1B2C3, checked first, then for real:
        orvane-cli --port usb:0403:6001:A1B2C3 --image mrq41.bin --expect-model 41 --check
        orvane-cli --port usb:0403:6001:A1B2C3 --image mrq41.bin --expect-model 41

    A production bench from its job file, events for the line's system:
        orvane-cli --job line3.job --json >>line3.jsonl

    A production bench: one unit after another until Ctrl+C, giving up on
    a unit that stops answering before the image after 10 s:
        orvane-cli --port /dev/ttyUSB0 --image mrq520w.bin --station --wake-timeout 10 --log line3.csv

    A hub of FTDI adapters, each unit's label scanned on the console's
    scanner program into a FIFO per port, logged to the shared folder:
        orvane-cli --watch --match usb:0403:6001 --image mrq41.bin --unit-id-from /run/bench/{port}.ids
                   --operator ann --bench line3-b2 --log /srv/logs/line3-b2.csv

    The week's yield of every bench, per day:
        orvane-cli report /srv/logs/*.csv --by day

    Every unit's record to the factory's system, the API token in the job
    file (deliver = https://mes.example/api/units and deliver-header =
    Authorization: Bearer ...), and later what still waits:
        orvane-cli --job line3.job
        orvane-cli deliver --job line3.job
)";
}
