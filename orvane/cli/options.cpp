#include "orvane/cli/options.h"

#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/ports.h"
#include "orvane/cli/serve/server.h"
#include "orvane/version.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

// Where a job file's value is a file: made relative to the job file's
// folder.
enum PathRule
{
    kNotPath,
    kPath,          // always (but "-", the console)
    kPathsWithSlash // each of a list that holds a slash: a path, not a port's name, an identity or COM*
};

struct OptionSpec
{
    const char* name;     // on the command line, or nullptr: a job file's key only
    bool flag;            // takes no value on the command line; "yes" or "no" in a job file
    const char* jobKey;   // its key in a job file, or nullptr
    PathRule path;
    bool child;           // each port's child process gets it as given
    bool (*apply)(const std::string& value, Options* o, std::string* error);
};

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

bool Fail(std::string* error, const std::string& why)
{
    *error = why;
    return false;
}

// ---- each option's value --------------------------------------------------

bool ApplyPort(const std::string& value, Options* o, std::string* error)
{
    o->ports = SplitPorts(value);
    for (std::string& port : o->ports)
        if (!PortNameOk(&port))
#ifdef _WIN32
            return Fail(error, "--port takes COM1 to COM256, usb:VID:PID[:SERIAL] or serial:SERIAL, not \"" + port + "\"");
#else
            return Fail(error, "--port: an empty port name in \"" + value + "\"");
#endif
    o->portsGiven = o->ports;
    return true;
}

bool ApplyMatch(const std::string& value, Options* o, std::string* error)
{
    for (const std::string& match : SplitPorts(value)) {
        if (IsIdentity(match) && !IdentityOk(match, error))
            return Fail(error, "--match " + *error);
        if (!match.empty())
            o->matches.push_back(match);
    }
    if (o->matches.empty())
        return Fail(error, "--match needs usb:VID:PID[:SERIAL], serial:SERIAL or a pattern, not \"" + value + "\"");
    return true;
}

// A line of text for the log and the events; some may not be empty.
bool ApplyText(const char* name, const std::string& value, bool emptyOk, std::string* field, std::string* error)
{
    if (!OneLineOfText(value) || (!emptyOk && value.empty()))
        return Fail(error, std::string(name) + " takes a line of text, not \"" + value + "\"");
    *field = value;
    return true;
}

bool ApplySeconds(const char* name, const std::string& value, double* seconds, std::string* error)
{
    if (!ParseSeconds(value, seconds))
        return Fail(error, std::string(name) + " takes a number of seconds above 0, not " + value);
    return true;
}

