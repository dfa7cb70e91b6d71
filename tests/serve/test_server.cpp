// The bench view's server on a loopback port: what browsers and bad clients
// get, and that no client can hold up the run that hands it changes.
#include "orvane/cli/serve/server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A connection of the test's own: it sends what it is given and reads what
// comes, with a deadline for each read.
struct Raw
{
    int fd = -1;
    explicit Raw(int port, int receiveBuffer = 0)
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, (sockaddr*)&a, sizeof(a)), 0);
    }
    ~Raw() { close(fd); }
    void Send(const std::string& text) { EXPECT_EQ(send(fd, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size())); }
    // Reads until text has come (or the connection ends, or 10 s pass).
    std::string ReadUntil(const std::string& text, size_t limit = 64 << 20)
    {
        std::string got;
        const auto until = std::chrono::steady_clock::now() + 10s;
        char buf[65536];
        while (got.find(text) == std::string::npos && got.size() < limit && std::chrono::steady_clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = recv(fd, buf, sizeof(buf), 0);
            if (n <= 0)
                break;
            got.append(buf, size_t(n));
        }
        return got;
    }
};

std::string Status(const std::string& response)
{
    return response.substr(0, response.find("\r\n"));
}

class Server : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server = std::make_unique<PageServer>([this] { return "{\"type\":\"state\",\"n\":" + std::to_string(n) + "}"; });
        std::string error;
        ASSERT_TRUE(server->Start("127.0.0.1", 0, &error)) << error;
    }
    // A change the run makes: the state's counter, and its message.
    void Change(int count = 1, size_t size = 10)
    {
        for (int i = 0; i < count; ++i)
            server->Change([&] {
                ++n;
                return std::vector<std::string>{"{\"type\":\"slot\",\"n\":" + std::to_string(n) + ",\"pad\":\"" +
                                                std::string(size, 'x') + "\"}"};
            });
    }
    int n = 0;   // changed under the server's lock only
    std::unique_ptr<PageServer> server;
};

