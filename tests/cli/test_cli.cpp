// orvane-cli as a technician runs it: the real program against module
// simulators on pseudo-terminals, judged by what it prints, its exit code,
// its CSV log, and what the simulated modules received.
#include "common/sha256.h"
#include "tests/support/simprocess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <poll.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The value of a flat JSON field after a marker ("image":{... "bytes":N ...).
std::string Field(const std::string& json, const std::string& after, const std::string& name)
{
    const size_t from = json.find(after);
    std::smatch m;
    const std::string tail = from == std::string::npos ? std::string() : json.substr(from);
    std::regex_search(tail, m, std::regex("\"" + name + "\":(\"[^\"]*\"|[^,}]*)"));
    return m.empty() ? std::string() : m[1].str();
}

// One simulated module on a pty published at <folder>/<name>.
struct Module : SimProcess
{
    Module(const fs::path& folder, const std::string& name, const std::string& options)
        : SimProcess(folder / name, Words(options))
    {
    }
    static std::vector<std::string> Words(const std::string& options)
    {
        std::vector<std::string> words;
        std::istringstream in(options);
        for (std::string w; in >> w;)
            words.push_back(w);
        return words;
    }
    std::string Ask(const std::string& request) { return Request(request); }
};

// orvane-cli running, its output read as it comes.
class Cli
{
public:
    // With errors: its standard error goes to that file (the text beside
    // --json's events).
    explicit Cli(std::vector<std::string> args, const std::string& errors = "")
    {
        args.insert(args.begin(), CLI_PATH);
        if (!errors.empty())
            args.insert(args.begin(), {"/bin/sh", "-c", "f=$1; shift; exec \"$@\" 2>\"$f\"", "sh", errors});
        pid_ = SpawnWithPipe(args, &out_);
    }

    ~Cli()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
    }

    // Reads until done() holds; false at the limit or the end of the output.
    bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit = 20s)
    {
        const auto end = Clock::now() + limit;
        while (!done()) {
            pollfd p{out_, POLLIN, 0};
            if (Clock::now() > end || poll(&p, 1, 100) < 0)
                return false;
            char block[4096];
            const ssize_t n = p.revents ? read(out_, block, sizeof(block)) : 0;
            if (p.revents && n <= 0)
                return done();
            output.append(block, size_t(n > 0 ? n : 0));
        }
        return true;
    }

    bool WaitFor(const std::string& text, size_t times = 1)
    {
        return WaitUntil([&] { return Count(text) >= times; });
    }

    void Interrupt() { Signal(SIGINT); }
    void Signal(int signal) { kill(pid_, signal); }

    int Wait()
    {
        const auto limit = Clock::now() + 60s;
        WaitUntil([] { return false; }, 60s);
        if (Clock::now() >= limit)
            kill(pid_, SIGKILL);   // a run that does not end fails the test, not the suite
        int status = 0;
        rusage usage{};
        wait4(pid_, &status, 0, &usage);
        maxRssKb = usage.ru_maxrss;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    size_t Count(const std::string& text) const
    {
        size_t n = 0;
        for (size_t at = output.find(text); at != std::string::npos; at = output.find(text, at + 1))
            ++n;
        return n;
    }

    std::string output;
    long maxRssKb = 0;   // once it has ended: its peak resident memory

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

std::vector<std::vector<std::string>> ReadCsv(const fs::path& path)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(Slurp(path));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> row(1);
        bool quoted = false;
        for (size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"')
                row.back() += line[++i];
            else if (c == '"')
                quoted = !quoted;
            else if (c == ',' && !quoted)
                row.emplace_back();
            else
                row.back() += c;
        }
        rows.push_back(row);
    }
    return rows;
}

enum Column
{
    kStart, kPort, kModel, kImage, kSize, kSha, kDuration, kRate, kResult, kReason, kAttempt, kReasonCode,
    kUnitId, kOperator, kBench, kToolVersion, kImageLabel, kAdapter, kBootLine, kFlags
};

class OrvaneCli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char name[] = "/tmp/orvane-cli-test-XXXXXX";
        folder = mkdtemp(name);
        image = MakeImage("image.bin", 20000, 1);
        log = folder / "units.csv";
    }

    void TearDown() override { fs::remove_all(folder); }

    fs::path MakeImage(const std::string& name, size_t size, uint32_t seed)
    {
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = char((seed = seed * 1103515245 + 12345) >> 16);
        std::ofstream(folder / name, std::ios::binary) << bytes;
        return folder / name;
    }

    std::vector<std::string> Args(const std::string& ports, std::vector<std::string> more = {})
    {
        std::vector<std::string> args = {"--port", ports, "--image", image, "--log", log};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    fs::path folder, image, log;
};

// The whole of one download: what the technician reads, the log line, and
// the module's side of it.
TEST_F(OrvaneCli, OneUnitEndToEnd)
{
    Module module(folder, "com1", "--no-pace --model 41 --expect " + image.string());
    Cli cli(Args(module.link, {"--rate", "115200", "--verdict-timeout", "3"}));
    EXPECT_EQ(cli.Wait(), 0) << cli.output;

    const std::vector<std::string> seen = {
        "Turn the power on, after removing the LAN card during power-off.", "Initializing!",
        "Preparing for Programming!", "Downloading program to MRQ-41!", " 10%  2048 of 20000 bytes",
        " 51%  10240 of 20000 bytes", "100%  20000 of 20000 bytes", "Success to Install!",
        "PASS  MRQ-41  Install Success!  image 20000 bytes at",
    };
    size_t at = 0;
    for (const std::string& text : seen) {
        const size_t found = cli.output.find(text, at);
        ASSERT_NE(found, std::string::npos) << "missing, or out of order: " << text << "\n" << cli.output;
        at = found;
    }
    EXPECT_EQ(cli.Count("%  "), 10u) << "one progress line per 10% when not on a terminal";

    const std::string report = module.Ask("report");
    EXPECT_EQ(Field(report, "\"image\"", "bytes"), "20000");
    EXPECT_EQ(Field(report, "\"image\"", "equal"), "true");
    EXPECT_EQ(Field(report, "", "verdict"), "\"101\"");
    EXPECT_NE(report.find("\"kind\":\"flash\""), std::string::npos);

    const auto rows = ReadCsv(log);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][kStart], "start");
    EXPECT_EQ(rows[0][kReason], "reason");
    ASSERT_EQ(rows[1].size(), 20u);
    EXPECT_EQ(rows[0][kAttempt] + rows[1][kAttempt] + rows[1][kReasonCode], "attempt1installed")
        << "new columns at the end";
    EXPECT_EQ(rows[0][kBootLine] + "=" + rows[1][kBootLine], "boot_line=MRQ-41 boot 000");
    EXPECT_EQ(rows[0][kToolVersion], "tool_version");
    EXPECT_FALSE(rows[1][kToolVersion].empty());
    EXPECT_TRUE(std::regex_match(rows[1][kStart], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(rows[1][kPort], module.link);
    EXPECT_EQ(rows[1][kModel], "MRQ-41");
    EXPECT_EQ(rows[1][kImage], "image.bin");
    EXPECT_EQ(rows[1][kSize], "20000");
    EXPECT_EQ(rows[1][kSha], orvane::sha256_hex(Slurp(image)));
    EXPECT_GT(std::atof(rows[1][kRate].c_str()), 0);
    EXPECT_EQ(rows[1][kResult], "PASS");
    EXPECT_EQ(rows[1][kReason], "");
}

// Every way a unit can fail: the exit code, the reason shown and logged.
TEST_F(OrvaneCli, EachFailureHasItsCodeAndReason)
{
    struct Case
    {
        const char* name;
        std::string module;   // simulator options; empty: no module on the port
        std::vector<std::string> args;
        int code;
        const char* reasonCode;
        std::string reason;
        const char* model;
        const char* duringStall = nullptr;   // what the module sends once it has stopped reading
    };
    const fs::path other = MakeImage("other.bin", 20000, 2);
    const fs::path mid = MakeImage("mid.bin", 40000, 3);    // more than the line holds at once
    const fs::path big = MakeImage("big.bin", 200000, 4);   // far more than the line's buffers hold
    const Case cases[] = {
        {"302 verdict", "--expect " + other.string(), {}, 1, "module_failed",
         "stopped waiting for the verdict: the module reported failure (302); last received \"302\"; check the image file",
         "MRQ-520W"},
        {"302 to flash", "--fail-phase 1", {}, 1, "module_failed",
         "stopped after \"flash\": the module reported failure (302); last received \"302\"; check the power", ""},
        {"302 to p 60", "--model 710F --fail-phase 2", {}, 1, "module_failed",
         "stopped preparing (\"p 60\"): the module reported failure", "MRQ-710F"},
        {"101 while the image goes out", "--stall-offset 1000 --stall-ms 3000 --pace", {"--image", mid.string()}, 1,
         "early_verdict", "stopped sending the image: the module answered 101 with ", "MRQ-520W", "send 101\\r\\n"},
        {"no verdict", "--silent-phase 3", {"--verdict-timeout", "0.5"}, 2, "no_verdict",
         "stopped waiting for the verdict: no verdict 0.5 s after the image; last received \"prog 200\"", "MRQ-520W"},
        {"no wake-up", "--power-on-crs none", {"--wake-timeout", "0.5"}, 3, "no_answer",
         "stopped waking the boot monitor: no answer in 0.5 s; last received nothing; check the power", ""},
        {"silent after flash", "--silent-phase 1", {"--wake-timeout", "0.5"}, 3, "no_answer",
         "stopped after \"flash\": no answer in 0.5 s; last received \"MRQ-520W boot 000\"", ""},
        {"no image", "", {"--image", (folder / "missing.bin").string()}, 4, "image_unreadable", "cannot open the image",
         ""},
        {"port stops taking the image", "--stall-offset 1000 --stall-ms 9000 --pace", {"--image", big.string()}, 5,
         "port_stalled", "stopped sending the image: the port stopped taking the image after ", "MRQ-520W"},
        {"no port", "", {}, 5, "port_open", "cannot open " + (folder / "com1").string() + ": No such file or directory",
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(log);
        std::unique_ptr<Module> module;
        if (!c.module.empty())
            module = std::make_unique<Module>(folder, "com1", "--no-pace " + c.module);
        Cli cli(Args((folder / "com1").string(), c.args));
        if (c.duringStall) {
            const auto end = Clock::now() + 20s;
            while (Field(module->Ask("report"), "", "stall_ms") == "null" && Clock::now() < end)
                std::this_thread::sleep_for(10ms);
            ASSERT_EQ(module->Ask(c.duringStall), "ok");
        }
        EXPECT_EQ(cli.Wait(), c.code) << cli.output;
        EXPECT_NE(cli.output.find("reason: " + c.reason), std::string::npos) << cli.output;
        const auto rows = ReadCsv(log);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1][kResult], "FAIL");
        EXPECT_EQ(rows[1][kReasonCode], c.reasonCode);
        EXPECT_EQ(rows[1][kModel], c.model);
        EXPECT_NE(rows[1][kReason].find(c.reason), std::string::npos) << rows[1][kReason];
        if (module && c.code == 1 && !c.duringStall)
            EXPECT_EQ(Field(module->Ask("report"), "", "verdict"), "\"302\"");
        if (module && c.duringStall) {
            // What the port had taken when the module answered: more than it read before it stopped.
            std::smatch m;
            ASSERT_TRUE(std::regex_search(cli.output, m, std::regex("with (\\d+) of 40000 bytes"))) << cli.output;
            EXPECT_GT(std::stoi(m[1]), 1000);
            EXPECT_LT(std::stoi(m[1]), 40000);
        }
        if (module && c.code == 5) {
            // The count is what the port took: what the module has plus what waits in the line.
            std::smatch m;
            ASSERT_TRUE(std::regex_search(cli.output, m, std::regex("after (\\d+) of 200000 bytes"))) << cli.output;
            const int taken = std::stoi(m[1]);
            EXPECT_GE(taken, std::stoi(Field(module->Ask("report"), "\"image\"", "bytes")));
            EXPECT_LT(taken, 200000);
            EXPECT_EQ(cli.Count("100%"), 0u) << "the progress reached 100% for an image the port did not take";
        }
    }
}

