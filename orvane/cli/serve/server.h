// The bench view's HTTP server (cpp-httplib): the page's files, the whole
// state (/state) and a stream of changes (/events, Server-Sent Events), all
// read-only.  It runs on threads of its own; the run hands it changes
// through Change, which never waits for a browser: each open page has a
// bounded queue, and a page that falls behind loses its queue and is sent
// the whole state instead once it reads again.
#ifndef ORVANE_CLI_SERVE_SERVER_H
#define ORVANE_CLI_SERVE_SERVER_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

class PageServer
{
public:
    // snapshot: the whole state as one message; called under the lock that
    // Change holds, so it sees every change whole.
    explicit PageServer(std::function<std::string()> snapshot);
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    // Binds host:port (port 0: a free one) and serves until Stop or the end
    // of the process.  False with a reason when it cannot bind.
    bool Start(const std::string& host, int port, std::string* error);
    int Port() const;
    // Runs change under the lock and queues the messages it returns for
    // every open page.
    void Change(const std::function<std::vector<std::string>()>& change);
    // Waits until every open page has been sent what was queued for it, or
    // for limitMs at most (a run that ends lets its last events go out).
    void Drain(int limitMs);
    // Open event streams (for the tests).
    size_t Streams() const;
    void Stop();

    // Pages that fall this far behind are sent the whole state instead.
    static const size_t kMaxQueued = 256 * 1024;
    // Event streams at once; one more is answered 503.
    static const size_t kMaxStreams = 40;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// "[ADDR:]PORT" (ADDR an IPv4 address, a name, or [IPv6]); false when it is
// not one.  Without ADDR the host is 127.0.0.1.
bool ParseServeAddress(const std::string& text, std::string* host, int* port);

#endif