// The user's options: each once, with its kind, its job file key, whether a
// job file's value is a path, and whether each port's child gets it.
const OptionSpec kOptions[] = {
    {"--port", false, "port", kPathsWithSlash, false, ApplyPort},
    {"--image", false, "image", kPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->image = v, true; }},
    {"--rate", false, "rate", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) {
         return ParseRate(v, 57600, 115200, &o->rate) || Fail(e, "--rate takes 57600 or 115200, not " + v);
     }},
    {"--normal-rate", false, "normal-rate", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) {
         return ParseRate(v, 19200, 115200, &o->normalRate) || Fail(e, "--normal-rate takes 19200 or 115200, not " + v);
     }},
    {"--verdict-timeout", false, "verdict-timeout", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) { return ApplySeconds("--verdict-timeout", v, &o->verdictTimeout, e); }},
    {"--wake-timeout", false, "wake-timeout", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) { return ApplySeconds("--wake-timeout", v, &o->wakeTimeout, e); }},
    {"--retries", false, "retries", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) {
         char* end = nullptr;
         const long n = std::strtol(v.c_str(), &end, 10);
         if (v.empty() || *end != '\0' || n < 0 || n > 100)
             return Fail(e, "--retries takes a number from 0 to 100, not " + v);
         o->retries = int(n);
         return true;
     }},
    {"--sha256", false, "sha256", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) {
         return ParseDigest(v, &o->sha256) || Fail(e, "--sha256 takes the image's SHA-256 as 64 hex digits, not " + v);
     }},
    {"--expect-model", false, "expect-model", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) {
         return ParseModel(v, &o->expectModel) || Fail(e, "--expect-model takes 520W, 41 or 710F, not " + v);
     }},
    {"--log", false, "log", kPath, true, [](const std::string& v, Options* o, std::string*) { return o->log = v, true; }},
    {"--station", true, "station", kNotPath, true,
     [](const std::string& v, Options* o, std::string*) { return o->station = v == "yes", true; }},
    {"--watch", true, "watch", kNotPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->watch = v == "yes", true; }},
    {"--match", false, "match", kPathsWithSlash, false, ApplyMatch},
    {"--json", true, nullptr, kNotPath, true, [](const std::string& v, Options* o, std::string*) { return o->json = v == "yes", true; }},
    {"--check", true, nullptr, kNotPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->check = v == "yes", true; }},
    {"--list-ports", true, nullptr, kNotPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->listPorts = v == "yes", true; }},
    {"--job", false, nullptr, kNotPath, false, [](const std::string&, Options*, std::string*) { return true; }},
    {"--unit-id", false, nullptr, kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) { return ApplyText("--unit-id", v, true, &o->unitId, e); }},
    {"--unit-id-from", false, "unit-id-from", kPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->unitIdFrom = v, true; }},
    {"--operator", false, "operator", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) { return ApplyText("--operator", v, false, &o->operatorName, e); }},
    {"--bench", false, "bench", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) { return ApplyText("--bench", v, false, &o->bench, e); }},
    {"--image-name", false, "image-name", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) { return ApplyText("--image-name", v, false, &o->imageLabel, e); }},
    // The bench view.  Only the parent serves; a child gets --serve so that
    // it makes the events the parent's page is made of.
    {"--serve", false, "serve", kNotPath, true,
     [](const std::string& v, Options* o, std::string* e) {
         std::string host;
         int port = 0;
         if (!ParseServeAddress(v, &host, &port))
             return Fail(e, "--serve takes [ADDR:]PORT (8080, 127.0.0.1:8080, 0.0.0.0:8080), not \"" + v + "\"");
         o->serve = v;
         return true;
     }},
    // A slot's name on the page, repeated for each slot; a job file writes
    // "slot PORT = NAME".
    {"--slot", false, "slot", kNotPath, false,
     [](const std::string& v, Options* o, std::string* e) {
         const size_t equals = v.find('=');
         if (equals == std::string::npos || equals == 0 || equals + 1 == v.size() || !OneLineOfText(v))
             return Fail(e, "--slot takes PORT=NAME, not \"" + v + "\"");
         o->slots.emplace_back(v.substr(0, equals), v.substr(equals + 1));
         return true;
     }},
    // Records to the factory's system: the sender is the parent's, each
    // port's child only puts its units' records in the spool.
    {"--deliver", false, "deliver", kNotPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->deliver = v, true; }},
    {"--spool", false, "spool", kPath, true, [](const std::string& v, Options* o, std::string*) { return o->spool = v, true; }},
    {"--allow-http", true, "allow-http", kNotPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->allowHttp = v == "yes", true; }},
    // "Name: value", repeated: a header sent with every record (an API
    // token), so never on the command line, never shown, never a child's.
    {nullptr, false, "deliver-header", kNotPath, false,
     [](const std::string& v, Options* o, std::string* e) {
         std::pair<std::string, std::string> header;
         if (!ParseHeader(v, &header))
             return Fail(e, "deliver-header takes \"Name: value\" on one line");
         o->deliverHeaders.push_back(header);
         return true;
     }},
};

// Between a parent and each port's child: the parent passes them, a user
// never needs them.
const OptionSpec kProtocolOptions[] = {
    {"--child", true, nullptr, kNotPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->child = v == "yes", true; }},
    {"--watched", true, nullptr, kNotPath, false,   // a station of --watch
     [](const std::string& v, Options* o, std::string*) { return o->watched = o->station = v == "yes", true; }},
    {"--child-image", false, nullptr, kNotPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->imageName = v, true; }},
    {"--adapter", false, nullptr, kNotPath, false,
     [](const std::string& v, Options* o, std::string*) { return o->adapter = v, true; }},
    {"--child-unit-id-from", false, nullptr, kNotPath, false,   // the port's own, made by the parent
     [](const std::string& v, Options* o, std::string*) { return o->unitIdFrom = v, o->idsMade = true; }},
    {"--ids-at", false, nullptr, kNotPath, false,   // OFFSET:LINE
     [](const std::string& v, Options* o, std::string* e) {
         unsigned long long offset = 0;
         long line = 0;
         if (std::sscanf(v.c_str(), "%llu:%ld", &offset, &line) != 2)
             return Fail(e, "--ids-at takes OFFSET:LINE, not " + v);
         o->idsAt = true;
         o->idsOffset = offset;
         o->idsLine = line;
         return true;
     }},
};

