#include "orvane/cli/check.h"

#include "orvane/cli/events.h"
#include "orvane/cli/image.h"
#include "orvane/cli/ports.h"
#include "orvane/cli/runevents.h"
#include "orvane/cli/system.h"
#include "orvane/cli/watch.h"

int RunCheck(const Options& o)
{
    Screen screen(Screen::kPlain, 1, ConsoleWidth(), o.json ? stderr : stdout);
    StartEvent(screen, o);
    int code = kExitInstalled;
    std::vector<std::string> problems, warnings;
    ImageInfo image;
    image.name = BaseName(o.image);
    std::string error, reasonCode;
    const bool imageOk = InspectImage(o.image, o.sha256, &image, &error, &reasonCode);
    if (!imageOk) {
        code = kExitImage;
        problems.push_back(error);
    } else {
        const std::string large = ImageTooLarge(image, o.expectModel);
        if (!large.empty())
            warnings.push_back(large);
    }
    screen.Note(0, "orvane-cli --check: " + image.name + ", " +
                       (image.size ? std::to_string(image.size) + " bytes, SHA-256 " + image.sha256 : "unreadable") +
                       (o.sha256.empty() ? "" : image.sha256 == o.sha256 ? " (matches --sha256)" : " (not --sha256's)"));
    screen.Note(0, "  installation rate " + std::to_string(o.rate) + " baud, normal rate " +
                       std::to_string(o.normalRate) + " baud" +
                       (o.expectModel ? std::string(", expecting an ") + ModelName(o.expectModel) : "") +
                       (o.retries ? ", up to " + std::to_string(o.retries) + " retries" : "") +
                       (o.station ? ", as a station" : ""));
    // The problems a run meets, in the order it meets them: the image, each
    // port's unit ids, the port itself, and at the unit's end its log line.
    std::string logWhy;
    const bool logOk = o.log.empty() || CanAppend(o.log, &logWhy);
    if (!logOk)
        logWhy = "the log " + logWhy;
    std::vector<PortInfo> known = o.unitIdFrom.empty() ? std::vector<PortInfo>() : ListPorts(false);
    // --watch: the ports that match now, each as a station would start on it.
    std::vector<std::string> names = o.ports, given = o.portsGiven;
    if (o.watch) {
        std::string matches;
        for (const std::string& m : o.matches)
            matches += (matches.empty() ? "" : ", ") + m;
        known = MatchingPorts(o);
        names.clear();
        for (const PortInfo& p : known)
            names.push_back(p.name);
        given = names;
        screen.Note(0, "  watching " + matches + ": " + std::to_string(names.size()) + " ports match now");
    }
    JsonArray ports;
    std::vector<int> codes;
    int idsCode = kExitInstalled, portCode = kExitInstalled;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string why, ids, idsWhy;
        const bool present = PortPresent(names[i], &why);
        const bool idsOk = o.unitIdFrom.empty() ||
                           (UnitIdPath(o, names[i], AdapterSerial(names[i], known), &ids, &idsWhy) &&
                            ByteSource::Readable(ids, &idsWhy));
        codes.push_back(!imageOk ? kExitImage : !idsOk ? kExitUsage : !present ? kExitPort : !logOk ? kExitLog : kExitInstalled);
        screen.Note(0, "  port " + (o.watch ? names[i] : PortLabel(o, i)) + (present ? "" : ": " + why) +
                           (ids.empty() ? "" : ", unit ids from " + ids));
        if (!idsOk) {
            problems.push_back(names[i] + ": " + idsWhy);
            idsCode = kExitUsage;
        }
        if (!present) {
            problems.push_back(names[i] + ": " + why);
            portCode = kExitPort;
        }
        ports.Add(JsonObject()
            .Str("port", names[i])
            .Str("given", i < given.size() ? given[i] : names[i])
            .Str("device", PortDevice(names[i]))
            .Bool("present", present)
            .Done());
    }
    if (!logOk)
        problems.push_back(logWhy);
    if (code == kExitInstalled)
        code = idsCode != kExitInstalled ? idsCode : portCode != kExitInstalled ? portCode : logOk ? code : kExitLog;
    for (const std::string& w : warnings)
        screen.Note(0, "  warning: " + w);
    for (const std::string& p : problems)
        screen.Note(0, "  problem: " + p);
    screen.Note(0, std::string("orvane-cli --check: ") + (code ? "would not run" : "would run") + "; nothing was sent; exit " +
                       std::to_string(code));
    if (o.json) {
        screen.Event(JsonObject::Event("check")
                         .Int("code", code)
                         .Str("image", image.name)
                         .Int("size", (long long)image.size)
                         .StrOrNull("sha256", image.sha256)
                         .Int("rate", (long long)o.rate)
                         .Int("normal_rate", (long long)o.normalRate)
                         .StrOrNull("expect_model", ModelName(o.expectModel))
                         .Raw("ports", ports.Done())
                         .Strs("warnings", warnings)
                         .Strs("problems", problems)
                         .Done());
        SummaryEvent(screen, o.json, code, names, codes, std::vector<int>(codes.size(), 0),
                     std::vector<int>(codes.size(), 0));
    }
    return code;
}