// The files, the state, and what bad requests get: the page's requests keep
// working meanwhile, and a change reaches an open stream.
TEST_F(Server, ServesThePageAndRefusesWhatItDoesNotServe)
{
    httplib::Client client("127.0.0.1", server->Port());
    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("<title>orvane bench</title>"), std::string::npos);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(page->get_header_value("Content-Security-Policy").rfind("default-src 'self'", 0), 0u);
    for (const char* path : {"/bench.css", "/bench.js", "/favicon.ico"}) {
        auto r = client.Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 200) << path;
    }
    auto state = client.Get("/state");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->body, "{\"type\":\"state\",\"n\":0}");

    // Connections that send half a request, or nothing.
    std::vector<std::unique_ptr<Raw>> idle;
    for (int i = 0; i < 20; ++i) {
        idle.push_back(std::make_unique<Raw>(server->Port()));
        if (i % 2)
            idle.back()->Send("GET / HTTP/1.1\r\nHost: x\r\n");
    }
    struct Bad
    {
        std::string request, status;
    };
    const Bad bad[] = {
        {"GET /nothing-here HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404 Not Found"},
        {"GET /" + std::string(100000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 414 URI Too Long"},
        {"POST /events HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", "HTTP/1.1 405 Method Not Allowed"},
        {"DELETE /state HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 405 Method Not Allowed"},
        {"GARBAGE\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET / HTTP/1.1\r\n" + std::string(20000, 'h') + ": x\r\n\r\n", "HTTP/1.1 400 Bad Request"},
    };
    for (const Bad& b : bad) {
        Raw raw(server->Port());
        raw.Send(b.request);
        EXPECT_EQ(Status(raw.ReadUntil("\r\n\r\n")), b.status) << b.request.substr(0, 40);
    }

    Raw stream(server->Port());
    stream.Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string first = stream.ReadUntil("\"n\":0}\n\n");
    EXPECT_NE(first.find("Content-Type: text/event-stream"), std::string::npos) << first;
    EXPECT_NE(first.find("data: {\"type\":\"state\",\"n\":0}\n\n"), std::string::npos) << first;
    Change();
    EXPECT_NE(stream.ReadUntil("\"n\":1,").find("data: {\"type\":\"slot\",\"n\":1,"), std::string::npos);
    EXPECT_EQ(client.Get("/")->status, 200) << "with 20 idle connections open";
}

// A page that stops reading: the run's changes go on without waiting for
// it, what it missed is dropped, and it is sent the whole state when it reads
// again.  A page over the limit is told to come back later.
TEST_F(Server, StalledPageNeverHoldsUpTheRunAndCatchesUp)
{
    Raw stalled(server->Port(), 4096);
    stalled.Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_NE(stalled.ReadUntil("\"n\":0}\n\n").find("\"n\":0}"), std::string::npos);
    Raw reader(server->Port());
    reader.Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_NE(reader.ReadUntil("\"n\":0}\n\n").find("\"n\":0}"), std::string::npos);

    // 64 MB of changes while the stalled page reads nothing; the other page
    // reads all along.
    std::atomic<bool> done{false};
    std::string readerGot;
    std::thread readerThread([&] {
        // The last change, as a message or in the whole state (had it
        // fallen behind too).
        while (!done || readerGot.find("\"n\":8000") == std::string::npos) {
            const std::string more = reader.ReadUntil("\"n\":8000", 1 << 20);
            readerGot += more;
            if (readerGot.size() > (8u << 20))
                readerGot.erase(0, readerGot.size() - 4096);
            if (more.empty())
                break;
        }
    });
    auto changes = std::async(std::launch::async, [&] {
        Change(8000, 8000);
        done = true;
    });
    ASSERT_EQ(changes.wait_for(60s), std::future_status::ready) << "the changes waited for a page";
    readerThread.join();
    EXPECT_NE(readerGot.find("\"n\":8000"), std::string::npos) << "the page that reads is up to date";

    // The stalled page reads at last: the state as it is now, and far less
    // than it missed.
    const std::string caughtUp = stalled.ReadUntil("{\"type\":\"state\",\"n\":8000}\n\n");
    EXPECT_NE(caughtUp.find("data: {\"type\":\"state\",\"n\":8000}\n\n"), std::string::npos);
    EXPECT_LT(caughtUp.size(), size_t(8 << 20));

    std::vector<std::unique_ptr<Raw>> pages;
    for (size_t i = server->Streams(); i < PageServer::kMaxStreams; ++i) {
        pages.push_back(std::make_unique<Raw>(server->Port()));
        pages.back()->Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
        pages.back()->ReadUntil("\n\n");
    }
    Raw tooMany(server->Port());
    tooMany.Send("GET /events HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(Status(tooMany.ReadUntil("\r\n\r\n")), "HTTP/1.1 503 Service Unavailable");
}

TEST(ServeAddress, TakesPortOrAddressAndPort)
{
    struct Row
    {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    const Row rows[] = {
        {"8080", true, "127.0.0.1", 8080},   {"0", true, "127.0.0.1", 0},
        {"0.0.0.0:8081", true, "0.0.0.0", 8081}, {"[::1]:9000", true, "::1", 9000},
        {"bench-pc:80", true, "bench-pc", 80}, {"", false, "", 0},
        {":8080", false, "", 0},             {"8080x", false, "", 0},
        {"70000", false, "", 0},             {"::1:80", false, "", 0},
    };
    for (const Row& r : rows) {
        std::string host;
        int port = -1;
        EXPECT_EQ(ParseServeAddress(r.text, &host, &port), r.ok) << r.text;
        if (r.ok) {
            EXPECT_EQ(host, r.host) << r.text;
            EXPECT_EQ(port, r.port) << r.text;
        }
    }
    EXPECT_TRUE(IsLoopback("127.0.0.1"));
    EXPECT_TRUE(IsLoopback("::1"));
    EXPECT_FALSE(IsLoopback("0.0.0.0"));
}

} // namespace
