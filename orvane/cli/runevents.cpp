#include "orvane/cli/runevents.h"

#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/events.h"
#include "orvane/cli/ports.h"

#include <cstdio>

std::string PortLabel(const Options& o, size_t i)
{
    std::string label = o.ports[i];
    if (i < o.portsGiven.size() && o.portsGiven[i] != o.ports[i])
        label = o.portsGiven[i] + " = " + o.ports[i];
    const std::string device = PortDevice(o.ports[i]);
    if (device != o.ports[i] && device != "\\\\.\\" + o.ports[i])
        label += " -> " + device;
    return label;
}

namespace {

std::string Labels(const Options& o)
{
    std::string labels;
    for (size_t i = 0; i < o.ports.size(); ++i)
        labels += (i ? ", " : "") + PortLabel(o, i);
    return labels;
}

} // namespace

void Banner(Screen& screen, const Options& o, const ImageInfo& image)
{
    screen.Note(0, "orvane-cli: " + image.name + ", " + std::to_string(image.size) + " bytes, SHA-256 " +
                       image.sha256.substr(0, 16) + "...; " + Labels(o) + " at " + std::to_string(o.rate) + " baud" +
                       (o.station ? "; station: Ctrl+C ends it" : ""));
}

std::string ErrorEvent(int code, const std::string& text)
{
    // One line: a list of candidates goes on after "; ".
    std::string line;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '\n') {
            line += text[at];
            continue;
        }
        line += "; ";
        while (at + 1 < text.size() && text[at + 1] == ' ')
            ++at;
    }
    return JsonObject::Event("error").Int("code", code).Str("text", line).Done();
}

void UsageError(bool json, int code, const std::string& text)
{
    std::fprintf(stderr, "orvane-cli: %s\n", text.c_str());
    if (json)
        std::printf("%s\n", ErrorEvent(code, text).c_str());
    std::fflush(stdout);
}

std::string Counted(int pass, int fail)
{
    return std::to_string(pass + fail) + " units: " + std::to_string(pass) + " PASS, " + std::to_string(fail) + " FAIL";
}

void StartEvent(Screen& screen, const Options& o)
{
    if (!o.Events())
        return;
    std::vector<std::string> devices;
    for (const std::string& port : o.ports)
        devices.push_back(PortDevice(port));
    JsonObject options;
    options.Int("rate", (long long)o.rate)
        .Int("normal_rate", (long long)o.normalRate)
        .NumOrNull("verdict_timeout", o.verdictTimeout, 3)
        .NumOrNull("wake_timeout", o.wakeTimeout, 3)
        .Int("retries", o.retries)
        .Bool("station", o.station || o.watch)
        .Bool("check", o.check)
        .StrOrNull("expect_model", ModelName(o.expectModel))
        .StrOrNull("sha256", o.sha256)
        .StrOrNull("log", o.log)
        .StrOrNull("job", o.job);
    JsonObject start = JsonObject::Event("start");
    start.Str("version", ToolVersion())
        .Str("image", o.image)
        .Strs("ports", o.ports)
        .Strs("ports_given", o.portsGiven)
        .Strs("devices", devices);
    if (o.watch) {
        options.Bool("watch", true);
        start.Strs("matches", o.matches);
    }
    // What the bench and its image are, for the bench view's header.
    ImageInfo image;
    std::string error, reasonCode;
    if (InspectImage(o.image, "", &image, &error, &reasonCode))
        start.Int("size", (long long)image.size).Str("sha256", image.sha256);
    const std::pair<const char*, const std::string*> texts[] = {
        {"image_label", &o.imageLabel}, {"operator", &o.operatorName}, {"bench", &o.bench}};
    for (const auto& t : texts)
        if (!t.second->empty())
            start.Str(t.first, *t.second);
    if (!o.slots.empty()) {
        JsonArray slots;
        for (const auto& slot : o.slots)
            slots.Add(JsonObject().Str("port", slot.first).Str("name", slot.second).Done());
        start.Raw("slots", slots.Done());
    }
    screen.Event(start.Raw("options", options.Done()).Done());
}

// Every port's exit code and counts, and the whole run's code.
void SummaryEvent(Screen& screen, bool json, int code, const std::vector<std::string>& ports,
                  const std::vector<int>& codes, const std::vector<int>& pass, const std::vector<int>& fail)
{
    if (!json)
        return;
    JsonArray list;
    int allPass = 0, allFail = 0;
    for (size_t i = 0; i < codes.size(); ++i) {
        list.Add(JsonObject()
            .Str("port", ports[i])
            .Int("code", codes[i])
            .Int("units", pass[i] + fail[i])
            .Int("passed", pass[i])
            .Int("failed", fail[i])
            .Done());
        allPass += pass[i];
        allFail += fail[i];
    }
    JsonObject summary = JsonObject::Event("summary");
    summary.Int("code", code).Int("units", allPass + allFail).Int("passed", allPass).Int("failed", allFail);
    summary.Raw("ports", list.Done());
    if (!DeliverySummaryJson().empty())   // --deliver: the records sent, waiting and rejected
        summary.Raw("delivery", DeliverySummaryJson());
    screen.Event(summary.Done());
}
