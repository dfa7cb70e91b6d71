// orvane-cli report: the units in the logs of any number of benches (CSV in
// any layout written so far, JSON Lines of --json), grouped by port, bench,
// day, image or operator: units, passed, failed, first-pass yield, retries,
// mean and 95th-percentile duration, the most common failures.  Files are
// read line by line: what is kept grows with the groups, the ports and the
// distinct durations and reasons, never with the lines.  A line that is not
// a unit (torn, foreign) is counted and named by file and line.
#include "orvane/cli/session.h"

#include "orvane/cli/events.h"
#include "orvane/cli/report.h"
#include "orvane/cli/serve/serve.h"
#include "orvane/cli/logfile.h"
#include "orvane/cli/unit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <vector>

namespace {

enum GroupBy { kByPort, kByBench, kByDay, kByImage, kByOperator };
const char* const kGroupNames[] = {"port", "bench", "day", "image", "operator"};

// One attempt as a log line gives it.
struct Attempt
{
    std::string port, start, result, reasonCode, reason, image, imageLabel, bench, operatorName;
    int attempt = 1;
    double seconds = 0;
};

struct Stats
{
    long long units = 0, passed = 0, failed = 0, cancelled = 0, firstPass = 0, retries = 0;
    double seconds = 0;
    std::map<long long, long long> centiseconds;   // a unit's duration -> units
    std::map<std::string, long long> failures;     // a failed unit's reason -> units

    double Mean() const { return units ? seconds / double(units) : 0; }
    // Nearest rank: the least duration that at least 95% of the units took no
    // longer than.
    double P95() const
    {
        const long long rank = (units * 95 + 99) / 100;
        long long seen = 0;
        for (const auto& d : centiseconds)
            if ((seen += d.second) >= rank)
                return double(d.first) / 100;
        return 0;
    }
    std::vector<std::pair<std::string, long long>> TopFailures(size_t n) const
    {
        std::vector<std::pair<std::string, long long>> top(failures.begin(), failures.end());
        std::stable_sort(top.begin(), top.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        if (top.size() > n)
            top.resize(n);
        return top;
    }
};

// A unit: its attempts, until the next first attempt on its port.
struct Unit
{
    std::string group;
    bool firstPassed = false;
    int attempts = 0;
    double seconds = 0;
    Attempt last;
};

struct Problem
{
    std::string where, what;
};

struct Reader
{
    GroupBy by = kByPort;
    std::map<std::string, Stats> groups;
    Stats all;
    std::map<std::string, Unit> open;   // file and port -> its unit not yet closed
    long long lines = 0, torn = 0, foreign = 0, older = 0;
    std::vector<Problem> problems;           // the first few of each kind
    struct Lines
    {
        long long first = 0, last = 0, count = 0;
    };
    std::map<std::string, Lines> olderLines;   // file -> its lines of an older layout

    void Bad(const std::string& file, long long number, bool isTorn, const std::string& what)
    {
        ++(isTorn ? torn : foreign);
        if ((isTorn ? torn : foreign) <= 10)
            problems.push_back({file + ":" + std::to_string(number), std::string(isTorn ? "torn" : "foreign") + ": " + what});
    }

    std::string GroupOf(const Attempt& a) const
    {
        switch (by) {
        case kByPort: return a.port;
        case kByBench: return a.bench;
        case kByDay: return a.start.substr(0, 10);
        case kByImage: return a.imageLabel.empty() ? a.image : a.imageLabel;
        case kByOperator: return a.operatorName;
        }
        return std::string();
    }

    void Close(const Unit& u)
    {
        for (Stats* s : {&groups[u.group], &all}) {
            s->retries += u.attempts - 1;
            if (u.last.result == "CANCELLED") {
                ++s->cancelled;
                continue;
            }
            ++s->units;
            if (u.last.result == "PASS") {
                ++s->passed;
            } else {
                ++s->failed;
                ++s->failures[u.last.reasonCode];
            }
            if (u.firstPassed)
                ++s->firstPass;
            s->seconds += u.seconds;
            ++s->centiseconds[(long long)(u.seconds * 100 + 0.5)];
        }
    }

