#include "orvane/cli/deliver/sender.h"

#include "orvane/version.h"

#include <cctype>
#include <chrono>
#include <random>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower((unsigned char)c));
    return text;
}

} // namespace

std::string UrlHost(const std::string& url, bool* https)
{
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return std::string();
    const std::string name = Lower(url.substr(0, scheme));
    if (name != "http" && name != "https")
        return std::string();
    *https = name == "https";
    std::string authority = url.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority = authority.substr(at + 1);
    if (!authority.empty() && authority[0] == '[') {
        const size_t close = authority.find(']');
        return close == std::string::npos ? std::string() : authority.substr(1, close - 1);
    }
    return authority.substr(0, authority.find(':'));
}

bool IsLoopback(const std::string& host)
{
    const std::string h = Lower(host);
    if (h == "localhost" || h == "::1")
        return true;
    return h.rfind("127.", 0) == 0 && h.find_first_not_of("0123456789.") == std::string::npos;
}

Fate Judge(int status)
{
    if (status >= 200 && status <= 299)
        return Fate::kDelivered;
    if (status >= 400 && status <= 499 && status != 408 && status != 429)
        return Fate::kRejected;
    return Fate::kRetry;
}

int BackOffMs(int failures, unsigned random)
{
    int ms = 200;
    for (int i = 1; i < failures && ms < 10000; ++i)
        ms *= 2;
    ms = ms < 10000 ? ms : 10000;
    return ms * 3 / 4 + int(random % unsigned(ms / 2 + 1));
}

std::string Describe(const HttpAnswer& a)
{
    if (a.status == 0)
        return "no answer: " + a.error;
    std::string line;
    for (char c : a.body.substr(0, a.body.find('\n')))
        if ((unsigned char)c >= 0x20 && c != 0x7F && line.size() < 100)
            line += c;
    return "HTTP " + std::to_string(a.status) + (line.empty() ? "" : ": " + line);
}

bool SendOldest(const Spool& spool, HttpClient& client, const Target& target, Attempt* attempt)
{
    const std::vector<std::string> waiting = spool.Waiting();
    attempt->waiting = waiting.size();
    for (const std::string& name : waiting) {
        std::string record;
        if (!spool.Read(name, &record))
            continue;   // taken by a sender that had the spool before this one
        HttpHeaders headers = target.headers;
        headers.emplace_back("Content-Type", "application/json");
        headers.emplace_back("Idempotency-Key", RecordKey(name));
        headers.emplace_back("User-Agent", "orvane-cli/" ORVANE_VERSION);
        attempt->name = name;
        attempt->answer = client.Send(target.url, headers, record, false);
        attempt->fate = Judge(attempt->answer.status);
        if (attempt->fate == Fate::kDelivered)
            spool.Remove(name);
        else if (attempt->fate == Fate::kRejected)
            spool.Reject(name, "HTTP " + std::to_string(attempt->answer.status) + "\n" + attempt->answer.body);
        return true;
    }
    return false;
}

Sender::Sender(const std::string& folder, Target target, int timeoutMs)
    : folder_(folder), target_(std::move(target)), client_(MakeHttpClient(timeoutMs, &abort_))
{
}

Sender::~Sender()
{
    Stop(0);
}

void Sender::Start()
{
    thread_ = std::thread([this] { Run(); });
}

void Sender::Wake()
{
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    wake_.notify_all();
}

bool Sender::Stop(int graceMs)
{
    if (!thread_.joinable())
        return true;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ending_ = true;
        wake_.notify_all();
        wake_.wait_for(lock, std::chrono::milliseconds(graceMs), [&] { return finished_; });
    }
    abort_ = true;
    client_->Abort();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.notify_all();
        if (!wake_.wait_for(lock, std::chrono::seconds(1), [&] { return finished_; })) {
            thread_.detach();
            return false;
        }
    }
    thread_.join();
    return true;
}

long Sender::Sent() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
}

long Sender::Rejected() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return rejected_;
}

Sender::Counts Sender::Now() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return Counts{sent_, waiting_, rejectedBefore_ + rejected_};
}

std::vector<std::string> Sender::TakeNotices()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> notices;
    notices.swap(notices_);
    return notices;
}

void Sender::Notice(const std::string& text)
{
    notices_.push_back(text);
}

void Sender::Run()
{
    Spool spool;
    std::string error;
    spool.Open(folder_, &error);
    SpoolLock lock;
    std::minstd_rand random(std::random_device{}());
    int failures = 0;
    bool otherNoted = false;
    const long rejectedBefore = long(spool.Rejected());
    std::unique_lock<std::mutex> guard(mutex_);
    rejectedBefore_ = rejectedBefore;
    while (!abort_ && !(ending_ && failures > 0)) {
        if (!lock.Try(folder_)) {
            if (ending_)
                break;
            if (!otherNoted)
                Notice("another orvane-cli sends from the spool " + folder_ + "; this one takes over when it ends");
            otherNoted = true;
            wake_.wait_for(guard, std::chrono::seconds(1), [&] { return ending_ || abort_.load(); });
            continue;
        }
        guard.unlock();
        Attempt a;
        const bool sent = SendOldest(spool, *client_, target_, &a);
        guard.lock();
        waiting_ = long(a.waiting) - (sent && a.fate != Fate::kRetry ? 1 : 0);
        if (!sent) {
            if (ending_)
                break;
            wake_.wait_for(guard, std::chrono::milliseconds(250), [&] { return woken_ || ending_ || abort_.load(); });
            woken_ = false;
            continue;
        }
        if (abort_)
            break;
        switch (a.fate) {
        case Fate::kDelivered:
            ++sent_;
            if (failures > 0)
                Notice("delivering again: the server took a record; " + std::to_string(spool.Waiting().size()) +
                       " wait");
            failures = 0;
            break;
        case Fate::kRejected:
            ++rejected_;
            Notice("the server rejected record " + RecordKey(a.name) + " (" + Describe(a.answer) + "); it is kept in " +
                   folder_ + "/rejected with the answer");
            break;
        case Fate::kRetry:
            if (++failures == 1)
                Notice("the server did not take a record (" + Describe(a.answer) +
                       "); records wait in the spool and are sent again");
            wake_.wait_for(guard, std::chrono::milliseconds(BackOffMs(failures, unsigned(random()))),
                           [&] { return ending_ || abort_.load(); });
            break;
        }
    }
    finished_ = true;
    wake_.notify_all();
}