// Ctrl+C before the image cancels as the dialog's Cancel does; while the
// image is sent it waits for its end, and a second Ctrl+C stops it at once.
TEST_F(OrvaneCli, CtrlCCancels)
{
    {
        Module module(folder, "com1", "--no-pace --silent-phase 2");
        Cli cli(Args(module.link));
        ASSERT_TRUE(cli.WaitFor("Preparing for Programming!")) << cli.output;
        ASSERT_NE(module.WaitReport("\"kind\":\"p60\"").find("p60"), std::string::npos);   // "p 60" has gone out
        cli.Interrupt();
        EXPECT_EQ(cli.Wait(), 6) << cli.output;
        EXPECT_NE(cli.output.find("reason: stopped preparing (\"p 60\"): cancelled (Ctrl+C)"), std::string::npos);
        // The reset may still be on its way when orvane-cli has ended.
        const std::string report = module.WaitReport("\"kind\":\"reset\"");
        EXPECT_NE(report.find("\"kind\":\"reset\""), std::string::npos) << "Cancel sends \"r\\r\" to an MRQ-520W";
        EXPECT_EQ(Field(report, "\"line\"", "baud"), "19200") << "Cancel puts the line back to the normal rate";
        EXPECT_EQ(ReadCsv(log).back()[kResult], "CANCELLED");
    }
    {
        // 200 KB at wire speed: about 17 s of image.
        image = MakeImage("big.bin", 200000, 3);
        Module module(folder, "com2", "");
        Cli cli(Args(module.link));
        ASSERT_TRUE(cli.WaitFor(" 10%  ")) << cli.output;
        cli.Interrupt();
        ASSERT_TRUE(cli.WaitFor("Ctrl+C: the unit is cancelled once the image is written")) << cli.output;
        cli.Interrupt();
        EXPECT_EQ(cli.Wait(), 6) << cli.output;
        // Judged by what the module got, not by a clock: the image stopped
        // far short of its end (the pty holds a few KiB more than was sent).
        EXPECT_LT(std::stoul("0" + Field(module.Ask("report"), "\"image\"", "bytes")), 150000u)
            << "the second Ctrl+C did not stop the image";
        EXPECT_TRUE(std::regex_search(cli.output, std::regex("stopped sending the image: cancelled \\(Ctrl\\+C\\) with "
                                                             "\\d+ of 200000 bytes sent")))
            << cli.output;
    }
}

// A station: unit after unit on one port until Ctrl+C, one failing.
TEST_F(OrvaneCli, StationCountsUnitsUntilCtrlC)
{
    Module module(folder, "com1", "--no-pace --power-on-crs none");
    Cli cli(Args(module.link, {"--station", "--wake-timeout", "2"}));
    const char* const setups[] = {"set fail-phase=none", "set fail-phase=2", "set fail-phase=none"};
    size_t units = 0;
    for (const char* setup : setups) {
        ASSERT_TRUE(cli.WaitFor("Turn the power on", units + 1)) << cli.output;
        EXPECT_EQ(module.Ask(setup), "ok");
        EXPECT_EQ(module.Ask("power on"), "ok");
        ++units;
        ASSERT_TRUE(cli.WaitUntil([&] { return cli.Count("] PASS") + cli.Count("] FAIL") == units; })) << cli.output;
    }
    ASSERT_TRUE(cli.WaitFor("Turn the power on", 4)) << cli.output;
    std::this_thread::sleep_for(3s);   // longer than --wake-timeout: a station waits on
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 1) << cli.output;
    EXPECT_EQ(cli.Count("] PASS"), 2u) << cli.output;
    EXPECT_EQ(cli.Count("] FAIL (exit 1)"), 1u) << cli.output;
    EXPECT_NE(cli.output.find("station: 3 units: 2 PASS, 1 FAIL"), std::string::npos) << cli.output;
    const auto rows = ReadCsv(log);
    ASSERT_EQ(rows.size(), 4u) << "a header and three units; the wait that Ctrl+C ended is no unit";
    EXPECT_EQ(rows[1][kResult] + rows[2][kResult] + rows[3][kResult], "PASSFAILPASS");
}

// ---- on the production line ------------------------------------------------

// Every line of --json output checked against the published schema by a real
// validator; its report on failure.
std::string Validate(const fs::path& events)
{
    const std::string command = std::string(CLI_VALIDATOR) + " " + CLI_SCHEMA + " " + events.string() + " 2>&1";
    std::string report;
    FILE* p = popen(command.c_str(), "r");
    for (char block[512]; p && std::fgets(block, sizeof(block), p);)
        report += block;
    return p && pclose(p) == 0 ? std::string() : "events rejected:\n" + report;
}

std::vector<std::string> Events(const std::string& output, const std::string& name)
{
    std::vector<std::string> events;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);)
        if (line.find("\"event\":\"" + name + "\"") != std::string::npos)
            events.push_back(line);
    return events;
}

