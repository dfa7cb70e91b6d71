#include "orvane/cli/record.h"

#include "orvane/cli/events.h"
#include "orvane/cli/logfile.h"
#include "orvane/cli/outcome.h"
#include "orvane/cli/ports.h"

#include <cstdio>
#include <ctime>

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

const char* UnitReport::Result() const
{
    return code == kExitInstalled ? "PASS" : code == kExitCancelled ? "CANCELLED" : "FAIL";
}

std::string ResultEvent(const UnitReport& r, const std::string& port, const ImageInfo& image)
{
    return JsonObject::Event("result")
        .Str("port", port)
        .Str("device", r.device.empty() ? PortDevice(port) : r.device)
        .Int("attempt", r.attempt)
        .Int("code", r.code)
        .Str("result", r.Result())
        .Str("reason_code", r.reasonCode)
        .StrOrNull("reason", r.reason)
        .StrOrNull("model", r.model)
        .StrOrNull("verdict", r.verdict)
        .StrOrNull("last_received", r.lastReceived)
        .Str("image", image.name)
        .Int("size", (long long)image.size)
        .StrOrNull("sha256", image.sha256)
        .Str("start", r.start)
        .Num("duration_s", r.seconds, 3)
        .NumOrNull("bytes_per_s", r.bytesPerSecond, 0)
        .StrOrNull("unit_id", r.unitId)
        .StrOrNull("operator", r.operatorName)
        .StrOrNull("bench", r.bench)
        .Str("tool_version", r.toolVersion)
        .StrOrNull("image_label", r.imageLabel)
        .StrOrNull("adapter", r.adapter)
        .StrOrNull("boot_line", r.bootLine)
        .Strs("flags", r.flags)
        .Done();
}

void Stamp(UnitReport* r, const Options& o)
{
    r->operatorName = o.operatorName;
    r->bench = o.bench;
    r->toolVersion = ToolVersion();
    r->imageLabel = o.imageLabel;
    r->adapter = o.adapter;
}

UnitReport EarlyFailure(int code, const std::string& reason, const std::string& reasonCode)
{
    UnitReport r;
    r.start = NowIso();
    r.code = code;
    r.reason = reason;
    r.reasonCode = reasonCode;
    const std::string advice = Advice(code, false);
    if (!advice.empty())
        r.reason += "; check " + advice;
    return r;
}

std::string LogLine(const UnitReport& r, const std::string& port, const ImageInfo& image)
{
    std::string flags;
    for (const std::string& f : r.flags)
        flags += (flags.empty() ? "" : " ") + f;
    const std::string fields[] = {
        r.start, port, r.model, image.name, image.size ? std::to_string(image.size) : "", image.sha256,
        Fixed(r.seconds, 1), r.bytesPerSecond > 0 ? Fixed(r.bytesPerSecond, 0) : "", r.Result(), r.reason,
        std::to_string(r.attempt), r.reasonCode, r.unitId, r.operatorName, r.bench, r.toolVersion, r.imageLabel,
        r.adapter, r.bootLine, flags,
    };
    std::string line;
    for (const std::string& f : fields) {
        if (!line.empty())
            line += ',';
        line += CsvField(f);
    }
    return line + "\n";
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
