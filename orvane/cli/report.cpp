// orvane-cli report: the units in the logs of any number of benches (CSV in
// any layout written so far, JSON Lines of --json), grouped by port, bench,
// day, image or operator: units, passed, failed, first-pass yield, retries,
// mean and 95th-percentile duration, the most common failures.  Files are
// read line by line: what is kept grows with the groups, the ports and the
// distinct durations and reasons, never with the lines.  A line that is not
// a unit (torn, foreign) is counted and named by file and line.  The same
// reckoning fed as logs grow, or a line at a time, is ReportTally (report.h):
// report --serve and the bench view.
#include "orvane/cli/report.h"

#include "orvane/cli/events.h"
#include "orvane/cli/logfile.h"
#include "orvane/cli/options.h"
#include "orvane/cli/record.h"
#include "orvane/cli/runevents.h"
#include "orvane/cli/serve/serve.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

namespace {

enum GroupBy { kByPort, kByBench, kByDay, kByImage, kByOperator };
const char* const kGroupNames[] = {"port", "bench", "day", "image", "operator"};

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
    UnitRecord last;
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

    std::string GroupOf(const UnitRecord& a) const
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

    // A unit's attempts are the lines of one port of one bench (of one file,
    // for lines that name no bench): two benches may log ports of the same
    // name into one file.
    static std::string FileKey(const std::string& file) { return "file " + file + '\n'; }

    void Add(const std::string& file, UnitRecord&& a)
    {
        const std::string key = (a.bench.empty() ? FileKey(file) : "bench " + a.bench + '\n') + a.port;
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
        u.last = std::move(a);
    }

