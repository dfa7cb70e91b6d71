#include "orvane/cli/outcome.h"

#include "orvane/cli/options.h"

#include <cstdio>

namespace {

const char* const kStageNames[] = {
    "waking the boot monitor", "after \"flash\"", "preparing (\"p 60\")", "sending the image",
    "waiting for the verdict",
};

// What a technician should look at, by exit code and by whether the run had
// got as far as the image.
struct ADVICE
{
    int code;
    const char* beforeImage;
    const char* fromImage;
};

const ADVICE kAdvice[] = {
    {kExitModuleFailed, "the power (on after removing the LAN card) and the installation rate (--rate)",
     "the image file (the right one for this model?) and the installation rate (--rate)"},
    {kExitNoVerdict, "the cable and the port, and the installation rate (--rate)",
     "the cable and the port, the installation rate (--rate) and the image file"},
    {kExitNoWake, "the power (on after removing the LAN card), the cable and the port, and the installation rate (--rate)",
     "the cable and the port"},
    {kExitImage, "the image file", "the image file"},
    {kExitPort, "the cable and the port (its name, its permissions, another program using it)",
     "the cable, the adapter and the port"},
    {kExitWrongModel, "the module on this port and --expect-model", "the module on this port and --expect-model"},
};

int Code(const RunEnd& e)
{
    if (e.message == kSuccess)
        return kExitInstalled;
    if (e.stalled && e.transferred)
        return kExitPort;
    if (e.message == kFail)
        return e.saw302 || e.earlyVerdictAt >= 0 ? kExitModuleFailed : kExitNoVerdict;
    if (e.stop == kPortGone)
        return kExitPort;
    if (e.stop == kWrongModel)
        return kExitWrongModel;
    if (e.stop == kImageProblem || !e.message.empty())
        return kExitImage;
    if (e.stop == kNoAnswer)
        return kExitNoWake;
    if (e.stop == kCancel)
        return kExitCancelled;
    return kExitNoVerdict;   // closed without a verdict
}

std::string Reason(const RunEnd& e, int code)
{
    Stage stage = e.stage;
    std::string what;
    char text[96];
    const bool fEarly = code == kExitModuleFailed && e.earlyVerdictAt >= 0;
    switch (code) {
    case kExitModuleFailed:
        what = "the module reported failure (302)";
        if (fEarly) {
            std::snprintf(text, sizeof(text), "the module answered 101 with %ld of %llu bytes of the image gone",
                          e.earlyVerdictAt, (unsigned long long)e.size);
            what = std::string(text) + " (it ended the image early)";
        }
        break;
    case kExitNoVerdict:
        std::snprintf(text, sizeof(text), "no verdict %.1f s after the image", e.verdictSeconds);
        what = text;
        break;
    case kExitNoWake:
        std::snprintf(text, sizeof(text), "no answer in %g s", e.wakeTimeout);
        what = text;
        break;
    case kExitImage:
        what = "the image file could not be opened (" + e.message + ")";
        break;
    case kExitPort:
        if (e.stop == kPortGone) {
            what = "the port went away";
            if (e.goneInImage) {
                stage = kImage;
                std::snprintf(text, sizeof(text), " with %llu of %llu bytes taken", (unsigned long long)e.taken,
                              (unsigned long long)e.size);
                what += text;
            }
        } else {
            std::snprintf(text, sizeof(text), "the port stopped taking the image after %llu of %llu bytes",
                          (unsigned long long)e.taken, (unsigned long long)e.size);
            what = text;
        }
        break;
    case kExitWrongModel:
        what = std::string("the module is an ") + ModelName(e.model) + ", not the " + ModelName(e.expectModel) +
               " expected (--expect-model); no image byte sent";
        break;
    case kExitCancelled:
        what = "cancelled (" + e.cancelledBy + ")";
        if (stage == kImage) {
            std::snprintf(text, sizeof(text), " with %llu of %llu bytes sent", (unsigned long long)e.taken,
                          (unsigned long long)e.size);
            what += text;
        }
        break;
    }
    std::string reason = "stopped " + std::string(kStageNames[stage]) + ": " + what;
    reason += "; last received " + (e.lastReceived.empty() ? std::string("nothing") : "\"" + e.lastReceived + "\"");
    // A module ends an image on silence: an early end points at the line, as
    // a port that stops does.
    const std::string advice = Advice(fEarly ? kExitPort : code, stage >= kImage);
    if (!advice.empty())
        reason += "; check " + advice;
    return reason;
}

} // namespace

std::string Advice(int code, bool fromImage)
{
    for (const ADVICE& a : kAdvice)
        if (a.code == code)
            return fromImage ? a.fromImage : a.beforeImage;
    return std::string();
}

UnitRecord EarlyFailure(int code, const std::string& reason, const std::string& reasonCode)
{
    UnitRecord r;
    r.start = NowIso();
    SetCode(&r, code);
    r.reason = reason;
    r.reasonCode = reasonCode;
    const std::string advice = Advice(code, false);
    if (!advice.empty())
        r.reason += "; check " + advice;
    return r;
}

void LogUnwritten(UnitRecord* r, const std::string& error)
{
    if (r->code != kExitInstalled)
        return;
    SetCode(r, kExitLog);
    r->reasonCode = "log_unwritten";
    r->reason = "installed, but its log line could not be written (" + error + "); check the log's folder and its "
                "permissions";
}

RunResult Judge(const RunEnd& e)
{
    RunResult r;
    r.code = Code(e);
    if (r.code != kExitInstalled)
        r.reason = Reason(e, r.code);
    static const char* const kCodes[] = {"installed", "module_failed", "no_verdict", "no_answer",
                                         "image_unreadable", "port_gone", "cancelled", "usage", "wrong_model"};
    r.reasonCode = kCodes[r.code];
    if (r.code == kExitPort && e.stop != kPortGone)
        r.reasonCode = "port_stalled";
    if (r.code == kExitModuleFailed && e.earlyVerdictAt >= 0)
        r.reasonCode = "early_verdict";
    return r;
}
