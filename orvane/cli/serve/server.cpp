#include "orvane/cli/serve/server.h"

#include "orvane/cli/serve/page.h"

// A pending connection queue deep enough for a room's pages connecting at
// once; poll() rather than select() (no limit on descriptor numbers).
#define CPPHTTPLIB_LISTEN_BACKLOG 64
#define CPPHTTPLIB_USE_POLL
#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

namespace {

// Worker threads: every open event stream holds one, and requests for the
// files and half-open connections need some beside them.
const size_t kThreads = PageServer::kMaxStreams + 8;
// An event stream says it is there this often when nothing changes (a
// browser that went away is noticed then).
const auto kHeartbeat = std::chrono::seconds(15);

std::string Sse(const std::string& message)
{
    return "data: " + message + "\n\n";
}

} // namespace

struct PageServer::State
{
    struct Stream
    {
        std::deque<std::string> queued;
        size_t bytes = 0;
        bool resync = true;   // the whole state goes first
    };

    explicit State(std::function<std::string()> s) : snapshot(std::move(s)) {}

    std::function<std::string()> snapshot;
    httplib::Server server;
    std::thread listener;
    int port = 0;

    mutable std::mutex lock;
    std::condition_variable changed;
    std::condition_variable sent;   // a stream's queue has gone out
    std::list<std::shared_ptr<Stream>> streams;
    bool stopping = false;

    void Routes();
    void Events(httplib::Response& res);
};

void PageServer::State::Routes()
{
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    // One request per connection: nothing lingers between requests, and a
    // request that was refused unread cannot leave its body behind.  A
    // connection that sends nothing is dropped after 5 s.
    server.set_keep_alive_max_count(1);
    server.set_keep_alive_timeout(5);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_payload_max_length(1024);
    server.set_tcp_nodelay(true);   // each change leaves at once
    // How often the listener looks up where accept cannot be interrupted.
    server.set_idle_interval(0, 250000);
    server.set_default_headers({{"Cache-Control", "no-store"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Content-Security-Policy", "default-src 'self'; img-src 'self' data:"}});
    // Read-only: only GET and HEAD.
    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "GET" || req.method == "HEAD")
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 405;
        res.set_header("Allow", "GET, HEAD");
        res.set_content("read-only: GET and HEAD only\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(std::to_string(res.status) + " " + httplib::detail::status_message(res.status) + "\n",
                            "text/plain");
    });
    for (const PageFile& f : PageFiles())
        server.Get(f.path, [f](const httplib::Request&, httplib::Response& res) {
            res.set_content(f.data, f.size, f.type);
        });
    server.Get("/state", [this](const httplib::Request&, httplib::Response& res) {
        std::string text;
        {
            std::lock_guard<std::mutex> guard(lock);
            text = snapshot();
        }
        res.set_content(text, "application/json");
    });
    server.Get("/events", [this](const httplib::Request&, httplib::Response& res) { Events(res); });
}

void PageServer::State::Events(httplib::Response& res)
{
    auto stream = std::make_shared<Stream>();
    {
        std::lock_guard<std::mutex> guard(lock);
        if (streams.size() >= kMaxStreams) {
            res.status = 503;
            res.set_header("Retry-After", "10");
            res.set_content("too many pages open\n", "text/plain");
            return;
        }
        streams.push_back(stream);
    }
    auto first = std::make_shared<bool>(true);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, stream, first](size_t, httplib::DataSink& sink) {
            std::string text = *first ? "retry: 1000\n\n" : "";
            *first = false;
            {
                std::unique_lock<std::mutex> guard(lock);
                changed.wait_for(guard, kHeartbeat,
                                 [&] { return stopping || stream->resync || !stream->queued.empty(); });
                if (stopping)
                    return false;
                if (stream->resync) {
                    text += Sse(snapshot());
                    stream->resync = false;
                } else {
                    for (const std::string& m : stream->queued)
                        text += Sse(m);
                }
                stream->queued.clear();
                stream->bytes = 0;
            }
            if (text.empty())
                text = ":\n\n";   // a comment: still here
            // Outside the lock: a browser that does not read holds up only
            // this thread, for the write time-out at most.
            const bool written = sink.write(text.data(), text.size());
            sent.notify_all();
            return written;
        },
        [this, stream](bool) {
            std::lock_guard<std::mutex> guard(lock);
            streams.remove(stream);
        });
}

PageServer::PageServer(std::function<std::string()> snapshot) : state_(new State(std::move(snapshot))) {}

PageServer::~PageServer()
{
    Stop();
}

bool PageServer::Start(const std::string& host, int port, std::string* error)
{
    state_->Routes();
    const int bound = port == 0 ? state_->server.bind_to_any_port(host) : state_->server.bind_to_port(host, port) ? port : -1;
    if (bound <= 0) {
        *error = "cannot serve on " + host + ":" + std::to_string(port) + " (the address is not this machine's, or the port is taken)";
        return false;
    }
    state_->port = bound;
    state_->listener = std::thread([this] { state_->server.listen_after_bind(); });
    return true;
}

int PageServer::Port() const
{
    return state_->port;
}

void PageServer::Change(const std::function<std::vector<std::string>()>& change)
{
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        const std::vector<std::string> messages = change();
        if (messages.empty())
            return;
        for (const auto& stream : state_->streams) {
            if (stream->resync)
                continue;   // it gets the whole state anyway
            for (const std::string& m : messages) {
                stream->queued.push_back(m);
                stream->bytes += m.size();
            }
            if (stream->bytes > kMaxQueued) {
                // Behind: what it missed is in the state it gets next.
                stream->queued.clear();
                stream->bytes = 0;
                stream->resync = true;
            }
        }
    }
    state_->changed.notify_all();
}

void PageServer::Drain(int limitMs)
{
    std::unique_lock<std::mutex> guard(state_->lock);
    state_->sent.wait_for(guard, std::chrono::milliseconds(limitMs), [&] {
        for (const auto& stream : state_->streams)
            if (stream->resync || !stream->queued.empty())
                return false;
        return true;
    });
}

size_t PageServer::Streams() const
{
    std::lock_guard<std::mutex> guard(state_->lock);
    return state_->streams.size();
}

void PageServer::Stop()
{
    if (!state_->listener.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(state_->lock);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    state_->server.stop();
    state_->listener.join();
}

bool ParseServeAddress(const std::string& text, std::string* host, int* port)
{
    std::string h = "127.0.0.1", p = text;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos)
            return false;
        h = text.substr(1, close - 1);
        p = text.substr(close + 2);
    } else if (text.find(':') != std::string::npos) {
        const size_t colon = text.rfind(':');
        h = text.substr(0, colon);
        p = text.substr(colon + 1);
        if (h.find(':') != std::string::npos)
            return false;   // an IPv6 address goes in brackets
    }
    if (h.empty() || p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int n = std::atoi(p.c_str());
    if (n > 65535)
        return false;
    *host = h;
    *port = n;
    return true;
}
