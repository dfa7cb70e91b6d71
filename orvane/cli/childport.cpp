#include "orvane/cli/childport.h"

#include "orvane/cli/deliver/deliver.h"
#include "orvane/cli/events.h"
#include "orvane/cli/identity.h"
#include "orvane/cli/logfile.h"
#include "orvane/cli/station.h"
#include "orvane/cli/system.h"

#include <cstdlib>
#include <map>

namespace {

using Clock = std::chrono::steady_clock;

// How the process ended, in words.
std::string Ending(int exitCode)
{
#ifndef _WIN32
    if (exitCode > 128)
        return "signal " + std::to_string(exitCode - 128);
#endif
    return "exit code " + std::to_string(exitCode);
}

// Appends the record unless the child logged it before it died (its start,
// port and attempt are in the log): then that line is the record.  The id
// flags are worked out as the child would have, under the log's lock.
void Log(const Options& o, UnitRecord* r, Screen& screen)
{
    SeenIds seen;
    bool logged = false;
    std::vector<std::string> fields;
    UnitRecord found = *r;
    std::string error;
    const bool ok = AppendLockedAfter(
        o.log, LogHeader(), &seen.logOffset,
        [&](const std::string& line) {
            seen.FromLog(line, o.bench);
            std::string problem;
            if (SplitCsv(line, &fields) && fields.size() > kColAttempt && fields[kColStart] == r->start &&
                fields[kColPort] == r->port && fields[kColAttempt] == std::to_string(r->attempt) &&
                ReadLogFields(fields, &found, &problem))
                logged = true;
        },
        [&] {
            if (logged)
                return std::string();
            if (r->attempt == 1 && (!o.unitIdFrom.empty() || !o.unitId.empty())) {
                const std::string flag = seen.Flag(r->unitId);
                if (!flag.empty())
                    r->flags = {flag};
            }
            return LogLine(*r);
        },
        &error);
    if (logged) {
        for (size_t i = 0; i < kReasonCodeCount; ++i)
            if (found.reasonCode == kReasonCodes[i].name)
                SetCode(&found, kReasonCodes[i].code);
        *r = found;
    } else if (!ok) {
        LogUnwritten(screen, o, r, error);
    }
}

} // namespace

bool ChildPort::Take(const std::string& line)
{
    std::string text;
    if (Screen::TagOf(line, Screen::kTagAttempt, &text)) {
        std::map<std::string, std::string> values;
        UnitRecord r;
        std::string problem;
        if (ParseFlatJson(text, &values) && ReadEventValues(values, &r, &problem)) {
            record_ = r;
            open_ = true;
            heard_ = Clock::now();
        }
        return true;
    }
    if (Screen::TagOf(line, Screen::kTagRecorded, &text)) {
        open_ = false;
        uncounted_ = std::atoi(text.c_str());
        return true;
    }
    if (Screen::TagOf(line, Screen::kTagCounts, &text)) {
        const size_t tab = text.rfind('\t');
        const int code = tab == std::string::npos ? 0 : std::atoi(text.c_str() + tab + 1);
        if (firstCode_ == kExitInstalled)
            firstCode_ = code;
        uncounted_ = -1;
    }
    return false;
}

int ChildPort::Ended(int exitCode, Screen& screen, int row, const Options& o, int* pass, int* fail)
{
    if (!open_ && exitCode >= kExitInstalled && exitCode <= kExitDelivery)
        return exitCode;
    if (open_) {
        open_ = false;
        UnitRecord r = record_;
        SetCode(&r, kExitProcessEnded);
        r.reasonCode = "process_ended";
        r.reason = "orvane-cli's process for this port ended (" + Ending(exitCode) + ")";
        r.verdict.clear();
        r.bytesPerSecond = 0;
        r.seconds += std::chrono::duration<double>(Clock::now() - heard_).count();
        if (!o.log.empty())
            Log(o, &r, screen);
        SpoolRecord(screen, o, r);
        screen.Note(row, r.port + "  " + r.result + (r.code ? " (exit " + std::to_string(r.code) + ")" : "") +
                             (r.unitId.empty() ? "" : "  unit " + r.unitId) +
                             (r.reason.empty() ? "" : "  reason: " + r.reason));
        if (o.Events())
            screen.Event(ResultEvent(r));
        uncounted_ = r.code;
    }
    if (uncounted_ >= 0) {
        if (uncounted_ == kExitInstalled)
            ++*pass;
        else if (uncounted_ != kExitCancelled)
            ++*fail;
        if (firstCode_ == kExitInstalled)
            firstCode_ = uncounted_;
        uncounted_ = -1;
    }
    return firstCode_ != kExitInstalled ? firstCode_ : kExitProcessEnded;
}