    void Add(const std::string& file, const Attempt& a)
    {
        const std::string key = file + '\n' + a.port;
        auto it = open.find(key);
        if (it != open.end() && a.attempt <= it->second.last.attempt) {
            Close(it->second);
            open.erase(it);
            it = open.end();
        }
        if (it == open.end()) {
            it = open.emplace(key, Unit()).first;
            it->second.group = GroupOf(a);
            it->second.firstPassed = a.attempt == 1 && a.result == "PASS";
        }
        Unit& u = it->second;
        ++u.attempts;
        u.seconds += a.seconds;
        u.last = a;
    }

    void EndOfFile(const std::string& file)
    {
        for (auto it = open.begin(); it != open.end();)
            if (it->first.compare(0, file.size() + 1, file + '\n') == 0) {
                Close(it->second);
                it = open.erase(it);
            } else {
                ++it;
            }
    }
};

// 2026-12-07T09:24:38Z, or (prefix) the start of one: a line cut short.
bool IsTime(const std::string& t, bool prefix = false)
{
    static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (prefix ? t.size() < 4 || t.size() > sizeof(kShape) - 1 : t.size() != sizeof(kShape) - 1)
        return false;
    for (size_t i = 0; i < t.size(); ++i)
        if (kShape[i] == 'd' ? !(t[i] >= '0' && t[i] <= '9') : t[i] != kShape[i])
            return false;
    return true;
}

bool IsResult(const std::string& r)
{
    return r == "PASS" || r == "FAIL" || r == "CANCELLED";
}

// A reason without its numbers, so that "after 1200 of 20000 bytes" and
// "after 800 of 20000 bytes" count as one.
std::string ReasonKey(const std::string& reason)
{
    std::string key = reason.substr(0, reason.find(';'));
    std::string out;
    for (char c : key)
        if (!(c >= '0' && c <= '9'))
            out += c;
        else if (out.empty() || out.back() != '#')
            out += '#';
    return out;
}

// ---- one JSON object, flat: its top-level strings and numbers ------------

struct FlatJson
{
    std::map<std::string, std::string> values;   // strings unescaped; numbers and literals as written

    bool Parse(const std::string& text)
    {
        size_t i = 0;
        auto space = [&] {
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
                ++i;
        };
        space();
        if (i >= text.size() || text[i++] != '{')
            return false;
        space();
        if (i < text.size() && text[i] == '}')
            return Rest(text, i + 1);
        for (;;) {
            std::string key, value;
            space();
            if (!String(text, &i, &key))
                return false;
            space();
            if (i >= text.size() || text[i++] != ':')
                return false;
            space();
            if (!Value(text, &i, &value))
                return false;
            values[key] = value;
            space();
            if (i >= text.size())
                return false;
            if (text[i] == '}')
                return Rest(text, i + 1);
            if (text[i++] != ',')
                return false;
        }
    }

    static bool Rest(const std::string& text, size_t i)
    {
        return text.find_first_not_of(" \t\r", i) == std::string::npos;
    }

    static bool String(const std::string& text, size_t* i, std::string* out)
    {
        if (*i >= text.size() || text[*i] != '"')
            return false;
        for (++*i; *i < text.size(); ++*i) {
            const char c = text[*i];
            if (c == '"') {
                ++*i;
                return true;
            }
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (++*i >= text.size())
                return false;
            const char e = text[*i];
            if (e == 'u') {
                if (*i + 4 >= text.size())
                    return false;
                const long code = std::strtol(text.substr(*i + 1, 4).c_str(), nullptr, 16);
                *out += code < 0x80 ? char(code) : '?';
                *i += 4;
            } else {
                *out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e;
            }
        }
        return false;
    }

