// Delivery's parts against a real HTTP server on loopback (server.py): what
// each kind of answer, or no answer, does to a record in the spool; the
// spool's order; which URLs count as this machine.
#include "orvane/cli/deliver/sender.h"
#include "tests/support/simprocess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Delivery : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char name[] = "/tmp/orvane-deliver-test-XXXXXX";
        folder = mkdtemp(name);
        int out;
        server_ = SpawnWithPipe({"/usr/bin/python3", SERVER_PY, "--port-file", (folder / "port").string()}, &out);
        close(out);
        for (int i = 0; i < 500 && Slurp(folder / "port").empty(); ++i)
            std::this_thread::sleep_for(10ms);
        url = "http://127.0.0.1:" + Slurp(folder / "port") + "/records";
    }
    void TearDown() override { kill(server_, SIGKILL), waitpid(server_, nullptr, 0), fs::remove_all(folder); }
    fs::path folder;
    std::string url;

private:
    pid_t server_ = -1;
};

// One record, one answer: what the server saw and what is left in the spool.
TEST_F(Delivery, EachAnswerDecidesTheRecordsFate)
{
    // The server's X-Answer ("refused": nobody listens), the record's fate,
    // whether an answer came.
    struct Row { const char* answer; Fate fate; bool answered; } const rows[] = {
        {"200", Fate::kDelivered, true}, {"201", Fate::kDelivered, true}, {"301", Fate::kRetry, true},
        {"400", Fate::kRejected, true},  {"404", Fate::kRejected, true},  {"408", Fate::kRetry, true},
        {"422", Fate::kRejected, true},  {"429", Fate::kRetry, true},     {"500", Fate::kRetry, true},
        {"503", Fate::kRetry, true},     {"drop", Fate::kRetry, false},   {"slow:1500", Fate::kRetry, false},
        {"refused", Fate::kRetry, false},
    };
    const std::atomic<bool> stop{false};
    const auto client = MakeHttpClient(500, &stop);   // a slow answer is a time-out
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        Spool spool;
        std::string error;
        ASSERT_TRUE(spool.Open((folder / row.answer).string(), &error)) << error;
        const std::string record = R"({"schema":1,"event":"result","port":"COM3"})";
        ASSERT_TRUE(spool.Put(record, &error)) << error;
        const std::string name = spool.Waiting().at(0);
        Target target{std::string(row.answer) == "refused" ? "http://127.0.0.1:9/records" : url,
                      {{"X-Token", "secret-1"}, {"X-Answer", row.answer}}};
        Attempt a;
        ASSERT_TRUE(SendOldest(spool, *client, target, &a));
        EXPECT_EQ(a.name, name);
        EXPECT_EQ(int(a.fate), int(row.fate)) << Describe(a.answer);
        EXPECT_EQ(a.answer.status > 0, row.answered) << Describe(a.answer);
        if (row.answered)   // the key, the job file's header and the whole record reached the server
            EXPECT_EQ(a.answer.body, "{\"key\": \"" + RecordKey(name) + "\", \"token\": \"secret-1\", \"bytes\": " +
                                         std::to_string(record.size()) + "}");
        EXPECT_EQ(spool.Waiting().size(), row.fate == Fate::kRetry ? 1u : 0u);
        EXPECT_EQ(spool.Rejected(), row.fate == Fate::kRejected ? 1u : 0u);
        if (row.fate == Fate::kRejected) {
            EXPECT_EQ(Slurp(folder / row.answer / "rejected" / name), record);
            EXPECT_EQ(Slurp(folder / row.answer / "rejected" / (name + ".answer")),
                      "HTTP " + std::string(row.answer) + "\n" + a.answer.body);
        }
    }
}

// Records come out in the order they went in, each with a key of its own; a
// record written but not yet renamed into place is not there.
TEST_F(Delivery, SpoolKeepsOrderAndHalfWrittenRecordsOut)
{
    Spool spool;
    std::string error;
    ASSERT_TRUE(spool.Open((folder / "spool").string(), &error)) << error;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(spool.Put("{\"n\":" + std::to_string(i) + "}", &error)) << error;
    ASSERT_TRUE(spool.Prepare("{\"n\":\"half\"}", &error));
    const auto names = spool.Waiting();
    ASSERT_EQ(names.size(), 100u);
    std::set<std::string> keys;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string record;
        ASSERT_TRUE(spool.Read(names[i], &record));
        EXPECT_EQ(record, "{\"n\":" + std::to_string(i) + "}");
        keys.insert(RecordKey(names[i]));
    }
    EXPECT_EQ(keys.size(), 100u);
    EXPECT_TRUE(std::regex_match(*keys.begin(), std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));
    ASSERT_TRUE(spool.Commit(&error));
    EXPECT_EQ(spool.Waiting().size(), 101u);

    // One sender at a time.
    SpoolLock first, second;
    EXPECT_TRUE(first.Try(spool.Folder()));
    if (fork() == 0)   // another process
        _exit(second.Try(spool.Folder()) ? 1 : 0);
    int status = 0;
    wait(&status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a second process took the spool's lock";
}

// Plain HTTP only to this machine: which hosts are.
TEST_F(Delivery, LoopbackIsThisMachineOnly)
{
    const std::pair<const char*, const char*> rows[] = {
        {"http://127.0.0.1:8080/records", "127.0.0.1 loopback"}, {"http://localhost/r", "localhost loopback"},
        {"http://[::1]:80/r", "::1 loopback"},                    {"http://user:pw@127.0.0.2/r", "127.0.0.2 loopback"},
        {"http://127.0.0.1.mes.example/r", "127.0.0.1.mes.example remote"}, {"http://10.0.0.7/r", "10.0.0.7 remote"},
        {"https://mes.example:8443/api?x=1", "mes.example remote https"},
        {"HTTPS://MES.EXAMPLE/", "MES.EXAMPLE remote https"},     {"ftp://127.0.0.1/", " none"}, {"http:///r", " none"},
    };
    for (const auto& row : rows) {
        bool https = false;
        const std::string host = UrlHost(row.first, &https);
        const std::string seen = host + " " + (host.empty() ? "none" : IsLoopback(host) ? "loopback" : "remote") +
                                 (https && !host.empty() ? " https" : "");
        EXPECT_EQ(seen, row.second) << row.first;
    }
}

} // namespace