// Four modules at once, the third failing, and a fifth port that is not
// there, with --json: one log line each; the exit code of the first failing
// port in the order given; on stdout every line valid against the schema,
// one result per port with that port's code, the summary last with every
// port's code; the text on stderr.
TEST_F(OrvaneCli, SeveralPortsAtOnce)
{
    const fs::path other = MakeImage("other.bin", 20000, 2);
    std::vector<std::unique_ptr<Module>> modules;
    std::string ports;
    for (int i = 1; i <= 4; ++i) {
        const std::string expect = "--expect " + (i == 3 ? other : image).string();
        modules.push_back(std::make_unique<Module>(folder, "com" + std::to_string(i), "--no-pace " + expect));
        ports += modules.back()->link + ",";
    }
    ports += (folder / "com5").string();
    // An operator's name in a code page (as Windows passes it) and a bench's
    // in UTF-8: both stay JSON.
    Cli cli(Args(ports, {"--json", "--operator", "M\xfcller", "--bench", "B\xc3\xa4nk"}), (folder / "text.txt").string());
    EXPECT_EQ(cli.Wait(), 1) << cli.output;

    for (int i = 1; i <= 4; ++i) {
        const std::string report = modules[size_t(i - 1)]->Ask("report");
        EXPECT_EQ(Field(report, "\"image\"", "bytes"), "20000") << "port " << i;
        EXPECT_EQ(Field(report, "", "verdict"), i == 3 ? "\"302\"" : "\"101\"") << "port " << i;
    }
    const std::string com = (folder / "com").string(), text = Slurp(folder / "text.txt");
    EXPECT_NE(text.find("orvane-cli: " + com + "1 PASS, " + com + "2 PASS, " + com + "3 exit 1, " + com +
                        "4 PASS, " + com + "5 exit 5; exit 1"),
              std::string::npos)
        << text;
    const auto rows = ReadCsv(log);
    ASSERT_EQ(rows.size(), 6u) << Slurp(log);
    std::map<std::string, std::string> results;
    for (size_t i = 1; i < rows.size(); ++i)
        results[rows[i][kPort]] = rows[i][kResult] + " " + rows[i][kImage];
    EXPECT_EQ(results[com + "1"], "PASS image.bin") << "the log names the image given, not a child's copy";
    EXPECT_EQ(results[com + "3"], "FAIL image.bin");
    EXPECT_EQ(results[com + "5"], "FAIL image.bin");

    std::ofstream(folder / "events.json") << cli.output;
    EXPECT_EQ(Validate(folder / "events.json"), "");
    EXPECT_EQ(Events(cli.output, "start").size(), 1u);
    const auto events = Events(cli.output, "result"), summary = Events(cli.output, "summary");
    ASSERT_EQ(events.size(), 5u) << cli.output;
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(Field(events[0], "", "operator") + Field(events[0], "", "bench"), "\"M\\u00fcller\"\"B\xc3\xa4nk\"");
    EXPECT_EQ(cli.output.substr(cli.output.rfind("{\"schema\"")), summary[0] + "\n") << "the summary comes last";
    EXPECT_EQ(Field(summary[0], "", "code"), "1");
    EXPECT_GE(Events(cli.output, "progress").size(), 40u) << "every 10% on each port";
    for (int i = 1; i <= 5; ++i) {
        const std::string port = "\"" + com + std::to_string(i) + "\"", code = i == 3 ? "1" : i == 5 ? "5" : "0";
        const auto mine = std::count_if(events.begin(), events.end(), [&](const std::string& r) {
            return Field(r, "", "port") == port && Field(r, "", "code") == code;
        });
        EXPECT_EQ(mine, 1) << "port " << i;
        EXPECT_EQ(Field(summary[0], "{\"port\":" + port, "code"), code) << "port " << i;
    }

    // No folder for the children's copies of the image: each port's failure
    // is logged all the same.
    setenv("TMPDIR", (folder / "none").c_str(), 1);
    Cli noCopy(Args("a,b"));
    unsetenv("TMPDIR");
    EXPECT_EQ(noCopy.Wait(), 4) << noCopy.output;
    EXPECT_EQ(ReadCsv(log).size(), 8u) << Slurp(log);
}

// A machine with three USB serial adapters as sysfs and udev show them: two
// FTDI FT232R (0403:6001, serial numbers A1 and B2) and a CH340 (1a86:7523,
// no serial number).  The first one's device node leads to the simulator.
void MakeMachine(const fs::path& root, const std::string& firstDevice)
{
    struct Adapter { const char *vid, *pid, *serial, *maker, *product, *driver, *byId; };
    const Adapter adapters[] = {
        {"0403", "6001", "A1", "FTDI", "FT232R USB UART", "ftdi_sio", "usb-FTDI_FT232R_USB_UART_A1-if00-port0"},
        {"0403", "6001", "B2", "FTDI", "FT232R USB UART", "ftdi_sio", "usb-FTDI_FT232R_USB_UART_B2-if00-port0"},
        {"1a86", "7523", "", "", "USB Serial", "ch341", "usb-1a86_USB_Serial-if00-port0"},
    };
    auto write = [](const fs::path& file, const std::string& text) { std::ofstream(file) << text << "\n"; };
    fs::create_directories(root / "sys/class/tty");
    fs::create_directories(root / "dev/serial/by-id");
    for (int i = 0; i < 3; ++i) {
        const Adapter& a = adapters[i];
        const std::string tty = "ttyUSB" + std::to_string(i), usb = "devices/usb1/1-" + std::to_string(i + 1);
        const fs::path usbDir = root / "sys" / usb, portDir = usbDir / "1-1:1.0" / tty;
        fs::create_directories(portDir / "tty" / tty);
        fs::create_directories(root / "sys/bus/usb-serial/drivers" / a.driver);
        write(usbDir / "idVendor", a.vid);
        write(usbDir / "idProduct", a.pid);
        write(usbDir / "product", a.product);
        if (*a.serial)
            write(usbDir / "serial", a.serial);
        if (*a.maker)
            write(usbDir / "manufacturer", a.maker);
        fs::create_directory_symlink(root / "sys/bus/usb-serial/drivers" / a.driver, portDir / "driver");
        fs::create_directory_symlink("../../../" + tty, portDir / "tty" / tty / "device");
        fs::create_directory_symlink("../../" + usb + "/1-1:1.0/" + tty + "/tty/" + tty, root / "sys/class/tty" / tty);
        const fs::path node = i == 0 ? fs::path(firstDevice) : root / ("node" + std::to_string(i));
        if (i)
            write(node, "");
        fs::create_symlink(node, root / "dev" / tty);
        fs::create_symlink("../../" + tty, root / "dev/serial/by-id" / a.byId);
    }
}

// --list-ports on this machine shows the simulator's pseudo-terminal; on the
// machine above it shows the adapters, and --port by identity finds exactly
// one of them or refuses, naming the candidates.
TEST_F(OrvaneCli, ListPortsAndPortsByIdentity)
{
    Module module(folder, "sim", "--no-pace --expect " + image.string());
    const std::string pty = fs::canonical(module.link).string();
    {
        Cli cli({"--list-ports"});
        EXPECT_EQ(cli.Wait(), 0);
        EXPECT_TRUE(std::regex_search(cli.output, std::regex(pty + "  pty  master held by modsim \\(pid \\d+\\)")))
            << cli.output;
    }
    const std::string root = (folder / "machine").string();
    MakeMachine(root, module.link);
    setenv("ORVANE_CLI_SYSROOT", root.c_str(), 1);
    {
        Cli cli({"--list-ports"});
        EXPECT_EQ(cli.Wait(), 0);
        EXPECT_NE(cli.output.find(root + "/dev/ttyUSB0  usb  driver ftdi_sio  usb:0403:6001  serial A1  \"FTDI FT232R "
                                  "USB UART\"\n    " + root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0\n" +
                                  root + "/dev/ttyUSB1  usb  driver ftdi_sio  usb:0403:6001  serial B2"),
                  std::string::npos)
            << cli.output;
        EXPECT_NE(cli.output.find(root + "/dev/ttyUSB2  usb  driver ch341  usb:1a86:7523  \"USB Serial\""),
                  std::string::npos)
            << cli.output;
        Cli json({"--list-ports", "--json"});
        EXPECT_EQ(json.Wait(), 0);
        std::ofstream(folder / "ports.json") << json.output;
        EXPECT_EQ(Validate(folder / "ports.json"), "");
    }
    struct Case { const char* spec; int code; std::string text; };
    const Case cases[] = {
        {"usb:0403:6001:A1", 0, "usb:0403:6001:A1 = " + root + "/dev/ttyUSB0 -> " + pty},
        {"serial:a1", 0, "serial:a1 = " + root + "/dev/ttyUSB0"},
        {"usb:0403:6001", 7, "--port usb:0403:6001 matches 2 ports; name one (by serial number or by its device):\n    " +
                                 root + "/dev/ttyUSB0  usb:0403:6001:A1  FT232R USB UART\n    " + root + "/dev/ttyUSB1  usb:0403:6001:B2"},
        {"usb:1a86:7523:X", 7, "matches no port; the ports with an identity:\n    " + root + "/dev/ttyUSB0"},
        {"usb:403:6001", 7, "write usb:VID:PID"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec);
        Cli cli(Args(c.spec), (folder / "errors.txt").string());
        EXPECT_EQ(cli.Wait(), c.code) << cli.output;
        EXPECT_NE((cli.output + Slurp(folder / "errors.txt")).find(c.text), std::string::npos)
            << cli.output << Slurp(folder / "errors.txt");
    }
    unsetenv("ORVANE_CLI_SYSROOT");
    EXPECT_EQ(Field(module.Ask("report"), "", "verdict"), "\"101\"");
}

