#include "orvane/cli/record.h"

#include "orvane/cli/events.h"
#include "orvane/cli/logfile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

const size_t kLogLayouts[3] = {kColAttempt, kColUnitId, kLogColumns};

// The fields of a unit's record, once.  The result event has them in this
// order; the log has those with a column, in the columns' order.
const RecordField kRecordFields[] = {
    {"port", kColPort, kFieldText, true, &UnitRecord::port},
    {"device", -1, kFieldText, true, &UnitRecord::device},
    {"attempt", kColAttempt, kFieldCount, true, nullptr, &UnitRecord::attempt},
    {"code", -1, kFieldCount, true, nullptr, &UnitRecord::code},
    {"result", kColResult, kFieldText, true, &UnitRecord::result},
    {"reason_code", kColReasonCode, kFieldText, true, &UnitRecord::reasonCode},
    {"reason", kColReason, kFieldTextOrNull, true, &UnitRecord::reason},
    {"model", kColModel, kFieldTextOrNull, true, &UnitRecord::model},
    {"verdict", -1, kFieldTextOrNull, true, &UnitRecord::verdict},
    {"last_received", -1, kFieldTextOrNull, true, &UnitRecord::lastReceived},
    {"image", kColImage, kFieldText, true, &UnitRecord::image},
    {"size", kColSize, kFieldSize, true, nullptr, nullptr, &UnitRecord::size},
    {"sha256", kColSha256, kFieldTextOrNull, true, &UnitRecord::sha256},
    {"start", kColStart, kFieldText, true, &UnitRecord::start},
    {"duration_s", kColDuration, kFieldSeconds, true, nullptr, nullptr, nullptr, &UnitRecord::seconds},
    {"bytes_per_s", kColBytesPerS, kFieldRate, true, nullptr, nullptr, nullptr, &UnitRecord::bytesPerSecond},
    {"unit_id", kColUnitId, kFieldTextOrNull, false, &UnitRecord::unitId},
    {"operator", kColOperator, kFieldTextOrNull, false, &UnitRecord::operatorName},
    {"bench", kColBench, kFieldTextOrNull, false, &UnitRecord::bench},
    {"tool_version", kColToolVersion, kFieldText, false, &UnitRecord::toolVersion},
    {"image_label", kColImageLabel, kFieldTextOrNull, false, &UnitRecord::imageLabel},
    {"adapter", kColAdapter, kFieldTextOrNull, false, &UnitRecord::adapter},
    {"boot_line", kColBootLine, kFieldTextOrNull, false, &UnitRecord::bootLine},
    {"flags", kColFlags, kFieldFlags, false, nullptr, nullptr, nullptr, nullptr, &UnitRecord::flags},
};
const size_t kRecordFieldCount = sizeof(kRecordFields) / sizeof(kRecordFields[0]);

const ReasonCode kReasonCodes[] = {
    {"installed", kExitInstalled},     {"module_failed", kExitModuleFailed}, {"early_verdict", kExitModuleFailed},
    {"no_verdict", kExitNoVerdict},    {"no_answer", kExitNoWake},           {"image_unreadable", kExitImage},
    {"image_empty", kExitImage},       {"image_digest", kExitImage},         {"port_open", kExitPort},
    {"port_setup", kExitPort},         {"port_gone", kExitPort},             {"port_stalled", kExitPort},
    {"cancelled", kExitCancelled},     {"wrong_model", kExitWrongModel},     {"log_unwritten", kExitLog},
    {"process_ended", kExitProcessEnded},
};
const size_t kReasonCodeCount = sizeof(kReasonCodes) / sizeof(kReasonCodes[0]);

