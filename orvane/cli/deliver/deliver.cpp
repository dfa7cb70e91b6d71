#include "orvane/cli/deliver/deliver.h"

#include "orvane/cli/deliver/sender.h"
#include "orvane/cli/deliver/spool.h"
#include "orvane/cli/events.h"
#include "orvane/cli/options.h"
#include "orvane/cli/record.h"
#include "orvane/cli/screen.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>

namespace {

// How long the end of a run gives the sender to send what waits.
const int kEndGraceMs = 2000;
// `deliver` gives up after this many failures in a row.
const int kDeliverTries = 5;
// The URL a spool's records go to, remembered for `deliver SPOOL`.
const char kUrlFile[] = "/.deliver-url";

Spool gSpool;
bool gOn = false;
bool gPutFailed = false;
std::unique_ptr<Sender> gSender;
std::string gUrl, gSummary;
std::string gPrepared;   // the record PrepareRecord wrote, to be committed

// The URL without what may be secret: user and password, query, fragment.
std::string Shown(const std::string& url)
{
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return url;
    std::string rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("?#"));
    const size_t path = rest.find('/');
    const size_t at = rest.substr(0, path).rfind('@');
    if (at != std::string::npos)
        rest = rest.substr(at + 1);
    return url.substr(0, scheme + 3) + rest;
}

std::string ReadUrlFile(const std::string& spool)
{
    std::string url;
    if (std::FILE* f = std::fopen((spool + kUrlFile).c_str(), "rb")) {
        char line[2048];
        if (std::fgets(line, sizeof(line), f))
            url = line;
        std::fclose(f);
    }
    while (!url.empty() && (url.back() == '\n' || url.back() == '\r'))
        url.pop_back();
    return url;
}

} // namespace

std::string DefaultSpool(const std::string& log)
{
    const size_t slash = log.find_last_of("/\\");
    const size_t dot = log.rfind('.');
    const bool extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (extension ? log.substr(0, dot) : log) + ".spool";
}

bool DeliveryUrlOk(const std::string& url, bool allowHttp, std::string* error)
{
    bool https = false;
    const std::string host = UrlHost(url, &https);
    for (unsigned char c : url)
        if (c <= 0x20 || c == 0x7F) {
            *error = "--deliver takes a URL without spaces or control bytes";
            return false;
        }
    if (host.empty()) {
        *error = "--deliver takes an http:// or https:// URL with a host, not \"" + Shown(url) + "\"";
        return false;
    }
    if (!https && !allowHttp && !IsLoopback(host)) {
        *error = "--deliver " + Shown(url) + ": plain HTTP leaves this machine unprotected; use https://, or say "
                 "--allow-http (job key allow-http = yes) to send it anyway";
        return false;
    }
    return true;
}

bool ParseHeader(const std::string& line, std::pair<std::string, std::string>* header)
{
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string name = line.substr(0, colon), value = line.substr(colon + 1);
    while (!value.empty() && value[0] == ' ')
        value.erase(0, 1);
    for (unsigned char c : name)
        if (!(std::isalnum(c) || c == '-' || c == '_'))
            return false;
    for (unsigned char c : value)
        if (c < 0x20 || c == 0x7F)
            return false;
    *header = {name, value};
    return true;
}

bool DeliveryBegin(const std::string& spool, const std::string& url, const HttpHeaders& headers,
                   std::string* error)
{
    if (!gSpool.Open(spool, error))
        return false;
    gOn = true;
    if (url.empty())
        return true;
    gUrl = url;
    if (ReadUrlFile(spool) != url)
        if (std::FILE* f = std::fopen((spool + kUrlFile).c_str(), "wb")) {
            std::fprintf(f, "%s\n", url.c_str());
            std::fclose(f);
        }
    gSender = std::make_unique<Sender>(spool, Target{url, headers});
    gSender->Start();
    return true;
}

bool DeliveryOn()
{
    return gOn;
}

bool DeliveryPutFailed()
{
    return gPutFailed;
}

void DeliveryWake()
{
    if (gSender)
        gSender->Wake();
}

std::vector<std::string> DeliveryNotices()
{
    std::vector<std::string> notices;
    if (gSender)
        for (const std::string& n : gSender->TakeNotices())
            notices.push_back("orvane-cli: delivery: " + n);
    return notices;
}