// --retries re-runs a unit from the wake-up after no answer, never after 302.
TEST_F(OrvaneCli, RetriesOnlyWhereTheyCanHelp)
{
    {
        Module module(folder, "com1", "--no-pace --power-on-crs none");
        Cli cli(Args(module.link, {"--wake-timeout", "1", "--retries", "2", "--json"}), (folder / "text.txt").string());
        ASSERT_TRUE(cli.WaitFor("\"attempt\":1,\"code\":3,")) << cli.output;
        EXPECT_EQ(module.Ask("power on"), "ok");   // the technician switches the module on
        EXPECT_EQ(cli.Wait(), 0) << cli.output;
        const auto results = Events(cli.output, "result");
        ASSERT_EQ(results.size(), 2u) << cli.output;
        EXPECT_EQ(Field(results[1], "", "attempt") + Field(results[1], "", "code"), "20");
        EXPECT_NE(Slurp(folder / "text.txt").find("retrying: attempt 2 of 3, from the wake-up"), std::string::npos);
        const auto rows = ReadCsv(log);
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[1][kResult] + rows[1][kAttempt] + rows[1][kReasonCode], "FAIL1no_answer");
        EXPECT_EQ(rows[2][kResult] + rows[2][kAttempt] + rows[2][kReasonCode], "PASS2installed");
    }
    fs::remove(log);
    Module module(folder, "com2", "--no-pace --fail-phase 1");
    Cli cli(Args(module.link, {"--retries", "2"}));
    EXPECT_EQ(cli.Wait(), 1) << cli.output;
    EXPECT_EQ(cli.Count("retrying"), 0u) << cli.output;
    EXPECT_EQ(ReadCsv(log).size(), 2u) << "a 302 is one attempt";
}