namespace {

// The fields by column, for the log.
struct Columns
{
    const RecordField* at[kLogColumns] = {};
    Columns()
    {
        for (const RecordField& f : kRecordFields)
            if (f.column >= 0)
                at[f.column] = &f;
    }
};
const Columns kColumns;

// A field as the log writes it.
std::string LogText(const RecordField& f, const UnitRecord& r)
{
    switch (f.kind) {
    case kFieldText:
    case kFieldTextOrNull:
        return r.*f.text;
    case kFieldCount:
        return std::to_string(r.*f.count);
    case kFieldSize:
        return r.*f.bytes ? std::to_string(r.*f.bytes) : std::string();
    case kFieldSeconds:
        return Fixed(r.*f.real, 1);
    case kFieldRate:
        return r.*f.real > 0 ? Fixed(r.*f.real, 0) : std::string();
    case kFieldFlags: {
        std::string words;
        for (const std::string& w : r.*f.words)
            words += (words.empty() ? "" : " ") + w;
        return words;
    }
    }
    return std::string();
}

void EventValue(JsonObject& o, const RecordField& f, const UnitRecord& r)
{
    switch (f.kind) {
    case kFieldText: o.Str(f.name, r.*f.text); return;
    case kFieldTextOrNull: o.StrOrNull(f.name, r.*f.text); return;
    case kFieldCount: o.Int(f.name, r.*f.count); return;
    case kFieldSize: o.Int(f.name, (long long)(r.*f.bytes)); return;
    case kFieldSeconds: o.Num(f.name, r.*f.real, 3); return;
    case kFieldRate: o.NumOrNull(f.name, r.*f.real, 0); return;
    case kFieldFlags: o.Strs(f.name, r.*f.words); return;
    }
}

// A field's value, as the log or an event wrote it, into the record.
bool ReadField(const RecordField& f, std::string& value, UnitRecord* r)
{
    char* end = nullptr;
    errno = 0;
    switch (f.kind) {
    case kFieldText:
    case kFieldTextOrNull:
        r->*f.text = std::move(value);
        return true;
    case kFieldCount: {
        const long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || errno != 0 || n < -1000000000L || n > 1000000000L)
            return false;
        r->*f.count = int(n);
        return true;
    }
    case kFieldSize: {
        if (value.empty()) {
            r->*f.bytes = 0;
            return true;
        }
        const unsigned long long n = std::strtoull(value.c_str(), &end, 10);
        if (*end != '\0' || errno != 0 || value[0] == '-')
            return false;
        r->*f.bytes = n;
        return true;
    }
    case kFieldSeconds:
    case kFieldRate: {
        if (value.empty() && f.kind == kFieldRate) {
            r->*f.real = 0;
            return true;
        }
        const double x = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0')
            return false;
        r->*f.real = x;
        return true;
    }
    case kFieldFlags: {
        (r->*f.words).clear();
        size_t at = 0;
        for (size_t space; at < value.size(); at = space + 1) {
            space = value.find(' ', at);
            if (space == std::string::npos)
                space = value.size();
            if (space > at)
                (r->*f.words).push_back(value.substr(at, space - at));
        }
        return true;
    }
    }
    return false;
}

std::string Problem(const RecordField& f, const std::string& value)
{
    std::string shown = value.substr(0, 24);
    for (char& c : shown)
        if ((unsigned char)c < 0x20 || (unsigned char)c == 0x7F)
            c = '.';
    static const char* const kKinds[] = {"text", "text", "a whole number", "a byte count", "a number of seconds",
                                         "a number of bytes a second", "words"};
    return std::string(f.name) + " \"" + shown + (value.size() > 24 ? "...\"" : "\"") + " is not " + kKinds[f.kind];
}

} // namespace

void SetCode(UnitRecord* r, int code)
{
    r->code = code;
    r->result = code == kExitInstalled ? "PASS" : code == kExitCancelled ? "CANCELLED" : "FAIL";
}

std::string LogHeader()
{
    std::string header;
    for (const RecordField* f : kColumns.at)
        header += std::string(header.empty() ? "" : ",") + f->name;
    return header + "\n";
}

std::string LogLine(const UnitRecord& r)
{
    std::string line;
    for (const RecordField* f : kColumns.at) {
        if (f != kColumns.at[0])
            line += ',';
        line += CsvField(LogText(*f, r));
    }
    return line + "\n";
}

std::string ResultEvent(const UnitRecord& r)
{
    JsonObject o = JsonObject::Event("result");
    for (const RecordField& f : kRecordFields)
        EventValue(o, f, r);
    return o.Done();
}

bool ReadLogFields(std::vector<std::string>& fields, UnitRecord* r, std::string* problem)
{
    bool ok = true;
    for (size_t column = 0; column < fields.size() && column < size_t(kLogColumns); ++column) {
        const RecordField& f = *kColumns.at[column];
        if (!ReadField(f, fields[column], r) && ok) {
            *problem = Problem(f, fields[column]);
            ok = false;
        }
    }
    return ok;
}

bool ReadEventValues(std::map<std::string, std::string>& values, UnitRecord* r, std::string* problem)
{
    bool ok = true;
    for (const RecordField& f : kRecordFields) {
        const auto it = values.find(f.name);
        if (it != values.end() && !ReadField(f, it->second, r) && ok) {
            *problem = Problem(f, it->second);
            ok = false;
        }
    }
    return ok;
}

std::string NowIso()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string Fixed(double value, int decimals)
{
    char text[48];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    for (char& c : text)
        if (c == ',')
            c = '.';
    return text;
}