    // At the end of a file its units without a bench are whole; at the end
    // of every file (file ""), all.
    void EndOfFile(const std::string& file)
    {
        const std::string prefix = file.empty() ? std::string() : FileKey(file);
        for (auto it = open.begin(); it != open.end();)
            if (it->first.compare(0, prefix.size(), prefix) == 0) {
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

// A unit's duration as a log may hold it: a number of seconds from 0 to 30
// days (a station's unit counts from the wait for its module).  A duration
// outside it (not finite, negative, absurd) makes the line no unit: it would
// make the mean and the percentile nonsense, and 1e300 centiseconds are no
// integer.
bool DurationOk(double seconds, std::string* problem)
{
    const double kLongest = 30 * 86400.0;
    if (seconds >= 0 && seconds <= kLongest)   // false for NaN too
        return true;
    char text[64];
    std::snprintf(text, sizeof(text), "duration_s %g", seconds);
    *problem = text + std::string(" is not a unit's duration (0 s to 30 days)");
    return false;
}

// Lines of a file, each at most kLongestLine bytes held: a longer one is read
// past, a block at a time, and said to be too long.  A line the file does not
// end yet is kept, and finished when the file is read on (a log that grows).
class LineReader
{
public:
    static const size_t kLongestLine = 65536;

    // The next whole line without its line feed, read on from where the last
    // call left off: false at the end of what the file holds now (or a read
    // that failed: ferror), with a line begun there kept.  *tooLong when the
    // line went beyond kLongestLine; *line then holds its beginning.
    bool Next(std::FILE* file, std::string* line, bool* tooLong)
    {
        for (;;) {
            if (at_ == end_) {
                at_ = 0;
                end_ = std::fread(block_, 1, sizeof(block_), file);
                offset_ += end_;
                if (end_ == 0)
                    return false;
            }
            const char* start = block_ + at_;
            const char* feed = static_cast<const char*>(std::memchr(start, '\n', end_ - at_));
            const size_t n = feed ? size_t(feed - start) : end_ - at_;
            const size_t room = kLongestLine - std::min(kLongestLine, line_.size());
            line_.append(start, std::min(n, room));
            tooLong_ = tooLong_ || n > room;
            begun_ = true;
            at_ += n;
            if (feed) {
                ++at_;
                return Take(line, tooLong);
            }
        }
    }
    // At the end of a file: its last line, which no line feed ends; false
    // when there is none.
    bool Rest(std::string* line, bool* tooLong) { return begun_ && Take(line, tooLong); }
    // The bytes read of the file: where reading on starts.
    uint64_t Offset() const { return offset_; }

private:
    bool Take(std::string* line, bool* tooLong)
    {
        line->swap(line_);
        line_.clear();
        *tooLong = tooLong_;
        tooLong_ = begun_ = false;
        return true;
    }

    char block_[65536];
    size_t at_ = 0, end_ = 0;
    uint64_t offset_ = 0;
    std::string line_;
    bool tooLong_ = false, begun_ = false;
};

// Where reading a log stands: its line reader and the lines read.
struct LogPlace
{
    LineReader lines;
    long long number = 0;
};

// ---- one line -------------------------------------------------------------

void ReadJsonLine(Reader& r, const std::string& file, long long number, const std::string& line)
{
    std::map<std::string, std::string> v;
    if (!ParseFlatJson(line, &v)) {
        r.Bad(file, number, true, "a JSON line that does not close");
        return;
    }
    if (!v.count("schema") || !v.count("event")) {
        r.Bad(file, number, false, "JSON, but not an orvane-cli event");
        return;
    }
    if (v["event"] != "result")
        return;   // the other events describe the run, not a unit
    UnitRecord a;
    a.attempt = 0;
    std::string problem;
    const bool read = ReadEventValues(v, &a, &problem);
    if (!IsTime(a.start) || !IsResult(a.result) || a.attempt < 1 || a.port.empty()) {
        r.Bad(file, number, false, "a result event without its port, start, attempt or result");
        return;
    }
    if (!read || !DurationOk(a.seconds, &problem)) {
        r.Bad(file, number, false, problem);
        return;
    }
    if (a.reasonCode.empty())
        a.reasonCode = ReasonKey(a.reason);
    r.Add(file, std::move(a));
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
    UnitRecord a;
    std::string problem;
    if (!ReadLogFields(f, &a, &problem) || !DurationOk(a.seconds, &problem)) {
        r.Bad(file, number, false, problem);
        return;
    }
    a.attempt = std::max(1, a.attempt);
    if (a.reasonCode.empty())
        a.reasonCode = ReasonKey(a.reason);
    r.Add(file, std::move(a));
}

// A line of a log, whatever it holds: a unit's CSV line of any layout, a
// header, a JSON event, or something foreign.
void ReadLine(Reader& r, const std::string& file, long long number, const std::string& line, bool tooLong,
              std::vector<std::string>& fields)
{
    ++r.lines;
    if (tooLong) {
        r.Bad(file, number, false, "a line longer than " + std::to_string(LineReader::kLongestLine) + " bytes");
        return;
    }
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return;
    if (line[first] == '{')
        ReadJsonLine(r, file, number, line);
    else if (line.compare(0, 11, "start,port,") != 0)   // not a header, of any layout
        ReadCsvLine(r, file, number, line, fields);
}

// The lines of a log from where place stands to the end of what it holds
// now.  whole: the log is read to its end, its last line with it though no
// line feed ends it; otherwise the log may grow, and a line it does not end
// yet is read once it is whole.  False when a read failed (a folder, or part
// way).
bool ReadLog(Reader& r, const std::string& file, std::FILE* in, LogPlace& place, bool whole, std::string& line,
             std::vector<std::string>& fields)
{
    bool tooLong = false;
    while (place.lines.Next(in, &line, &tooLong))
        ReadLine(r, file, ++place.number, line, tooLong, fields);
    if (whole && place.lines.Rest(&line, &tooLong))
        ReadLine(r, file, ++place.number, line, tooLong, fields);
    return std::ferror(in) == 0;
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

// A file's size, and a place in it, beyond 2 GiB too.
bool SizeOf(std::FILE* file, uint64_t* size)
{
#ifdef _WIN32
    const long long end = _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
#else
    const long long end = fseeko(file, 0, SEEK_END) == 0 ? (long long)ftello(file) : -1;
#endif
    *size = end < 0 ? 0 : uint64_t(end);
    return end >= 0;
}

bool SeekTo(std::FILE* file, uint64_t offset)
{
#ifdef _WIN32
    return _fseeki64(file, (long long)offset, SEEK_SET) == 0;
#else
    return fseeko(file, off_t(offset), SEEK_SET) == 0;
#endif
}

const char kReportUsage[] =
    "orvane-cli report LOG... [--by port|bench|day|image|operator] [--json | --serve [ADDR:]PORT]";

} // namespace

int RunReport(const std::vector<std::string>& args)
{
    Reader r;
    bool json = std::find(args.begin(), args.end(), "--json") != args.end();
    std::string serve;   // --serve [ADDR:]PORT: the report as a page, as the logs grow
    std::vector<std::string> files;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--serve" && i + 1 == args.size()) {
            UsageError(json, kExitUsage, "report --serve needs [ADDR:]PORT (8080, 0.0.0.0:8080)");
            return kExitUsage;
        } else if (args[i] == "--serve") {
            serve = args[++i];
        } else if (args[i] == "--by" && i + 1 == args.size()) {
            UsageError(json, kExitUsage, "report --by needs a value: port, bench, day, image or operator");
            return kExitUsage;
        } else if (args[i] == "--by") {
            const std::string& by = args[++i];
            const auto at = std::find(std::begin(kGroupNames), std::end(kGroupNames), by);
            if (at == std::end(kGroupNames)) {
                UsageError(json, kExitUsage, "report --by takes port, bench, day, image or operator, not " + by);
                return kExitUsage;
            }
            r.by = GroupBy(at - std::begin(kGroupNames));
        } else if (args[i] == "--help" || args[i] == "-h") {
            std::printf("%s\n", kReportUsage);
            return kExitInstalled;
        } else if (args[i].rfind("--", 0) == 0) {
            UsageError(json, kExitUsage, "report: unknown option " + args[i] + " (" + kReportUsage + ")");
            return kExitUsage;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.empty()) {
        UsageError(json, kExitUsage, std::string("report needs at least one log (") + kReportUsage + ")");
        return kExitUsage;
    }
    if (!serve.empty())
        return ServeReport(serve, kGroupNames[r.by], files);
    int code = kExitInstalled;
    std::vector<std::string> unreadable;
    std::string line;
    std::vector<std::string> fields;
    for (const std::string& file : files) {
        std::FILE* in = std::fopen(file.c_str(), "rb");
        if (in == nullptr) {
            unreadable.push_back(file);
            code = kExitUsage;
            continue;
        }
        LogPlace place;
        const bool read = ReadLog(r, file, in, place, true, line, fields);
        r.EndOfFile(file);
        if (!read) {   // a folder, or a read that failed part way
            unreadable.push_back(file);
            code = kExitUsage;
        }
        std::fclose(in);
    }
    r.EndOfFile("");   // the units of a bench, which may go on in another file

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

// ---- fed as logs grow, or a line at a time ------------------------------------

struct ReportTally::Reader : ::Reader
{
    std::map<std::string, LogPlace> logs;   // where reading each growing log stands
    std::string line;
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
    ReadLine(*reader_, file, number, line, line.size() > LineReader::kLongestLine, reader_->fields);
}

ReportTally::Growth ReportTally::ReadOn(const std::string& file)
{
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr)
        return kUnreadable;
    LogPlace& place = reader_->logs[file];
    const uint64_t before = place.lines.Offset();
    uint64_t size = 0;
    Growth growth = kUnreadable;
    if (SizeOf(in, &size) && size < before)
        growth = kShorter;
    else if (SeekTo(in, before) && ReadLog(*reader_, file, in, place, false, reader_->line, reader_->fields))
        growth = place.lines.Offset() > before ? kGrown : kUnchanged;
    std::fclose(in);
    return growth;
}

std::vector<std::string> ReportTally::Events(const std::vector<std::string>& files,
                                             const std::vector<std::string>& unreadable) const
{
    ::Reader ended = *reader_;   // what it keeps is small: groups, ports, distinct durations and reasons
    ended.EndOfFile("");
    return ReportEvents(ended, files, unreadable);
}