// A line that hangs up ends the unit with exit 5 in any phase; a retry
// waits for the port to come back (an adapter plugged in again) and opens it
// again.
TEST_F(OrvaneCli, PortThatGoesAwayEndsTheUnit)
{
    image = MakeImage("image.bin", 40000, 1);
    struct Case { const char* name; const char* module; const char* atWake; std::string reason; int code; };
    const Case cases[] = {
        {"waking", "--no-pace --power-on-crs none", "hangup", "stopped waking the boot monitor: the port went away", 5},
        {"mid-image", "--hangup-offset 2000", nullptr,
         "stopped sending the image: the port went away with \\d+ of 40000 bytes taken; last received \"prog 200\"", 5},
        {"unplugged, plugged back in for the retry", "--no-pace --power-on-crs none", "unplug",
         "stopped waking the boot monitor: the port went away", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(log);
        Module module(folder, "com" + std::to_string(&c - cases + 1), c.module);
        Cli cli(Args(module.link, {"--verdict-timeout", "60", "--retries", c.code ? "0" : "1"}));
        if (c.atWake) {
            ASSERT_TRUE(cli.WaitFor("Turn the power on")) << cli.output;
            EXPECT_EQ(module.Ask(c.atWake), "ok");
        }
        if (c.code == 0) {
            ASSERT_TRUE(cli.WaitFor("retrying: attempt 2")) << cli.output;
            EXPECT_EQ(module.Ask("plug"), "ok");
            ASSERT_TRUE(cli.WaitFor("Turn the power on", 2)) << cli.output;
            EXPECT_EQ(module.Ask("power on"), "ok");
        }
        EXPECT_EQ(cli.Wait(), c.code) << cli.output;
        EXPECT_TRUE(std::regex_search(cli.output, std::regex("FAIL \\(exit 5\\).*\n.*reason: " + c.reason))) << cli.output;
        const auto rows = ReadCsv(log);
        ASSERT_EQ(rows.size(), c.code ? 2u : 3u) << Slurp(log);
        EXPECT_EQ(rows[1][kReasonCode], "port_gone");
        EXPECT_EQ(rows.back()[kReasonCode], c.code ? "port_gone" : "installed");
    }
}

// A wrong image or a module of another model: refused before a single image
// byte goes out; --check sends nothing at all.
TEST_F(OrvaneCli, RefusedBeforeAnyImageByte)
{
    const std::string big = MakeImage("big.bin", 56 * 1024 + 1, 4).string();
    struct Case { const char* name; const char* module; std::vector<std::string> args; int code; std::string text; };
    const Case cases[] = {
        {"--sha256", "", {"--sha256", std::string(64, 'a')}, 4,
         "has SHA-256 " + orvane::sha256_hex(Slurp(image)) + ", not " + std::string(64, 'a') + " (--sha256)"},
        {"--expect-model", "--model 520W", {"--expect-model", "41"}, 8,
         "stopped preparing (\"p 60\"): the module is an MRQ-520W, not the MRQ-41 expected (--expect-model); no image byte sent"},
        {"--check", "", {"--check", "--expect-model", "41"}, 0, "would run; nothing was sent; exit 0"},
        {"--check, too large", "", {"--check", "--image", big, "--expect-model", "41"}, 0,
         "warning: the image (57345 bytes) is larger than the MRQ-41's progress range (56 blocks of 1024 bytes)"},
        {"--check, a log that cannot be written", "", {"--check", "--log", (folder / "none" / "u.csv").string()}, 9,
         "problem: the log " + (folder / "none" / "u.csv").string() + " cannot be made: there is no folder"},
        {"--check, unit ids that cannot be read", "", {"--check", "--unit-id-from", (folder / "none.ids").string()}, 7,
         "cannot read the unit ids from " + (folder / "none.ids").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Module module(folder, "com1", std::string("--no-pace ") + c.module);
        Cli cli(Args(module.link, c.args));
        EXPECT_EQ(cli.Wait(), c.code) << cli.output;
        EXPECT_NE(cli.output.find(c.text), std::string::npos) << cli.output;
        const std::string report = module.Ask("report");
        EXPECT_EQ(Field(report, "\"image\"", "bytes"), "0") << report;
        EXPECT_EQ(report.find("\"kind\":\"p60\""), std::string::npos) << report;
        if (c.code == 8) {
            EXPECT_NE(report.find("\"kind\":\"reset\""), std::string::npos) << "left as Cancel leaves it";
            EXPECT_EQ(Field(report, "\"line\"", "baud"), "19200");
        } else {
            EXPECT_EQ(Field(report, "", "received_bytes"), "0") << "nothing on the line";
        }
    }
}

// A bench's job file and the same options on the command line log the same
// units; a mistake in the file names the file and line.
TEST_F(OrvaneCli, JobFileWritesTheSameLog)
{
    Module module(folder, "com1", "--no-pace --expect " + image.string());
    const std::string sha = orvane::sha256_hex(Slurp(image));
    std::ofstream(folder / "bench.job") << "# line 3, bench 2\nimage = image.bin\nsha256 = " << sha
                                        << "\nexpect-model = 520W   # the 520W line\nrate = 115200\nretries = 1\n"
                                           "verdict-timeout = 3\nlog = job.csv\nports = "
                                        << module.link << "\n";
    Cli job({"--job", (folder / "bench.job").string()});
    EXPECT_EQ(job.Wait(), 0) << job.output;
    Cli options(Args(module.link, {"--sha256", sha, "--expect-model", "520W", "--rate", "115200", "--retries", "1",
                                   "--verdict-timeout", "3"}));
    EXPECT_EQ(options.Wait(), 0) << options.output;
    auto rows = ReadCsv(folder / "job.csv"), same = ReadCsv(log);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(same.size(), 2u);
    for (auto* r : {&rows[1], &same[1]})
        (*r)[kStart] = (*r)[kDuration] = (*r)[kRate] = "";
    EXPECT_EQ(rows, same);

    std::ofstream(folder / "bad.job") << "image = image.bin\nport = COM1\ncolour = red\n";
    Cli bad({"--job", (folder / "bad.job").string()}, (folder / "errors.txt").string());
    EXPECT_EQ(bad.Wait(), 7);
    EXPECT_NE(Slurp(folder / "errors.txt").find("bad.job:3: unknown key \"colour\""), std::string::npos)
        << Slurp(folder / "errors.txt");

    // A bench's --watch job, as --check sees it (the hub's "ports" are
    // character devices): its paths are the job file's folder's, match and
    // port included; the command line overrides any of its keys, match and
    // station too; a station whose ids cannot be read ends the run.
    fs::create_directories(folder / "jobs");
    for (const char* port : {"hub/com1", "other/com1"}) {
        fs::create_directories((folder / port).parent_path());
        fs::create_symlink("/dev/null", folder / port);
    }
    std::ofstream(folder / "jobs/watch.job") << "image = ../image.bin\nwatch = yes\nmatch = ../hub/com?\n";
    std::ofstream(folder / "jobs/station.job") << "image = ../image.bin\nstation = yes\nport = ../hub/com1\n";
    struct Case { const char* name; std::vector<std::string> args; int code; std::string text, absent; };
    const std::string watchJob = (folder / "jobs/watch.job").string(), stationJob = (folder / "jobs/station.job").string();
    const Case cases[] = {
        {"match in the job's folder", {"--job", watchJob, "--check"}, 0, "port " + folder.string() + "/jobs/../hub/com1", ""},
        {"--match overrides the job's", {"--job", watchJob, "--check", "--match", (folder / "other/com?").string()}, 0,
         "port " + (folder / "other/com1").string(), "hub/com1"},
        {"--no-station", {"--job", stationJob, "--check", "--no-station"}, 0,
         "port " + folder.string() + "/jobs/../hub/com1", "as a station"},
        {"ids that cannot be read", {"--job", watchJob, "--unit-id-from", (folder / "none/{port}.ids").string()}, 7,
         "hub/com1: its station cannot run; every station ends (exit 7)", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Cli cli(c.args);
        EXPECT_EQ(cli.Wait(), c.code) << cli.output;
        EXPECT_NE(cli.output.find(c.text), std::string::npos) << cli.output;
        if (!c.absent.empty())
            EXPECT_EQ(cli.output.find(c.absent), std::string::npos) << cli.output;
    }
}

// The rates and time-outs given reach the run, as the module sees it: the
// wake-up at --rate, the line left at --normal-rate by the cancel that
// --wake-timeout makes.  A bad value or an unknown option is refused (exit 7,
// naming it) before anything reaches the line.
TEST_F(OrvaneCli, OptionsReachTheRunOrAreRefused)
{
    Module module(folder, "com1", "--no-pace --install-rate 57600 --power-on-crs none");
    Cli cli(Args(module.link, {"--rate", "57600", "--normal-rate", "115200", "--wake-timeout", "0.5"}));
    EXPECT_EQ(cli.Wait(), 3) << cli.output;
    EXPECT_NE(cli.output.find("no answer in 0.5 s"), std::string::npos) << cli.output;
    const std::string report = module.Ask("report");
    EXPECT_EQ(Field(report, "\"kind\":\"cr\"", "baud"), "57600") << report;
    EXPECT_EQ(Field(report, "\"line\"", "baud"), "115200") << report;

    const std::vector<std::vector<std::string>> bad = {
        {"--rate", "9600"}, {"--normal-rate", "57600"}, {"--verdict-timeout", "soon"}, {"--wake-timeout", "-1"},
        {"--retries", "x"}, {"--expect-model", "99"}, {"--frobnicate"}, {"--sha256", "12"},
        {"--adapter", "0403:6001:FORGED"}, {"--child"},   // between a parent and its children only
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args[0]);
        ASSERT_EQ(module.Ask("clear"), "ok");
        Cli refused(Args(module.link, args), (folder / "errors.txt").string());
        EXPECT_EQ(refused.Wait(), 7);
        EXPECT_NE(Slurp(folder / "errors.txt").find(args[0]), std::string::npos) << Slurp(folder / "errors.txt");
        EXPECT_EQ(Field(module.Ask("report"), "", "received_bytes"), "0");
    }
    // Refused at once, never left waiting: an identity no adapter can have,
    // a port whose own name holds {port}, a folder for the unit ids; with
    // --json, an error event says so, and an image problem is one failure.
    struct Refused { std::vector<std::string> args; int code; std::string text; };
    const Refused refusedAtOnce[] = {
        {{"--watch", "--match", "usb:403:6001", "--image", image}, 7, "--match usb:403:6001: write usb:VID:PID"},
        {{"--port", (folder / "x{port}").string(), "--unit-id-from", (folder / "{port}.ids").string(), "--image", image},
         7, "cannot read the unit ids from " + (folder / "x{port}.ids").string()},
        {{"--port", module.link, "--unit-id-from", folder.string(), "--image", image}, 7,
         "cannot read the unit ids from " + folder.string() + ": it is a folder"},
        {{"--port", "usb:dead:beef", "--image", image, "--json"}, 7,
         "{\"schema\":1,\"event\":\"error\",\"code\":7,\"text\":\"--port usb:dead:beef matches no port"},
        {{"--port", module.link, "--image", (folder / "none.bin").string(), "--json"}, 4,
         "\"event\":\"summary\",\"code\":4,\"units\":1,\"passed\":0,\"failed\":1"},
    };
    for (const Refused& c : refusedAtOnce) {
        SCOPED_TRACE(c.text);
        Cli refused(c.args, (folder / "errors.txt").string());
        EXPECT_EQ(refused.Wait(), c.code);
        EXPECT_NE((refused.output + Slurp(folder / "errors.txt")).find(c.text), std::string::npos) << refused.output;
        std::ofstream(folder / "events.json") << refused.output;
        if (std::find(c.args.begin(), c.args.end(), "--json") != c.args.end())
            EXPECT_EQ(Validate(folder / "events.json"), "");
    }
}

// The orvane-cli process that runs a port for a parent: its pid, or -1.
pid_t ChildFor(const std::string& port)
{
    for (const auto& p : fs::directory_iterator("/proc")) {
        const std::string cmd = Slurp(p.path() / "cmdline");
        if (cmd.find(std::string("--port") + '\0' + port + '\0') != std::string::npos &&
            cmd.find(std::string("--child") + '\0') != std::string::npos)
            return pid_t(std::atoi(p.path().filename().c_str()));
    }
    return -1;
}

// A unit that ran is in the record (a result event and a log line) and in
// the summary's counts whatever ends the run, and the exit code is one of
// the documented ones.
TEST_F(OrvaneCli, EveryUnitIsInTheRecord)
{
    struct Step
    {
        const char* text;         // wait until the text (stderr) has it this often, or (nullptr)
        size_t times;             // until this module has stopped reading the image
        std::string request;      // then ask the first module this
        int signal;               // or send this
        int childOf;              // to the process, or to the child for this module's port (0, 1, ...)
    };
    struct Case
    {
        const char* name;
        std::vector<std::string> modules;   // simulator options, one module per port
        std::vector<std::string> args;
        std::vector<Step> steps;
        int code;
        std::vector<std::string> results;   // each result event's result and reason code, in order (and the log's)
        std::string reason;                 // in the last one's reason
        std::string summary;
        bool logged = true;                 // the log has them too
    };
    const Case cases[] = {
        {"Ctrl+C during a retry's wake-up",
         {"--power-on-crs none --silent-phase 3"},
         {"--station", "--retries", "1", "--verdict-timeout", "0.5"},
         {{"Turn the power on", 1, "power on", 0, -1}, {"Turn the power on", 2, "", SIGINT, -1}},
         2,
         {"FAIL no_verdict"},
         "no verdict 0.5 s after the image",
         "\"units\":1,\"passed\":0,\"failed\":1"},
        {"a port's process killed mid-image",
         {"", "--stall-offset 1000 --stall-ms 5000"},
         {},
         {{nullptr, 1, "", SIGKILL, 1}},
         10,
         {"FAIL process_ended", "PASS installed"},
         "orvane-cli's process for this port ended (signal 9)",
         "\"code\":10,\"units\":2,\"passed\":1,\"failed\":1"},
        {"SIGHUP mid-image (a terminal closed)",
         {"--stall-offset 1000 --stall-ms 1500"},
         {"--image", MakeImage("mid.bin", 40000, 3).string()},   // more than the line holds: the image waits
         {{nullptr, 0, "", SIGHUP, -1}},
         6,
         {"CANCELLED cancelled"},
         "stopped waiting for the verdict: cancelled (SIGHUP)",   // the image was written whole first
         "\"code\":6,\"units\":0"},
        {"a log line that cannot be written",
         {""},
         {"--log", (folder / "none" / "units.csv").string()},
         {},
         9,
         {"FAIL log_unwritten"},
         "installed, but its log line could not be written (cannot open the log " + (folder / "none").string(),
         "\"code\":9,\"units\":1,\"passed\":0,\"failed\":1",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(log);
        std::vector<std::unique_ptr<Module>> modules;
        std::string ports;
        for (const std::string& m : c.modules) {
            modules.push_back(std::make_unique<Module>(folder, "com" + std::to_string(modules.size() + 1), "--no-pace " + m));
            ports += (ports.empty() ? "" : ",") + modules.back()->link;
        }
        std::vector<std::string> args = Args(ports, c.args);
        args.push_back("--json");
        const fs::path text = folder / "text.txt";
        fs::remove(text);
        Cli cli(args, text.string());
        for (const Step& s : c.steps) {
            if (s.text == nullptr)
                ASSERT_TRUE(cli.WaitUntil([&] { return Field(modules[s.times]->Ask("report"), "", "stall_ms") != "null"; }));
            else
                ASSERT_TRUE(cli.WaitUntil([&] {
                const std::string t = Slurp(text);
                size_t n = 0;
                for (size_t at = t.find(s.text); at != std::string::npos; at = t.find(s.text, at + 1))
                    ++n;
                return n >= s.times;
            })) << Slurp(text);
            if (!s.request.empty())
                ASSERT_EQ(modules[0]->Ask(s.request), "ok");
            else if (s.childOf < 0)
                cli.Signal(s.signal);
            else
                ASSERT_EQ(kill(ChildFor(modules[size_t(s.childOf)]->link), s.signal), 0);
        }
        EXPECT_EQ(cli.Wait(), c.code) << Slurp(text);
        std::ofstream(folder / "events.json") << cli.output;
        EXPECT_EQ(Validate(folder / "events.json"), "");
        std::vector<std::string> results, logged;
        for (const std::string& r : Events(cli.output, "result"))
            results.push_back(Field(r, "", "result") + " " + Field(r, "", "reason_code"));
        for (std::string& r : results)
            r.erase(std::remove(r.begin(), r.end(), '"'), r.end());
        const auto rows = ReadCsv(log);
        for (size_t i = 1; i < rows.size(); ++i)
            logged.push_back(rows[i][kResult] + " " + rows[i][kReasonCode]);
        std::sort(results.begin(), results.end());
        std::sort(logged.begin(), logged.end());
        EXPECT_EQ(results, c.results) << cli.output;
        EXPECT_EQ(logged, c.logged ? c.results : std::vector<std::string>()) << Slurp(log);
        const auto events = Events(cli.output, "result");
        EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const std::string& r) {
            return Field(r, "", "reason").find(c.reason) != std::string::npos;
        })) << cli.output;
        const auto summary = Events(cli.output, "summary");
        ASSERT_EQ(summary.size(), 1u) << cli.output;
        EXPECT_NE(summary[0].find(c.summary), std::string::npos) << summary[0];
    }
}

} // namespace

