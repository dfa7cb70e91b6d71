#include "orvane/cli/serve/serve.h"

#include "orvane/cli/deliver/http.h"
#include "orvane/cli/options.h"
#include "orvane/cli/report.h"
#include "orvane/cli/serve/bench.h"
#include "orvane/cli/serve/server.h"
#include "orvane/cli/system.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

// Made once and never taken down: the server's threads serve until the
// process ends (a served run leaves through QuitNow).
BenchState* gBench = nullptr;
PageServer* gServer = nullptr;

bool Listen(PageServer* server, const std::string& address, const char* what, std::string* firstLine,
            std::string* error)
{
    std::string host;
    int port = 0;
    if (!ParseServeAddress(address, &host, &port)) {
        *error = "--serve takes [ADDR:]PORT (8080, 127.0.0.1:8080, 0.0.0.0:8080), not \"" + address + "\"";
        return false;
    }
    if (!server->Start(host, port, error))
        return false;
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    const std::string url = "http://" + shown + ":" + std::to_string(server->Port()) + "/";
    *firstLine = std::string("orvane-cli: ") + what + " is at " + url +
                 (IsLoopback(host) ? " (this PC only)"
                                   : "; it can be reached from the network (read-only: no request changes the run)");
    return true;
}

} // namespace

bool StartBenchView(const std::string& address, std::string* firstLine, std::string* error)
{
    gBench = new BenchState();
    gServer = new PageServer([] { return gBench->Snapshot(); });
    return Listen(gServer, address, "the bench view", firstLine, error);
}

void BenchViewEvent(const std::string& line)
{
    if (gServer)
        gServer->Change([&] { return gBench->Feed(line); });
}

void EndBenchView()
{
    if (gServer)
        gServer->Drain(1000);
}

int ServeReport(const std::string& address, const std::string& by, const std::vector<std::string>& files)
{
    auto tally = std::make_unique<ReportTally>();
    tally->By(by);
    std::vector<char> readable(files.size(), 1);
    std::string snapshot;
    PageServer server([&] { return snapshot; });
    std::string firstLine, error;
    if (!Listen(&server, address, "the report", &firstLine, &error)) {
        std::fprintf(stderr, "orvane-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    std::printf("%s\n", firstLine.c_str());
    std::fflush(stdout);
    CatchInterrupts();

    bool look = true, changed = true;
    while (Interrupts() == 0) {
        if (!look)
            std::this_thread::sleep_for(std::chrono::seconds(1));
        look = false;
        bool restart = false;
        for (size_t i = 0; i < files.size() && !restart; ++i) {
            const ReportTally::Growth growth = tally->ReadOn(files[i]);
            restart = growth == ReportTally::kShorter;   // truncated or replaced: every log is read again
            changed = changed || growth == ReportTally::kGrown || char(growth != ReportTally::kUnreadable) != readable[i];
            readable[i] = growth != ReportTally::kUnreadable;
        }
        if (restart) {
            tally = std::make_unique<ReportTally>();
            tally->By(by);
            look = changed = true;
            continue;
        }
        if (!changed)
            continue;
        changed = false;
        std::vector<std::string> unreadable;
        for (size_t i = 0; i < files.size(); ++i)
            if (!readable[i])
                unreadable.push_back(files[i]);
        const std::vector<std::string> events = tally->Events(files, unreadable);
        std::string groups;
        for (size_t i = 0; i + 1 < events.size(); ++i)
            groups += (groups.empty() ? "" : ",") + events[i];
        const std::string message = "{\"type\":\"state\",\"kind\":\"report\",\"groups\":[" + groups +
                                    "],\"total\":" + events.back() + "}";
        server.Change([&] {
            snapshot = message;
            return std::vector<std::string>{message};
        });
    }
    std::fflush(stdout);
    QuitNow(kExitInstalled);
}