    // A value; arrays and objects are skipped whole (kept as "").
    static bool Value(const std::string& text, size_t* i, std::string* out)
    {
        if (*i >= text.size())
            return false;
        if (text[*i] == '"')
            return String(text, i, out);
        if (text[*i] == '[' || text[*i] == '{') {
            int depth = 0;
            for (; *i < text.size(); ++*i) {
                const char c = text[*i];
                if (c == '"') {
                    std::string skipped;
                    if (!String(text, i, &skipped))
                        return false;
                    --*i;
                } else if (c == '[' || c == '{') {
                    ++depth;
                } else if ((c == ']' || c == '}') && --depth == 0) {
                    ++*i;
                    return true;
                }
            }
            return false;
        }
        const size_t end = text.find_first_of(",} \t", *i);
        if (end == std::string::npos || end == *i)
            return false;
        *out = text.substr(*i, end - *i);
        *i = end;
        return true;
    }
};

// ---- one line -------------------------------------------------------------

void ReadJsonLine(Reader& r, const std::string& file, long long number, const std::string& line)
{
    FlatJson j;
    if (!j.Parse(line)) {
        r.Bad(file, number, true, "a JSON line that does not close");
        return;
    }
    auto& v = j.values;
    if (!v.count("schema") || !v.count("event")) {
        r.Bad(file, number, false, "JSON, but not an orvane-cli event");
        return;
    }
    if (v["event"] != "result")
        return;   // the other events describe the run, not a unit
    Attempt a;
    a.port = v["port"];
    a.start = v["start"];
    a.result = v["result"];
    a.reasonCode = v["reason_code"];
    a.reason = v["reason"];
    a.image = v["image"];
    a.imageLabel = v["image_label"];
    a.bench = v["bench"];
    a.operatorName = v["operator"];
    a.attempt = std::atoi(v["attempt"].c_str());
    a.seconds = std::atof(v["duration_s"].c_str());
    if (!IsTime(a.start) || !IsResult(a.result) || a.attempt < 1 || a.port.empty()) {
        r.Bad(file, number, false, "a result event without its port, start, attempt or result");
        return;
    }
    if (a.reasonCode.empty())
        a.reasonCode = ReasonKey(a.reason);
    r.Add(file, a);
}

void ReadCsvLine(Reader& r, const std::string& file, long long number, const std::string& line,
                 std::vector<std::string>& f)
{
    const bool closed = SplitCsv(line, &f);
    if (f.size() == 1 && IsTime(f[0], true)) {
        r.Bad(file, number, true, "cut short in its first field");
        return;
    }
    if (!IsTime(f[0])) {
        std::string shown = line.substr(0, 40);
        for (char& c : shown)
            if ((unsigned char)c < 0x20 || (unsigned char)c == 0x7F)
                c = '.';
        r.Bad(file, number, false, "not a log line (\"" + shown + (line.size() > 40 ? "...\")" : "\")"));
        return;
    }
    const size_t n = f.size();
    const bool known = n == kLogLayouts[0] || n == kLogLayouts[1] || n >= kLogLayouts[2];
    if (!closed || !known || !IsResult(f[kColResult])) {
        r.Bad(file, number, true,
                  !closed ? "a quote that does not close"
                  : !known ? std::to_string(n) + " fields, not " + std::to_string(kLogLayouts[0]) + ", " +
                                 std::to_string(kLogLayouts[1]) + " or " + std::to_string(kLogLayouts[2])
                           : "no result (PASS, FAIL, CANCELLED) where it belongs");
        return;
    }
    if (n < kLogColumns) {
        ++r.older;
        Reader::Lines& older = r.olderLines[file];
        if (older.count++ == 0)
            older.first = number;
        older.last = number;
    }
    Attempt a;
    a.start = f[kColStart];
    a.port = f[kColPort];
    a.image = f[kColImage];
    a.seconds = std::atof(f[kColDuration].c_str());
    a.result = f[kColResult];
    a.reason = f[kColReason];
    if (n > kColReasonCode) {
        a.attempt = std::max(1, std::atoi(f[kColAttempt].c_str()));
        a.reasonCode = f[kColReasonCode];
    }
    if (a.reasonCode.empty())
        a.reasonCode = ReasonKey(a.reason);
    if (n >= kLogColumns) {
        a.operatorName = f[kColOperator];
        a.bench = f[kColBench];
        a.imageLabel = f[kColImageLabel];
    }
    r.Add(file, a);
}

void ReadLine(Reader& r, const std::string& file, long long number, const std::string& line,
              std::vector<std::string>& fields)
{
    ++r.lines;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return;
    if (line[first] == '{')
        ReadJsonLine(r, file, number, line);
    else if (line.compare(0, 11, "start,port,") != 0)   // not a header, of any layout
        ReadCsvLine(r, file, number, line, fields);
}

std::string Percent(long long part, long long whole)
{
    return whole ? Fixed(100.0 * double(part) / double(whole), 1) + "%" : "-";
}

std::string Column(std::string text, size_t width, bool right)
{
    if (text.size() >= width)
        return text;
    const std::string pad(width - text.size(), ' ');
    return right ? pad + text : text + pad;
}

JsonObject StatsJson(JsonObject o, const Stats& s)
{
    JsonArray failures;
    for (const auto& f : s.TopFailures(3))
        failures.Add(JsonObject().Str("reason", f.first).Int("units", f.second).Done());
    return o.Int("units", s.units)
        .Int("passed", s.passed)
        .Int("failed", s.failed)
        .Int("cancelled", s.cancelled)
        .Int("first_pass", s.firstPass)
        .Num("first_pass_yield", s.units ? double(s.firstPass) / double(s.units) : 0, 4)
        .Int("retries", s.retries)
        .Num("mean_s", s.Mean(), 2)
        .Num("p95_s", s.P95(), 2)
        .Raw("failures", failures.Done());
}

// report --json: a report_group event per group, then the totals.
std::vector<std::string> ReportEvents(const Reader& r, const std::vector<std::string>& files,
                                      const std::vector<std::string>& unreadable)
{
    const std::string by = kGroupNames[r.by];
    std::vector<std::string> events;
    for (const auto& g : r.groups)
        events.push_back(StatsJson(JsonObject::Event("report_group").Str("by", by).Str("group", g.first), g.second).Done());
    JsonArray problems, older;
    for (const Problem& p : r.problems)
        problems.Add(JsonObject().Str("where", p.where).Str("what", p.what).Done());
    for (const auto& o : r.olderLines)
        older.Add(JsonObject()
            .Str("file", o.first)
            .Int("first_line", o.second.first)
            .Int("last_line", o.second.last)
            .Int("lines", o.second.count)
            .Done());
    events.push_back(StatsJson(JsonObject::Event("report").Str("by", by), r.all)
                         .Int("files", (long long)files.size())
                         .Int("lines", r.lines)
                         .Int("torn", r.torn)
                         .Int("foreign", r.foreign)
                         .Int("older", r.older)
                         .Raw("problems", problems.Done())
                         .Raw("older_lines", older.Done())
                         .Strs("unreadable", unreadable)
                         .Done());
    return events;
}

const char kReportUsage[] =
    "orvane-cli report LOG... [--by port|bench|day|image|operator] [--json | --serve [ADDR:]PORT]";

} // namespace

int RunReport(const std::vector<std::string>& args)
{
    Reader r;
    bool json = false;
    std::string serve;   // --serve [ADDR:]PORT: the report as a page, as the logs grow
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--serve" && i + 1 < args.size()) {
            serve = args[++i];
        } else if (args[i] == "--by" && i + 1 < args.size()) {
            const std::string& by = args[++i];
            const auto at = std::find(std::begin(kGroupNames), std::end(kGroupNames), by);
            if (at == std::end(kGroupNames)) {
                std::fprintf(stderr, "orvane-cli: report --by takes port, bench, day, image or operator, not %s\n",
                             by.c_str());
                return kExitUsage;
            }
            r.by = GroupBy(at - std::begin(kGroupNames));
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::printf("%s\n", kReportUsage);
            return kExitInstalled;
        } else if (args[i].rfind("--", 0) == 0) {
            std::fprintf(stderr, "orvane-cli: report: unknown option %s (%s)\n", args[i].c_str(), kReportUsage);
            return kExitUsage;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "orvane-cli: report needs at least one log (%s)\n", kReportUsage);
        return kExitUsage;
    }
    if (!serve.empty())
        return ServeReport(serve, kGroupNames[r.by], files);
    int code = kExitInstalled;
    std::vector<std::string> unreadable;
    std::string line;
    std::vector<std::string> fields;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            unreadable.push_back(file);
            code = kExitUsage;
            continue;
        }
        long long number = 0;
        while (std::getline(in, line))
            ReadLine(r, file, ++number, line, fields);
        r.EndOfFile(file);
        if (in.bad()) {   // a folder, or a read that failed part way
            unreadable.push_back(file);
            code = kExitUsage;
        }
    }

    const std::string by = kGroupNames[r.by];
    if (json) {
        for (const std::string& event : ReportEvents(r, files, unreadable))
            std::printf("%s\n", event.c_str());
        return code;
    }

    std::printf("orvane-cli report: %zu logs, %lld lines, %lld units; by %s\n", files.size(), r.lines, r.all.units,
                by.c_str());
    size_t width = 5;
    for (const auto& g : r.groups)
        width = std::max(width, g.first.size());
    std::printf("%s  units  passed  failed  first-pass  retries  mean s   p95 s  most common failures\n",
                Column(by, width, false).c_str());
    auto row = [&](const std::string& name, const Stats& s) {
        std::string failures;
        for (const auto& f : s.TopFailures(3))
            failures += (failures.empty() ? "" : ", ") + f.first + " " + std::to_string(f.second);
        std::printf("%s %6lld %7lld %7lld %11s %8lld %7s %7s%s%s\n", Column(name.empty() ? "(none)" : name, width, false).c_str(),
                    s.units, s.passed, s.failed, Percent(s.firstPass, s.units).c_str(), s.retries,
                    Fixed(s.Mean(), 2).c_str(), Fixed(s.P95(), 2).c_str(), failures.empty() ? "" : "  ", failures.c_str());
    };
    for (const auto& g : r.groups)
        row(g.first, g.second);
    row("all", r.all);
    if (r.all.cancelled)
        std::printf("cancelled (not units): %lld\n", r.all.cancelled);
    if (r.torn + r.foreign) {
        std::printf("not read: %lld lines (%lld torn, %lld foreign)%s\n", r.torn + r.foreign, r.torn, r.foreign,
                    r.problems.size() < size_t(r.torn + r.foreign) ? "; the first of each:" : ":");
        for (const Problem& p : r.problems)
            std::printf("  %s  %s\n", p.where.c_str(), p.what.c_str());
    }
    for (const auto& o : r.olderLines)
        std::printf("older layout: %s, %lld lines between lines %lld and %lld (read; no unit id, bench or operator)\n",
                    o.first.c_str(), o.second.count, o.second.first, o.second.last);
    for (const std::string& f : unreadable)
        std::printf("cannot read %s\n", f.c_str());
    return code;
}

// ---- fed a line at a time ----------------------------------------------------

struct ReportTally::Reader : ::Reader
{
    std::vector<std::string> fields;
};

ReportTally::ReportTally() : reader_(new Reader) {}
ReportTally::~ReportTally() = default;

bool ReportTally::By(const std::string& by)
{
    const auto at = std::find(std::begin(kGroupNames), std::end(kGroupNames), by);
    if (at == std::end(kGroupNames))
        return false;
    reader_->by = GroupBy(at - std::begin(kGroupNames));
    return true;
}

void ReportTally::Line(const std::string& file, long long number, const std::string& line)
{
    ReadLine(*reader_, file, number, line, reader_->fields);
}

std::vector<std::string> ReportTally::Events(const std::vector<std::string>& files,
                                             const std::vector<std::string>& unreadable) const
{
    ::Reader ended = *reader_;   // what it keeps is small: groups, ports, distinct durations and reasons
    for (auto it = ended.open.begin(); it != ended.open.end(); it = ended.open.erase(it))
        ended.Close(it->second);
    return ReportEvents(ended, files, unreadable);
}