// ---- benches at scale ------------------------------------------------------

namespace bench {

// A FIFO a scanner program would write the labels into, held open for
// writing by the test.
struct Fifo
{
    explicit Fifo(const fs::path& path)
    {
        mkfifo(path.c_str(), 0600);
        fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    }
    ~Fifo() { close(fd); }
    void Put(const std::string& line) { EXPECT_EQ(write(fd, (line + "\n").data(), line.size() + 1), ssize_t(line.size() + 1)); }
    int fd;
};

// The raw log's lines by naive splitting (no quotes in these lines): the
// test's own reading, not the program's.
std::vector<std::vector<std::string>> RawLines(const fs::path& log)
{
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(Slurp(log));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f(1);
        for (char c : line)
            if (c == ',')
                f.emplace_back();
            else
                f.back().push_back(c);
        lines.push_back(f);
    }
    return lines;
}

// Nearest-rank 95th percentile and mean of durations, as the report defines them.
std::pair<double, double> MeanP95(std::vector<double> d)
{
    std::sort(d.begin(), d.end());
    double sum = 0;
    for (double x : d)
        sum += x;
    const size_t rank = (d.size() * 95 + 99) / 100;
    return {d.empty() ? 0 : sum / double(d.size()), d.empty() ? 0 : d[rank - 1]};
}

std::string Fixed2(double v)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f", v);
    return text;
}

// No orvane-cli left running that was started for this folder.
int Leftovers(const fs::path& folder)
{
    int n = 0;
    for (const auto& p : fs::directory_iterator("/proc")) {
        const std::string cmd = Slurp(p.path() / "cmdline");
        const std::string program = cmd.substr(0, cmd.find('\0'));
        if (program.size() >= 11 && program.compare(program.size() - 11, 11, "/orvane-cli") == 0 &&
            cmd.find(folder.string()) != std::string::npos &&
            Slurp(p.path() / "stat").find(") Z") == std::string::npos)
            ++n;
    }
    return n;
}

} // namespace bench

// Each unit's id belongs to that unit alone.  It is read when the unit asks
// for it: a station that ends (an adapter pulled out and plugged back in)
// leaves what it did not take for the next, from a FIFO as from a file.
// Ports that would share one list, or one --unit-id for many units, are
// refused; an id from a file is checked as --unit-id is.
TEST_F(OrvaneCli, IdsBelongToOneUnit)
{
    struct Case
    {
        const char* name;
        bool fifo;                        // the ids come through a FIFO (a scanner program), else a file
        std::string ids;                  // what it holds at first
        std::string late;                 // what comes into the FIFO before the last unit
        std::vector<std::string> args;    // {folder} stands for the test's folder
        int units;                        // 0: refused; with --watch, each unit after a replug
        int code;
        std::vector<std::string> unitIds; // each result's
        std::string text;                 // in the text
        std::string idsName = "com1.ids";
    };
    const std::string watch = "--watch --match {folder}/hub/com? --unit-id-from {folder}/{port}.ids";
    const Case cases[] = {
        {"a FIFO across a replug", true, "A1\nA2\nA3\n", "A4\n", {watch}, 2, 0, {"A1", "A2"}, ""},
        {"a file across a replug", false, "A1\nA2\nA3\n", "", {watch}, 2, 0, {"A1", "A2"}, ""},
        {"a file per adapter's serial number", false, "S1\n", "",
         {"--port usb:0403:6001:A1 --unit-id-from {folder}/{serial}.ids"}, 1, 0, {"S1"}, "", "A1.ids"},
        {"a control byte in a line of a file", false, "A\x1d" "B\nGOOD\n", "",
         {"--port {folder}/hub/com1 --unit-id-from {folder}/com1.ids"}, 1, 0, {"GOOD"},
         "com1.ids:1 holds the control byte 0x1d, not an id; the unit waits for the next line"},
        {"two ports, one list", false, "", "", {"--port {folder}/a,{folder}/b --unit-id-from {folder}/ids.txt"}, 0, 7,
         {}, "with several ports or --watch it needs {port} or {serial}"},
        {"one --unit-id for a station", false, "", "", {"--port {folder}/a --station --unit-id U1"}, 0, 7, {},
         "--unit-id names one unit"},
    };
    const fs::path hub = folder / "hub";
    fs::create_directory(hub);
    MakeMachine((folder / "machine").string(), (hub / "com1").string());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path ids = folder / c.idsName, text = folder / "text.txt";
        fs::remove(ids);
        std::unique_ptr<bench::Fifo> fifo;
        if (c.fifo) {
            fifo = std::make_unique<bench::Fifo>(ids);
            EXPECT_EQ(write(fifo->fd, c.ids.data(), c.ids.size()), ssize_t(c.ids.size()));
        } else {
            std::ofstream(ids) << c.ids;
        }
        std::vector<std::string> args = {"--image", image, "--log", log, "--json"};
        for (const std::string& words : c.args)
            for (std::string a : Module::Words(words)) {
                for (size_t at; (at = a.find("{folder}")) != std::string::npos;)
                    a.replace(at, 8, folder.string());
                args.push_back(a);
            }
        const bool watching = c.args[0] == watch;
        std::unique_ptr<Module> module;
        if (c.units > 0)
            module = std::make_unique<Module>(hub, "com1", "--no-pace --power-on-crs none");
        setenv("ORVANE_CLI_SYSROOT", (folder / "machine").c_str(), 1);
        Cli cli(args, text.string());
        for (int u = 1; u <= c.units; ++u) {
            if (u > 1) {
                ASSERT_EQ(module->Ask("unplug"), "ok");
                ASSERT_TRUE(cli.WaitFor("\"event\":\"port_removed\"", size_t(u - 1))) << Slurp(text);
                ASSERT_EQ(module->Ask("plug"), "ok");
            }
            ASSERT_TRUE(cli.WaitFor(watching ? "\"event\":\"port_added\"" : "\"event\":\"unit_start\"", size_t(u)))
                << Slurp(text);
            if (u == c.units && fifo)
                EXPECT_EQ(write(fifo->fd, c.late.data(), c.late.size()), ssize_t(c.late.size()));
            ASSERT_EQ(module->Ask("power on"), "ok");
            ASSERT_TRUE(cli.WaitFor("\"event\":\"result\"", size_t(u))) << Slurp(text);
        }
        if (watching)
            cli.Interrupt();
        EXPECT_EQ(cli.Wait(), c.code) << Slurp(text);
        unsetenv("ORVANE_CLI_SYSROOT");
        std::vector<std::string> unitIds;
        for (const std::string& r : Events(cli.output, "result"))
            unitIds.push_back(Field(r, "", "unit_id"));
        for (std::string& id : unitIds)
            id.erase(std::remove(id.begin(), id.end(), '"'), id.end());
        EXPECT_EQ(unitIds, c.unitIds) << cli.output;
        EXPECT_NE((cli.output + Slurp(text)).find(c.text), std::string::npos) << Slurp(text);
        std::ofstream(folder / "events.json") << cli.output;
        EXPECT_EQ(Validate(folder / "events.json"), "");
    }
}

