// The bench view's server on a loopback port: what browsers and bad clients
// get, and that no client can hold up the run that hands it changes.
#include "orvane/cli/serve/server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <future>
#include <memory>
#include <poll.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A connection of the test's own: it sends a request (or part of one) and
// reads, each read with a deadline.
struct Raw
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    Raw(int port, const std::string& request, int receiveBuffer = 0)
    {
        if (receiveBuffer)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd, (sockaddr*)&a, sizeof(a)), 0);
        EXPECT_EQ(send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    }
    ~Raw() { close(fd); }
    // Until text has come, the connection ends, limit bytes or 10 s.
    std::string ReadUntil(const std::string& text, size_t limit = 64 << 20)
    {
        std::string got;
        char buf[65536];
        for (auto until = std::chrono::steady_clock::now() + 10s;
             got.find(text) == std::string::npos && got.size() < limit && std::chrono::steady_clock::now() < until;) {
            pollfd p{fd, POLLIN, 0};
            const ssize_t n = poll(&p, 1, 100) > 0 ? recv(fd, buf, sizeof(buf), 0) : -2;
            if (n == 0 || n == -1)
                break;
            if (n > 0)
                got.append(buf, size_t(n));
        }
        return got;
    }
    std::string Status() { const std::string r = ReadUntil("\r\n"); return r.substr(0, r.find("\r\n")); }
};

const std::string kStream = "GET /events HTTP/1.1\r\nHost: x\r\n\r\n";

class Server : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(server.Start("127.0.0.1", 0, &error)) << error;
    }
    // A change the run makes: the state's counter, and its message.
    void Change(int count, size_t size)
    {
        for (int i = 0; i < count; ++i)
            server.Change([&] {
                return std::vector<std::string>{"{\"type\":\"slot\",\"n\":" + std::to_string(++n) + ",\"pad\":\"" +
                                                std::string(size, 'x') + "\"}"};
            });
    }
    int n = 0;   // changed under the server's lock only
    PageServer server{[this] { return "{\"type\":\"state\",\"n\":" + std::to_string(n) + "}"; }};
};

// The files and the state; what bad requests get, with half-open
// connections held meanwhile; a change reaching an open stream.
TEST_F(Server, ServesThePageAndRefusesWhatItDoesNotServe)
{
    std::vector<std::unique_ptr<Raw>> idle;   // half a request, or nothing
    for (int i = 0; i < 20; ++i)
        idle.push_back(std::make_unique<Raw>(server.Port(), i % 2 ? "GET / HTTP/1.1\r\nHost: x\r\n" : ""));
    const std::pair<std::string, std::string> requests[] = {
        {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK"},
        {"GET /bench.js HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK"},
        {"GET /nothing-here HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found"},
        {"GET /" + std::string(100000, 'a') + " HTTP/1.1\r\n\r\n", "HTTP/1.1 414 URI Too Long"},
        {"POST /events HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", "HTTP/1.1 405 Method Not Allowed"},
        {"GARBAGE\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET / HTTP/1.1\r\n" + std::string(20000, 'h') + ": x\r\n\r\n", "HTTP/1.1 400 Bad Request"},
    };
    for (const auto& r : requests)
        EXPECT_EQ(Raw(server.Port(), r.first).Status(), r.second) << r.first.substr(0, 40);
    const std::string page = Raw(server.Port(), "GET / HTTP/1.1\r\n\r\n").ReadUntil("</html>");
    EXPECT_NE(page.find("<title>orvane bench</title>"), std::string::npos);
    EXPECT_NE(page.find("Content-Security-Policy: default-src 'self'"), std::string::npos);
    EXPECT_NE(Raw(server.Port(), "GET /state HTTP/1.1\r\n\r\n").ReadUntil("}").find("{\"type\":\"state\",\"n\":0}"),
              std::string::npos);

    Raw stream(server.Port(), kStream);
    const std::string first = stream.ReadUntil("\"n\":0}\n\n");
    EXPECT_NE(first.find("Content-Type: text/event-stream"), std::string::npos) << first;
    EXPECT_NE(first.find("data: {\"type\":\"state\",\"n\":0}\n\n"), std::string::npos) << first;
    Change(1, 1);
    EXPECT_NE(stream.ReadUntil("\"n\":1,").find("data: {\"type\":\"slot\",\"n\":1,"), std::string::npos);
}

// A page that stops reading: the run's changes go on without waiting for
// it, what it missed is dropped, and it is sent the whole state when it
// reads again; a page that reads keeps up.  One stream past the limit is
// told to come back later.
TEST_F(Server, StalledPageNeverHoldsUpTheRunAndCatchesUp)
{
    Raw stalled(server.Port(), kStream, 4096);
    Raw reader(server.Port(), kStream);
    for (Raw* r : {&stalled, &reader})
        EXPECT_NE(r->ReadUntil("\"n\":0}\n\n").find("\"n\":0}"), std::string::npos);
    std::atomic<bool> done{false};
    auto reading = std::async(std::launch::async, [&] {
        std::string tail;   // the last change, as a message or in the whole state
        while (tail.find("\"n\":8000") == std::string::npos) {
            const std::string more = reader.ReadUntil("\"n\":8000", 1 << 20);
            if (more.empty() && done)
                break;
            tail = tail.substr(tail.size() > 16 ? tail.size() - 16 : 0) + more;
        }
        return tail.find("\"n\":8000") != std::string::npos;
    });
    auto changes = std::async(std::launch::async, [&] { Change(8000, 8000); done = true; });   // 64 MB
    ASSERT_EQ(changes.wait_for(60s), std::future_status::ready) << "the changes waited for a page";
    EXPECT_TRUE(reading.get()) << "the page that reads is up to date";
    const std::string caughtUp = stalled.ReadUntil("{\"type\":\"state\",\"n\":8000}\n\n");
    EXPECT_NE(caughtUp.find("data: {\"type\":\"state\",\"n\":8000}\n\n"), std::string::npos);
    EXPECT_LT(caughtUp.size(), size_t(8 << 20)) << "far less than it missed";

    std::vector<std::unique_ptr<Raw>> pages;
    while (server.Streams() < PageServer::kMaxStreams) {
        pages.push_back(std::make_unique<Raw>(server.Port(), kStream));
        pages.back()->ReadUntil("\n\n");
    }
    EXPECT_EQ(Raw(server.Port(), kStream).Status(), "HTTP/1.1 503 Service Unavailable");
}

} // namespace