// The option a name stands for; *no for "--no-station" and the like (a
// flag a job file may set, turned off on the command line).
const OptionSpec* FindOption(const std::string& name, bool fromParent, bool* no)
{
    *no = false;
    for (const OptionSpec& spec : kOptions) {
        if (spec.name == nullptr)
            continue;
        if (name == spec.name)
            return &spec;
        if (spec.flag && spec.jobKey && name == std::string("--no-") + (spec.name + 2))
            return *no = true, &spec;
    }
    for (const OptionSpec& spec : kProtocolOptions)
        if (fromParent && name == spec.name)
            return &spec;
    return nullptr;
}

// An option with where it was given (a job file's "file:line: "), to be
// applied.
struct Entry
{
    GivenOption option;
    std::string where;
};

// The job file: "key = value" lines, # comments; the keys are the options'
// names without their dashes ("ports" as well as "port").  Paths are made
// relative to the job file's folder.
bool LoadJob(const std::string& path, std::vector<Entry>* entries, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Fail(error, "cannot read the job file " + path);
    const size_t slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    auto relative = [&](const std::string& file) {
        const bool absolute = !file.empty() && (file[0] == '/' || file[0] == '\\' || (file.size() > 1 && file[1] == ':'));
        return absolute ? file : folder + file;
    };
    auto relativeWithSlash = [&](const std::string& list) {
        std::string out;
        for (const std::string& item : SplitPorts(list)) {
            const bool path = item.find_first_of("/\\") != std::string::npos && !IsIdentity(item);
            out += (out.empty() ? "" : ",") + (path ? relative(item) : item);
        }
        return out;
    };
    auto trim = [](const std::string& text) {
        const size_t first = text.find_first_not_of(" \t\r");
        const size_t last = text.find_last_not_of(" \t\r");
        return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    };
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        line = trim(line);
        if (line.empty())
            continue;
        const size_t equals = line.find('=');
        std::string key = trim(line.substr(0, equals));
        std::string value = equals == std::string::npos ? std::string() : trim(line.substr(equals + 1));
        if (equals == std::string::npos || value.empty())
            return Fail(error, where + "write \"" + key + " = VALUE\"");
        if (key.compare(0, 5, "slot ") == 0) {   // slot PORT = NAME: --slot PORT=NAME
            value = trim(key.substr(5)) + "=" + value;
            key = "slot";
        } else if (key == "slot") {
            return Fail(error, where + "write \"slot PORT = NAME\"");
        }
        const std::string jobKey = key == "ports" ? "port" : key;
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& s : kOptions)
            if (s.jobKey && jobKey == s.jobKey)
                spec = &s;
        if (spec == nullptr)
            return Fail(error, where + "unknown key \"" + key + "\"");
        if (spec->flag) {
            if (value != "yes" && value != "no" && value != "true" && value != "false")
                return Fail(error, where + key + " takes yes or no, not " + value);
            value = value == "yes" || value == "true" ? "yes" : "no";
        } else if (spec->path == kPath && value != "-") {
            value = relative(value);
        } else if (spec->path == kPathsWithSlash) {
            value = relativeWithSlash(value);
        }
        entries->push_back({{spec, value}, where});
    }
    return true;
}

} // namespace