// Four ports, 25 units each, every unit's id fed through its port's FIFO:
// 100 units logged with their ids on the ports they were fed to, none torn,
// missing or twice; the report over that log is what the raw lines say.
TEST_F(OrvaneCli, HundredUnitsWithIdsFromAFifoPerPort)
{
    image = MakeImage("image.bin", 2000, 1);
    std::vector<std::unique_ptr<Module>> modules;
    std::vector<std::unique_ptr<bench::Fifo>> fifos;
    std::string ports;
    for (int i = 1; i <= 4; ++i) {
        modules.push_back(std::make_unique<Module>(folder, "com" + std::to_string(i), "--no-pace --idle-ms 20"));
        fifos.push_back(std::make_unique<bench::Fifo>(folder / ("com" + std::to_string(i) + ".ids")));
        ports += (i > 1 ? "," : "") + modules.back()->link;
        for (int u = 1; u <= 25; ++u)
            fifos.back()->Put("P" + std::to_string(i) + "-U" + std::to_string(u));
    }
    Cli cli(Args(ports, {"--station", "--json", "--unit-id-from", (folder / "{port}.ids").string(), "--bench", "B7",
                         "--operator", "ann", "--image-name", "fw 2.4"}),
            (folder / "text.txt").string());
    ASSERT_TRUE(cli.WaitUntil([&] { return cli.Count("\"result\":\"PASS\"") >= 100; }, 60s)) << Slurp(folder / "text.txt");
    // Each port's 26th module has answered and waits for an id that does not come.
    auto waiting = [&] {
        const std::string text = Slurp(folder / "text.txt");
        size_t n = 0;
        for (size_t at = text.find("] waiting for the unit id"); at != std::string::npos;
             at = text.find("] waiting for the unit id", at + 1))
            ++n;
        return n == 4;
    };
    ASSERT_TRUE(cli.WaitUntil(waiting)) << Slurp(folder / "text.txt");
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 6) << "the units waiting for an id were cancelled";
    std::ofstream(folder / "events.json") << cli.output;
    EXPECT_EQ(Validate(folder / "events.json"), "");

    const auto lines = bench::RawLines(log);
    std::map<std::string, std::string> portOfId, idsInOrder;
    std::map<std::string, std::vector<double>> durations;
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto& f = lines[i];
        ASSERT_EQ(f.size(), 20u) << "line " << i + 1 << " torn";
        if (f[kResult] != "PASS")
            continue;
        EXPECT_TRUE(portOfId.emplace(f[kUnitId], f[kPort]).second) << f[kUnitId] << " logged twice";
        EXPECT_EQ(folder / ("com" + f[kUnitId].substr(1, 1)), fs::path(f[kPort])) << f[kUnitId] << " on the wrong port";
        EXPECT_EQ(f[kOperator] + f[kBench] + f[kImageLabel] + f[kFlags], "annB7fw 2.4");
        durations[f[kPort]].push_back(std::atof(f[kDuration].c_str()));
        idsInOrder[f[kPort]] += f[kUnitId].substr(3) + " ";
    }
    EXPECT_EQ(portOfId.size(), 100u);
    for (const auto& order : idsInOrder)
        EXPECT_EQ(order.second, "U1 U2 U3 U4 U5 U6 U7 U8 U9 U10 U11 U12 U13 U14 U15 U16 U17 U18 U19 U20 U21 U22 U23 U24 U25 ")
            << "the labels in the order they were scanned, on " << order.first;

    Cli report({"report", log.string(), "--json"});
    EXPECT_EQ(report.Wait(), 0);
    for (const auto& d : durations) {
        const auto mp = bench::MeanP95(d.second);
        const std::string expect = "\"group\":\"" + d.first + "\",\"units\":25,\"passed\":25,\"failed\":0,\"cancelled\":1,"
                                   "\"first_pass\":25,\"first_pass_yield\":1.0000,\"retries\":0,\"mean_s\":" +
                                   bench::Fixed2(mp.first) + ",\"p95_s\":" + bench::Fixed2(mp.second);
        EXPECT_NE(report.output.find(expect), std::string::npos) << expect << "\n" << report.output;
    }
}

// --watch while four adapters come and go 52 times (appearing one by one),
// the third refusing "flash" early on, the second pulled out mid-image
// later: every unit logged against the port its id was fed to and the pty
// that port had then, the removal a failure with exit 5, a repeated id
// flagged, no station left once its port has gone, and the run's exit code
// the first unit that did not pass (not the first port's).
TEST_F(OrvaneCli, WatchFollowsAdaptersAsTheyComeAndGo)
{
    image = MakeImage("image.bin", 40000, 1);   // more than the pty holds: a stall holds the image
    const fs::path hub = folder / "hub";
    fs::create_directory(hub);
    std::vector<std::unique_ptr<bench::Fifo>> fifos;
    for (int i = 1; i <= 4; ++i)
        fifos.push_back(std::make_unique<bench::Fifo>(folder / ("com" + std::to_string(i) + ".ids")));
    Cli cli({"--watch", "--match", (hub / "com?").string(), "--image", image.string(), "--log", log.string(), "--json",
             "--unit-id-from", (folder / "{port}.ids").string(), "--bench", "B1"},
            (folder / "text.txt").string());
    auto count = [&](const std::string& event, const std::string& port = "") {
        return cli.Count("\"event\":\"" + event + "\"" + (port.empty() ? "" : ",\"port\":\"" + port + "\""));
    };
    std::vector<std::unique_ptr<Module>> modules(4);
    std::map<std::string, std::set<std::string>> ptys;   // a port's link -> the ptys it has had
    size_t plugged = 0, results = 0;
    const int kRounds = 13, kStallRound = 6, kRepeatRound = 5, kRefusedRound = 2;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (size_t i = 0; i < 4; ++i) {
            if (round == 0)
                modules[i] = std::make_unique<Module>(hub, "com" + std::to_string(i + 1), "--no-pace --idle-ms 20 --power-on-crs none");
            else
                ASSERT_EQ(modules[i]->Ask("plug"), "ok");
            ASSERT_TRUE(cli.WaitFor("\"event\":\"port_added\"", ++plugged)) << Slurp(folder / "text.txt");
            ptys[modules[i]->link].insert(fs::read_symlink(modules[i]->link));
            fifos[i]->Put("W" + std::to_string(i + 1) + "-R" + std::to_string(i == 0 && round == kRepeatRound ? 2 : round));
        }
        const std::string stalled = modules[1]->link;
        if (round == kStallRound)
            ASSERT_EQ(modules[1]->Ask("set stall-offset=1000 stall-ms=30000"), "ok");
        const size_t progress = count("progress", stalled);
        ASSERT_EQ(modules[2]->Ask(round == kRefusedRound ? "set fail-phase=1" : "set fail-phase=none"), "ok");
        for (auto& m : modules)
            ASSERT_EQ(m->Ask("power on"), "ok");
        if (round == kStallRound) {
            ASSERT_TRUE(cli.WaitUntil([&] { return count("progress", stalled) > progress; })) << cli.output;
            ASSERT_EQ(modules[1]->Ask("unplug"), "ok");   // pulled out mid-image
        }
        results += 4;
        ASSERT_TRUE(cli.WaitFor("\"event\":\"result\"", results)) << Slurp(folder / "text.txt");
        for (size_t i = 0; i < 4; ++i)
            if (!(round == kStallRound && i == 1))
                ASSERT_EQ(modules[i]->Ask("unplug"), "ok");
        ASSERT_TRUE(cli.WaitFor("\"event\":\"port_removed\"", plugged)) << Slurp(folder / "text.txt");
        if (round == kStallRound)
            ASSERT_EQ(modules[1]->Ask("set stall-offset=none"), "ok");
    }
    // Every station ends with its port: only the watching process is left.
    cli.WaitUntil([&] { return bench::Leftovers(folder) <= 1; }, 10s);
    EXPECT_EQ(bench::Leftovers(folder), 1);
    // Ctrl+C while a station waits for its next module: the line is left at
    // the normal rate, and nothing is left running.
    const size_t waking = count("unit_start", modules[0]->link);
    ASSERT_EQ(modules[0]->Ask("plug"), "ok");
    ASSERT_TRUE(cli.WaitUntil([&] { return count("unit_start", modules[0]->link) > waking; })) << cli.output;
    ASSERT_TRUE(modules[0]->WaitReport("\"kind\":\"cr\"").find("\"baud\":115200") != std::string::npos);
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(), 1) << Slurp(folder / "text.txt");
    EXPECT_EQ(bench::Leftovers(folder), 0);
    EXPECT_EQ(Field(modules[0]->Ask("report"), "\"line\"", "baud"), "19200");
    std::ofstream(folder / "events.json") << cli.output;
    EXPECT_EQ(Validate(folder / "events.json"), "");

    size_t passed = 0, repeated = 0;
    for (const std::string& r : Events(cli.output, "result")) {
        const std::string port = Field(r, "", "port"), id = Field(r, "", "unit_id");
        const std::string link = port.substr(1, port.size() - 2);
        EXPECT_EQ(id.substr(0, 3), "\"W" + link.substr(link.size() - 1)) << r;
        EXPECT_TRUE(ptys[link].count(Field(r, "", "device").substr(1, Field(r, "", "device").size() - 2))) << r;
        repeated += r.find("\"flags\":[\"unit_id_repeated\"]") != std::string::npos;
        if (Field(r, "", "code") == "0") {
            ++passed;
            continue;
        }
        if (link == modules[2]->link) {
            EXPECT_EQ(Field(r, "", "code") + Field(r, "", "reason_code"), "1\"module_failed\"") << r;
            continue;
        }
        EXPECT_EQ(link, modules[1]->link) << r;
        EXPECT_EQ(Field(r, "", "code") + Field(r, "", "reason_code"), "5\"port_gone\"") << r;
        EXPECT_NE(r.find("stopped sending the image: the port went away with"), std::string::npos) << r;
    }
    EXPECT_EQ(passed, size_t(4 * kRounds - 2));
    EXPECT_EQ(repeated, 1u) << "the id fed twice on port 1";
    const auto summary = Events(cli.output, "summary");
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_NE(summary[0].find("\"code\":1,\"units\":52,\"passed\":50,\"failed\":2"), std::string::npos) << summary[0];
    const auto rows = ReadCsv(log);
    ASSERT_EQ(rows.size(), 53u);
    for (const auto& row : rows)
        EXPECT_EQ(row.size(), 20u);
}

