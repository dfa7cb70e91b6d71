// Taking records out of the spool: each sent with an HTTP POST, oldest
// first, and removed only once the server has answered 2xx.
#ifndef ORVANE_CLI_DELIVER_SENDER_H
#define ORVANE_CLI_DELIVER_SENDER_H

#include "orvane/cli/deliver/http.h"
#include "orvane/cli/deliver/spool.h"

#include <condition_variable>
#include <mutex>
#include <thread>

// What becomes of a record after an answer (status 0: none came).
enum class Fate
{
    kDelivered,   // 2xx: the server has it; removed from the spool
    kRetry,       // no answer, 408, 429, 5xx (and anything else that is not 2xx or 4xx): sent again later
    kRejected     // any other 4xx: the server will never take it; moved to rejected/ with the answer
};
Fate Judge(int status);

// The wait before trying again after the nth failure in a row: 200 ms,
// doubling up to 10 s, give or take a quarter so that benches that lost the
// server together do not come back together.
int BackOffMs(int failures, unsigned random);

// The request's time limit, connecting included.
const int kRequestTimeoutMs = 10000;

struct Target
{
    std::string url;
    HttpHeaders headers;   // from the job file (an API token): sent, never shown
};

struct Attempt
{
    std::string name;      // the record's file
    size_t waiting = 0;    // the records that waited, this one included
    Fate fate = Fate::kRetry;
    HttpAnswer answer;
};

// Sends the oldest waiting record once and acts on the answer.  False when
// no record waits.
bool SendOldest(const Spool& spool, HttpClient& client, const Target& target, Attempt* attempt);

// "HTTP 500: <the answer's first line>" or "no answer: <why>".
std::string Describe(const HttpAnswer& answer);

// The background sender of a run: a thread that sends whatever waits in the
// spool, whoever put it there, for as long as the run lasts.  Only one
// process sends from a spool at a time (SpoolLock); another one's sender
// waits until the lock is free.  Nothing here ever blocks the caller but
// Stop.
class Sender
{
public:
    Sender(const std::string& folder, Target target, int timeoutMs = kRequestTimeoutMs);
    ~Sender();
    void Start();
    // A record was put: look now rather than at the next turn.
    void Wake();
    // Ends the thread: it goes on up to graceMs while records wait and the
    // server takes them, then a request in flight is abandoned (the record
    // stays, to be sent again with its key).  False when the request would
    // not end within a second more: the thread is left to the process's end,
    // and this object must then outlive it (never be destroyed).
    bool Stop(int graceMs);

    long Sent() const;
    long Rejected() const;
    // Records sent by this sender, waiting in the spool at its last look,
    // and in rejected/ (from before this run too).
    struct Counts
    {
        long sent = 0, waiting = 0, rejected = 0;
        bool operator!=(const Counts& o) const { return sent != o.sent || waiting != o.waiting || rejected != o.rejected; }
    };
    Counts Now() const;
    // What the sender has to say (a rejected record, the server lost and
    // found again), once each, for the caller to show.
    std::vector<std::string> TakeNotices();

private:
    void Run();
    void Notice(const std::string& text);   // under mutex_

    std::string folder_;
    Target target_;
    std::atomic<bool> abort_{false};
    std::unique_ptr<HttpClient> client_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false, ending_ = false, finished_ = false;
    long sent_ = 0, rejected_ = 0, waiting_ = 0, rejectedBefore_ = 0;
    std::vector<std::string> notices_;
};

#endif