std::string DeliveryEnd()
{
    if (!gSender)
        return std::string();
    Sender* sender = gSender.get();
    if (!sender->Stop(kEndGraceMs))
        gSender.release();   // a request that will not end: left to the process's end
    const size_t waiting = gSpool.Waiting().size(), rejected = gSpool.Rejected();
    gSummary = JsonObject()
                   .Str("spool", gSpool.Folder())
                   .Int("sent", sender->Sent())
                   .Int("waiting", (long long)waiting)
                   .Int("rejected", (long long)rejected)
                   .Done();
    const std::string line = "orvane-cli: delivery to " + Shown(gUrl) + ": " + std::to_string(sender->Sent()) +
                             " sent, " + std::to_string(waiting) + " waiting in " + gSpool.Folder() + ", " +
                             std::to_string(rejected) + " rejected" +
                             (waiting ? "; orvane-cli deliver " + gSpool.Folder() + " sends them" : "");
    return line;
}

std::string DeliverySummaryJson()
{
    return gSummary;
}

void PrepareRecord(const std::string& record)
{
    std::string error;
    gPrepared = gOn && gSpool.Prepare(record, &error) ? record : std::string();
}

void SpoolRecord(Screen& screen, const Options& o, const UnitRecord& r)
{
    if (!gOn)
        return;
    const std::string record = ResultEvent(r);
    std::string error;
    // A record that could not be prepared is tried once more, whole.
    const bool put = !gPrepared.empty() && gPrepared == record ? gSpool.Commit(&error) : gSpool.Put(record, &error);
    gPrepared.clear();
    if (!put) {
        gPutFailed = true;
        SpoolFailure(screen, o, r.port, r.attempt, error.empty() ? "cannot put the record in the spool" : error);
    }
    if (gSender)
        gSender->Wake();
}

// A unit's record that could not be put in the spool: it will not be
// delivered, and the run ends with kExitDelivery unless a unit failed.
void SpoolFailure(Screen& screen, const Options& o, const std::string& port, int attempt, const std::string& error)
{
    const std::string text = error + "; the unit's record is " +
                             (o.log.empty() ? std::string("not delivered") : "in the log " + o.log + " only") +
                             ": put it in the factory's system by hand";
    screen.Note(0, port + "  " + text);
    if (o.Events())
        screen.Event(JsonObject::Event("warning")
                         .Str("port", port)
                         .Int("attempt", attempt)
                         .Str("code", "spool_write")
                         .Str("text", text)
                         .Done());
}

// The sender's notices, as they come, and its counts as they change (a
// "spool" event, which the bench view shows).
void ShowNotices(Screen& screen)
{
    for (const std::string& n : DeliveryNotices())
        screen.Note(0, n);
    static Sender::Counts told;
    static bool toldOnce = false;
    if (!gSender)
        return;
    const Sender::Counts now = gSender->Now();
    if (toldOnce && !(now != told))
        return;
    told = now;
    toldOnce = true;
    screen.Event(JsonObject::Event("spool")
                     .Str("spool", gSpool.Folder())
                     .Int("sent", now.sent)
                     .Int("waiting", now.waiting)
                     .Int("rejected", now.rejected)
                     .Done());
}

// Delivery for this run: the spool checked before anything runs, and the
// sender started here unless this is a child (whose parent sends).
bool BeginDelivery(Screen& screen, const Options& o)
{
    std::string error;
    if (o.spool.empty() || DeliveryBegin(o.spool, o.child ? std::string() : o.deliver, o.deliverHeaders, &error))
        return true;
    screen.Note(0, "orvane-cli: " + error);
    return false;
}

// The end of the run's delivery: the line with its counts.
void EndDelivery(Screen& screen)
{
    const std::string line = DeliveryEnd();
    ShowNotices(screen);
    if (!line.empty())
        screen.Note(0, line);
}