// report over the logs of two benches: the layout before ports by identity,
// the one after, the current one, JSON Lines; a retry counted as one unit;
// torn and foreign lines counted and named, never a crash.
TEST_F(OrvaneCli, ReportReadsEveryLayoutAndNamesWhatItCannot)
{
    const std::string now = ",1,installed,U1,ann,B1,2.1.0,fw 2.4,0403:6001:A1,MRQ-41 boot 000,";
    std::ofstream(folder / "a.csv")
        << "start,port,model,image,size,sha256,duration_s,bytes_per_s,result,reason\n"
           "2026-12-01T08:00:00Z,COM1,MRQ-41,a.bin,100,aa,2.0,50,PASS,\n"
           "2026-12-01T08:01:00Z,COM1,MRQ-41,a.bin,100,aa,3.0,,FAIL,\"stopped waiting for the verdict: the module "
           "reported failure (302); last received \"\"302\"\"\"\n"
           "2026-12-01T08:02:00Z,COM2,,a.bin,100,aa,1.0,,FAIL,stopped waking the boot monitor,1,no_answer\n"
           "2026-12-01T08:03:00Z,COM2,MRQ-41,a.bin,100,aa,4.0,50,PASS,,2,installed\n"
           "2026-12-02T08:00:00Z,COM1,MRQ-41,a.bin,100,aa,5.0,50,PASS,"
        << now << "\n"
        << "2026-12-02T08:01:00Z,COM1,MRQ-41,a.b\n"
           "2026-12-0\n"
           "# exported by a spreadsheet\n";
    std::ofstream(folder / "b.jsonl")
        << "{\"schema\":1,\"event\":\"start\",\"version\":\"2.1.0\"}\n"
           "{\"schema\":1,\"event\":\"result\",\"port\":\"COM3\",\"attempt\":1,\"code\":5,\"result\":\"FAIL\",\"reason_code\":"
           "\"port_gone\",\"start\":\"2026-12-02T09:00:00Z\",\"duration_s\":0.500,\"bench\":\"B2\",\"flags\":[]}\n"
           "{\"schema\":1,\"event\":\"result\",\"port\":\"COM3\",\"attempt\":1,\"code\":0,\"result\":\"PASS\",\"reason_code\":"
           "\"installed\",\"start\":\"2026-12-02T09:01:00Z\",\"duration_s\":6.000,\"bench\":\"B2\"}\n"
           "{\"schema\":1,\"event\":\"res\n"
           "{\"hello\":1}\n";
    const std::string a = (folder / "a.csv").string(), b = (folder / "b.jsonl").string();
    Cli json({"report", a, b, "--json"});
    EXPECT_EQ(json.Wait(), 0);
    std::ofstream(folder / "report.json") << json.output;
    EXPECT_EQ(Validate(folder / "report.json"), "");
    const std::string groups[] = {
        "\"group\":\"COM1\",\"units\":3,\"passed\":2,\"failed\":1,\"cancelled\":0,\"first_pass\":2,\"first_pass_yield\":0.6667,"
        "\"retries\":0,\"mean_s\":3.33,\"p95_s\":5.00,\"failures\":[{\"reason\":\"stopped waiting for the verdict: the "
        "module reported failure (#)\",\"units\":1}]",
        "\"group\":\"COM2\",\"units\":1,\"passed\":1,\"failed\":0,\"cancelled\":0,\"first_pass\":0,\"first_pass_yield\":0.0000,"
        "\"retries\":1,\"mean_s\":5.00,\"p95_s\":5.00",
        "\"group\":\"COM3\",\"units\":2,\"passed\":1,\"failed\":1,\"cancelled\":0,\"first_pass\":1,\"first_pass_yield\":0.5000,"
        "\"retries\":0,\"mean_s\":3.25,\"p95_s\":6.00,\"failures\":[{\"reason\":\"port_gone\",\"units\":1}]",
        "\"event\":\"report\",\"by\":\"port\",\"units\":6,\"passed\":4,\"failed\":2,\"cancelled\":0,\"first_pass\":3,"
        "\"first_pass_yield\":0.5000,\"retries\":1,\"mean_s\":3.58,\"p95_s\":6.00",
        "\"files\":2,\"lines\":14,\"torn\":3,\"foreign\":2,\"older\":4",
        "{\"where\":\"" + a + ":7\",\"what\":\"torn: 4 fields, not 10, 12 or 20\"}",
        "{\"where\":\"" + a + ":8\",\"what\":\"torn: cut short in its first field\"}",
        "{\"where\":\"" + b + ":4\",\"what\":\"torn: a JSON line that does not close\"}",
        "{\"where\":\"" + b + ":5\",\"what\":\"foreign: JSON, but not an orvane-cli event\"}",
        "\"older_lines\":[{\"file\":\"" + a + "\",\"first_line\":2,\"last_line\":5,\"lines\":4}]",
    };
    for (const std::string& g : groups)
        EXPECT_NE(json.output.find(g), std::string::npos) << g << "\n" << json.output;

    Cli table({"report", a, b, "--by", "day"});
    EXPECT_EQ(table.Wait(), 0);
    EXPECT_TRUE(std::regex_search(table.output, std::regex("\n2026-12-01 +3 +2 +1 +33.3% +1 ")) &&
                std::regex_search(table.output, std::regex("\n2026-12-02 +3 +2 +1 +66.7% +0 ")) &&
                table.output.find(a + ":9  foreign: not a log line (\"# exported by a spreadsheet\")") != std::string::npos)
        << table.output;
    Cli bad({"report", a, "--by", "colour"});
    EXPECT_EQ(bad.Wait(), 7);
    Cli folderGiven({"report", a, folder.string()});   // opens on Linux, and reads as nothing
    EXPECT_EQ(folderGiven.Wait(), 7);
    EXPECT_NE(folderGiven.output.find("cannot read " + folder.string() + "\n"), std::string::npos) << folderGiven.output;
}

// report over what it should not meet: durations that are none, a line of
// 32 MiB, two benches logging a port of the same name into one file, --by
// without a value.  Each bad line is named, memory stays far below the line,
// and the units of two benches stay apart.
TEST_F(OrvaneCli, ReportTakesWhateverItIsGiven)
{
    auto unit = [](const std::string& duration, const char* result, int attempt, const char* bench) {
        return "2026-12-01T08:00:00Z,/dev/ttyUSB0,MRQ-41,a.bin,100,aa," + duration + ",50," + result + ",," +
               std::to_string(attempt) + "," + (*result == 'P' ? "installed" : "no_answer") + ",U1,ann," + bench +
               ",2.1.0,,,,\n";
    };
    struct Case
    {
        const char* name;
        size_t longLine;   // a first line of this many bytes (written in blocks: this process stays small)
        std::string log;
        std::vector<std::string> args;
        int code;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"durations that are none", 0,
         unit("nan", "PASS", 1, "B1") + unit("1e300", "PASS", 1, "B1") + unit("-7", "PASS", 1, "B1") + unit("2.0", "PASS", 1, "B1"),
         {"--json"}, 0,
         {"\"units\":1,", "\"foreign\":3,", ":1\",\"what\":\"foreign: duration_s nan is not a unit's duration (0 s to 30 days)\"",
          ":2\",\"what\":\"foreign: duration_s 1e+300 is not", ":3\",\"what\":\"foreign: duration_s -7 is not"}},
        {"a line of 32 MiB", 32 << 20, unit("2.0", "PASS", 1, "B1"), {"--json"}, 0,
         {"\"units\":1,", "\"foreign\":1,", ":1\",\"what\":\"foreign: a line longer than 65536 bytes\""}},
        {"two benches, one port name, one file", 0,
         unit("1.0", "FAIL", 1, "B1") + unit("2.0", "PASS", 1, "B2") + unit("3.0", "PASS", 2, "B1"), {"--by", "bench", "--json"},
         0,
         {"\"group\":\"B1\",\"units\":1,\"passed\":1,\"failed\":0,\"cancelled\":0,\"first_pass\":0,",
          "\"group\":\"B2\",\"units\":1,\"passed\":1,\"failed\":0,\"cancelled\":0,\"first_pass\":1,"}},
        {"--by without a value", 0, unit("2.0", "PASS", 1, "B1"), {"--by"}, 7, {"report --by needs a value"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::ofstream out(log);
            const std::string block(65536, 'x');
            for (size_t n = 0; n < c.longLine; n += block.size())
                out << block;
            out << (c.longLine ? "\n" : "") << c.log;
        }
        std::vector<std::string> args = {"report", log.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Cli cli(args, (folder / "errors.txt").string());
        EXPECT_EQ(cli.Wait(), c.code);
        const std::string text = cli.output + Slurp(folder / "errors.txt");
        for (const std::string& t : c.texts)
            EXPECT_NE(text.find(t), std::string::npos) << t << "\n" << text.substr(0, 2000);
        EXPECT_LT(cli.maxRssKb, 16 * 1024) << "peak memory in KiB";
    }
}