bool OneLineOfText(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

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

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error, bool fromParent)
{
    std::vector<Entry> command;
    std::string jobPath;
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
        bool no = false;
        const OptionSpec* spec = FindOption(name, fromParent, &no);
        if (spec == nullptr)
            return Fail(error, "unknown option " + name);
        if (spec->flag) {
            command.push_back({{spec, no ? "no" : "yes"}, ""});
            continue;
        }
        if (i + 1 == args.size())
            return Fail(error, name + " needs a value");
        command.push_back({{spec, args[++i]}, ""});
        if (name == "--job" && jobPath.empty())
            jobPath = args[i];
    }
    // The job file first, wherever --job stands, each of its values checked;
    // an option the command line gives overrides the job file's, whichever
    // it is (--match included: the job's matches are not added to).
    std::vector<Entry> entries, job;
    if (!jobPath.empty()) {
        if (!LoadJob(jobPath, &job, error))
            return false;
        Options scratch;
        for (const Entry& e : job)
            if (!e.option.spec->apply(e.option.value, &scratch, error))
                return Fail(error, e.where + *error);
        for (const Entry& e : job)
            if (std::none_of(command.begin(), command.end(), [&](const Entry& c) { return c.option.spec == e.option.spec; }))
                entries.push_back(e);
        o->job = jobPath;
    }
    entries.insert(entries.end(), command.begin(), command.end());
    for (const Entry& e : entries) {
        if (!e.option.spec->apply(e.option.value, o, error)) {
            *error = e.where + *error;
            return false;
        }
        o->given.push_back(e.option);
    }
    if (o->listPorts)
        return true;
    if (o->watch) {
        if (!o->ports.empty() || o->matches.empty())
            return Fail(error, o->matches.empty() ? "--watch needs --match (which ports to follow)"
                                                  : "--watch follows the ports that --match names; it takes no --port");
        o->station = true;
    } else if (!o->matches.empty()) {
        return Fail(error, "--match goes with --watch");
    }
    if ((o->ports.empty() && !o->watch) || o->image.empty())
        return Fail(error, o->image.empty() ? "--image is missing" : "--port is missing");
    if (!o->unitId.empty() && !o->unitIdFrom.empty())
        return Fail(error, "--unit-id and --unit-id-from: give one");
    const bool severalUnits = o->ports.size() > 1 || o->station || o->watch;
    if (!o->unitId.empty() && severalUnits)
        return Fail(error, "--unit-id names one unit; with several ports, --station or --watch each unit's id comes "
                           "from --unit-id-from");
    const bool severalPorts = o->ports.size() > 1 || o->watch;
    if (o->unitIdFrom == "-" && severalPorts)
        return Fail(error, "--unit-id-from - reads the console, for one port only; give each port a file ({port} in its name)");
    if (severalPorts && !o->unitIdFrom.empty() && o->unitIdFrom.find("{port}") == std::string::npos &&
        o->unitIdFrom.find("{serial}") == std::string::npos)
        return Fail(error, "--unit-id-from " + o->unitIdFrom + ": with several ports or --watch it needs {port} or "
                           "{serial} in its name, so that each port reads ids of its own");
    if (!o->deliver.empty()) {
        if (!DeliveryUrlOk(o->deliver, o->allowHttp, error))
            return false;
        if (o->spool.empty() && o->log.empty())
            return Fail(error, "--deliver needs --log or --spool: the records wait in a spool folder beside the log");
        if (o->spool.empty()) {   // in effect as if given: each port's child puts its records there
            o->spool = DefaultSpool(o->log);
            bool no = false;
            o->given.push_back({FindOption("--spool", false, &no), o->spool});
        }
    } else if (!o->spool.empty() && !o->child) {
        return Fail(error, "--spool goes with --deliver");
    }
    if (o->child && o->ports.size() != 1)
        return Fail(error, "a child runs one port");
    return true;
}

std::vector<std::string> ChildArguments(const Options& o, const std::string& port, const std::string& image)
{
    std::vector<std::string> args;
    for (const GivenOption& g : o.given) {
        if (!g.spec->child)
            continue;
        if (!g.spec->flag)
            args.insert(args.end(), {g.spec->name, g.value});
        else if (g.value == "yes")
            args.push_back(g.spec->name);
    }
    args.insert(args.end(), {"--port", port, "--image", image, "--child-image", o.imageName});
    if (!o.adapter.empty())
        args.insert(args.end(), {"--adapter", o.adapter});
    if (!o.unitIdFrom.empty())
        args.insert(args.end(), {"--child-unit-id-from", o.unitIdFrom});
    if (o.idsAt)
        args.insert(args.end(), {"--ids-at", std::to_string(o.idsOffset) + ":" + std::to_string(o.idsLine)});
    if (o.watch)
        args.push_back("--watched");
    args.push_back("--child");
    return args;
}

bool UnitIdPath(const Options& o, const std::string& port, const std::string& serial, std::string* path,
                std::string* error)
{
    if (o.idsMade || o.unitIdFrom == "-") {
        *path = o.unitIdFrom;
        return true;
    }
    const size_t slash = port.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? port : port.substr(slash + 1);
    path->clear();
    for (size_t at = 0; at < o.unitIdFrom.size();) {
        if (o.unitIdFrom.compare(at, 6, "{port}") == 0) {
            *path += name;
            at += 6;
        } else if (o.unitIdFrom.compare(at, 8, "{serial}") == 0) {
            if (serial.empty())
                return Fail(error, "--unit-id-from " + o.unitIdFrom + ": the adapter on " + port +
                                       " has no serial number for {serial}");
            *path += serial;
            at += 8;
        } else {
            *path += o.unitIdFrom[at++];
        }
    }
    return true;
}