int RunDeliver(const std::vector<std::string>& args)
{
    std::string spool, url, job, error;
    bool allowHttp = false, check = false, json = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--allow-http" || a == "--check" || a == "--json") {
            (a == "--allow-http" ? allowHttp : a == "--check" ? check : json) = true;
        } else if ((a == "--deliver" || a == "--job") && i + 1 < args.size()) {
            (a == "--deliver" ? url : job) = args[++i];
        } else if (a.rfind("--", 0) != 0 && spool.empty()) {
            spool = a;
        } else {
            std::fprintf(stderr, "orvane-cli deliver: %s is not understood (orvane-cli --help tells more)\n", a.c_str());
            return kExitUsage;
        }
    }
    HttpHeaders headers;
    if (!job.empty()) {
        Options o;
        if (!ParseOptions({"--job", job}, &o, &error)) {
            std::fprintf(stderr, "orvane-cli deliver: %s\n", error.c_str());
            return kExitUsage;
        }
        url = url.empty() ? o.deliver : url;
        allowHttp = allowHttp || o.allowHttp;
        headers = o.deliverHeaders;
        if (spool.empty())
            spool = !o.spool.empty() ? o.spool : o.log.empty() ? std::string() : DefaultSpool(o.log);
    }
    if (spool.empty()) {
        std::fprintf(stderr, "orvane-cli deliver: which spool? (orvane-cli deliver SPOOL, or --job FILE)\n");
        return kExitUsage;
    }
    url = url.empty() ? ReadUrlFile(spool) : url;
    if (url.empty()) {
        std::fprintf(stderr, "orvane-cli deliver: %s does not say where its records go: give --deliver URL\n",
                     spool.c_str());
        return kExitUsage;
    }
    Spool s;
    if (!DeliveryUrlOk(url, allowHttp, &error) || !s.Open(spool, &error)) {
        std::fprintf(stderr, "orvane-cli deliver: %s\n", error.c_str());
        return kExitUsage;
    }
    const std::atomic<bool> never{false};
    const std::unique_ptr<HttpClient> client = MakeHttpClient(kRequestTimeoutMs, &never);
    std::FILE* text = json ? stderr : stdout;
    auto finish = [&](int code, long sent, int status, const std::string& answers) {
        const size_t waiting = s.Waiting().size(), rejected = s.Rejected();
        std::fprintf(text, "orvane-cli deliver: %s to %s: %ld sent, %zu waiting, %zu rejected%s; exit %d\n",
                     spool.c_str(), Shown(url).c_str(), sent, waiting, rejected, answers.c_str(), code);
        if (json) {
            JsonObject e = JsonObject::Event("delivery");
            e.Str("spool", spool).Str("url", Shown(url)).Bool("check", check).Int("sent", sent);
            e.Int("waiting", (long long)waiting).Int("rejected", (long long)rejected);
            (status > 0 ? e.Int("status", status) : e.Null("status")).Int("code", code);
            std::printf("%s\n", e.Done().c_str());
        }
        return code;
    };

    if (check) {
        const HttpAnswer a = client->Send(url, headers, std::string(), true);
        return finish(a.status > 0 ? kExitInstalled : kExitDelivery, 0, a.status,
                      a.status > 0 ? "; the server answers (" + Describe(a) + ")"
                                   : "; the server does not answer (" + Describe(a) + ")");
    }
    SpoolLock lock;
    if (!lock.Try(spool))
        return finish(kExitDelivery, 0, 0, "; another orvane-cli is sending from this spool: it sends them");
    long sent = 0, rejectedNow = 0;
    int failures = 0, status = 0;
    std::minstd_rand random(std::random_device{}());
    Attempt a;
    while (failures < kDeliverTries && SendOldest(s, *client, Target{url, headers}, &a)) {
        status = a.answer.status;
        if (a.fate == Fate::kDelivered) {
            ++sent;
            failures = 0;
        } else if (a.fate == Fate::kRejected) {
            ++rejectedNow;
            std::fprintf(text, "orvane-cli deliver: the server rejected record %s (%s); it is kept in %s/rejected\n",
                         RecordKey(a.name).c_str(), Describe(a.answer).c_str(), spool.c_str());
        } else {
            std::fprintf(text, "orvane-cli deliver: the server did not take record %s (%s)\n", RecordKey(a.name).c_str(),
                         Describe(a.answer).c_str());
            if (++failures < kDeliverTries)
                std::this_thread::sleep_for(std::chrono::milliseconds(BackOffMs(failures, unsigned(random()))));
        }
    }
    const bool done = s.Waiting().empty() && rejectedNow == 0;
    return finish(done ? kExitInstalled : kExitDelivery, sent, status, "");
}
