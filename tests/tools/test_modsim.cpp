// The module simulator as the Windows program meets it: the real binary,
// its pty opened through the link the way Wine opens COM1 (raw, 115200 8N1
// unless a test says otherwise), and its control port.  Reports are checked
// as text: the field order is fixed (docs/simulator.md).
#include "tests/support/simprocess.h"
#include "tools/modsim/record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <random>
#include <regex>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kLine8N1 = "\"line\":{\"baud\":115200,\"data_bits\":8,\"parity\":\"none\",\"stop_bits\":1}";

std::string sha256_of_file(const std::string& path)
{
    FILE* p = popen(("sha256sum '" + path + "'").c_str(), "r");
    char hex[65] = {};
    if (!p || std::fscanf(p, "%64s", hex) != 1)
        hex[0] = 0;
    if (p)
        pclose(p);
    return hex;
}

double number_after(const std::string& text, const std::string& pattern)
{
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(pattern)))
        return -1;
    return std::stod(m[1]);
}

// One simulator in a folder of its own: the link, the report file and
// whatever a test puts there.
struct Sim {
    explicit Sim(std::vector<std::string> args)
        : dir(MakeDir()), link(dir + "/com1"), report_file(dir + "/report.json"),
          process(link, WithReport(std::move(args), report_file))
    {
    }
    ~Sim() { std::filesystem::remove_all(dir); }

    static std::string MakeDir()
    {
        char dir_template[] = "/tmp/modsim-test-XXXXXX";
        return mkdtemp(dir_template);
    }
    static std::vector<std::string> WithReport(std::vector<std::string> args, const std::string& file)
    {
        args.insert(args.begin(), {"--report", file});
        return args;
    }

    std::string request(const std::string& line) { return process.Request(line); }
    std::string wait_report(const std::string& text, std::chrono::milliseconds limit = 5s)
    {
        return process.WaitReport(text, limit);
    }
    int quit() { return process.Quit(); }

    std::string dir, link, report_file;
    SimProcess process;
};

// The Windows program's end of the line.
class Port {
public:
    explicit Port(const std::string& path) : fd(open(path.c_str(), O_RDWR | O_NOCTTY)) { set(B115200); }
    ~Port() { close(fd); }

    // Raw at `speed`; extra flags as Wine leaves them for other settings.
    void set(speed_t speed, tcflag_t cflag = 0, tcflag_t iflag = 0)
    {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        t.c_cflag |= CLOCAL | CREAD | cflag;
        t.c_iflag |= iflag;
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    }

    void write_all(const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(n, 0);
            done += size_t(n);
        }
    }

    // Reads until `until` has arrived, `count` bytes have, or time is up.
    std::string read(std::chrono::milliseconds limit, const std::string& until = "", size_t count = 0)
    {
        const auto end = Clock::now() + limit;
        std::string got;
        while (Clock::now() < end) {
            if (!until.empty() && got.find(until) != std::string::npos)
                break;
            if (count && got.size() >= count)
                break;
            pollfd p{fd, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (poll(&p, 1, int(std::max<long>(1, left.count()))) <= 0)
                continue;
            if (p.revents & POLLHUP) {
                hung_up = true;
                break;
            }
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof(buf));
            if (n > 0)
                got.append(buf, size_t(n));
        }
        return got;
    }

    // A CR every 10 ms, as the Windows program wakes a module, until the
    // wake-up reply line has come.
    std::string wake()
    {
        std::string got;
        for (int i = 0; i < 100 && got.find('\n') == std::string::npos; ++i) {
            write_all("\r");
            got += read(10ms);
        }
        return got + read(50ms);
    }

    int fd;
    bool hung_up = false;
};

std::string random_bytes(size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = char(gen());
    return bytes;
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(Modsim, FullRunOf520WWithItsImage)
{
    Sim sim({"--no-pace", "--idle-ms", "150"});
    const std::string image = random_bytes(5000, 7);
    const std::string image_file = sim.dir + "/image.bin";
    write_file(image_file, image);
    ASSERT_EQ(sim.request("set expect=" + image_file), "ok");

    Port port(sim.link);
    EXPECT_EQ(port.wake(), "MRQ-520W boot 000\r\n");
    port.write_all("flash");
    EXPECT_EQ(port.read(2s, "\n"), "flash ready 100\r\n");
    port.write_all("p 60\r");
    EXPECT_EQ(port.read(2s, "\n"), "prog 200\r\n");
    for (size_t at = 0; at < image.size(); at += 512)
        port.write_all(image.substr(at, 512));
    EXPECT_EQ(port.read(3s, "\n"), "101\r\n");

    const std::string report = sim.wait_report("\"state\":\"off\"");
    // Powered on by the third CR; those three were lost on a module still off.
    EXPECT_TRUE(std::regex_search(report, std::regex(
        R"("commands":\[\{"kind":"cr","ms":[0-9.]+,"end_ms":[0-9.]+,"count":3,"text":"\\r\\r\\r","ignored":true,)")))
        << report;
    EXPECT_NE(report.find("\"kind\":\"flash\""), std::string::npos);
    EXPECT_NE(report.find("\"text\":\"p 60\\r\",\"ignored\":false," + std::string(kLine8N1)), std::string::npos)
        << report;
    EXPECT_NE(report.find("\"image\":{\"bytes\":5000,\"sha256\":\"" + sha256_of_file(image_file) + "\""),
              std::string::npos) << report;
    EXPECT_NE(report.find("\"expected_bytes\":5000,"), std::string::npos);
    EXPECT_NE(report.find("\"equal\":true},\"verdict\":\"101\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"state\":\"off\"," + std::string(kLine8N1)), std::string::npos);
    EXPECT_GT(number_after(report, "\"verdict_ms\":([0-9.]+)"), number_after(report, "\"last_ms\":([0-9.]+)"));

    EXPECT_EQ(sim.quit(), 0);
    std::ifstream saved(sim.report_file);
    const std::string saved_report((std::istreambuf_iterator<char>(saved)), std::istreambuf_iterator<char>());
    EXPECT_NE(saved_report.find("\"verdict\":\"101\""), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(sim.link)));
}

TEST(Modsim, EachModelAnswersInItsOwnWords)
{
    struct Case {
        const char* model;
        const char* wake_reply;
        const char* flash_reply;   // empty: straight to "ready"
    };
    const Case cases[] = {
        {"520W", "MRQ-520W boot 000\r\n", "flash ready 100\r\n"},
        {"41", "MRQ-41 boot 000\r\n", "AVR flash ready 100\r\n"},
        {"710F", "MRQ-710F boot 100\r\n", ""},
    };
    Sim sim({"--no-pace"});
    Port port(sim.link);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        ASSERT_EQ(sim.request(std::string("set model=") + c.model), "ok");
        ASSERT_EQ(sim.request("power on"), "ok");
        port.write_all("\r");
        EXPECT_EQ(port.read(2s, "\n"), c.wake_reply);
        if (*c.flash_reply) {
            port.write_all("flash");
            EXPECT_EQ(port.read(2s, "\n"), c.flash_reply);
        }
        port.write_all("p 60\r");
        EXPECT_EQ(port.read(2s, "\n"), "prog 200\r\n");
        EXPECT_NE(sim.request("report").find("\"state\":\"image\""), std::string::npos);
        ASSERT_EQ(sim.request("power off"), "ok");
    }
}

TEST(Modsim, BytesAtAnotherRateAreRecordedButNotUnderstood)
{
    Sim sim({"--no-pace"});
    Port port(sim.link);
    // 19200, even parity, two stop bits, as Wine sets them.
    port.set(B19200, PARENB | CSTOPB, INPCK);
    port.write_all("\r\r\r\r\rflash");
    EXPECT_EQ(port.read(400ms), "");

    std::string report = sim.wait_report("\"received_bytes\":10,");
    EXPECT_NE(report.find("\"state\":\"off\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"count\":5,\"text\":\"\\r\\r\\r\\r\\r\",\"ignored\":true,\"line\":{\"baud\":19200,"),
              std::string::npos) << report;
    EXPECT_NE(report.find("\"parity\":\"even\",\"stop_bits\":2"), std::string::npos) << report;
    EXPECT_NE(report.find("\"ignored_bytes\":10,"), std::string::npos) << report;

    // Back at the installation rate the same CRs wake it.
    port.set(B115200);
    EXPECT_EQ(port.wake(), "MRQ-520W boot 000\r\n");
}

TEST(Modsim, FailuresAnswer302AndKeepRecording)
{
    Sim sim({"--no-pace", "--idle-ms", "150", "--fail-offset", "1000", "--powered"});
    Port port(sim.link);
    EXPECT_EQ(port.wake(), "MRQ-520W boot 000\r\n");
    port.write_all("flash");
    port.read(1s, "\n");
    port.write_all("p 60\r");
    port.read(1s, "\n");
    port.write_all(std::string(4096, 'I'));
    EXPECT_EQ(port.read(2s, "\n"), "302\r\n");
    std::string report = sim.wait_report("\"state\":\"off\"");
    EXPECT_EQ(port.read(300ms), "");   // no second verdict at the end of the image
    report = sim.request("report");
    EXPECT_NE(report.find("\"image\":{\"bytes\":4096,"), std::string::npos) << report;
    EXPECT_NE(report.find("\"verdict\":\"302\""), std::string::npos) << report;

    // A phase set to fail answers 302 in place of its reply, and the module
    // is off again.
    ASSERT_EQ(sim.request("set fail-offset=none fail-phase=1"), "ok");
    ASSERT_EQ(sim.request("set fail-phase=7"), "error bad value for fail-phase: '7' (0..3 or none)");
    ASSERT_EQ(sim.request("power on"), "ok");
    port.write_all("\r");
    EXPECT_EQ(port.read(1s, "\n"), "MRQ-520W boot 000\r\n");
    port.write_all("flash");
    EXPECT_EQ(port.read(1s, "\n"), "302\r\n");
    EXPECT_NE(sim.request("report").find("\"state\":\"off\""), std::string::npos);
}

TEST(Modsim, SendFloodAndHangUp)
{
    Sim sim({"--no-pace"});
    {
        Port port(sim.link);
        ASSERT_EQ(sim.request("send a b\\r\\n\\x00\\xfF\\t\\\\"), "ok");
        EXPECT_EQ(port.read(2s, "", 9), std::string("a b\r\n\0\xff\t\\", 9));

        const size_t count = 20000;
        ASSERT_EQ(sim.request("flood 20000 12345"), "ok");
        const std::string got = port.read(5s, "", count);
        ASSERT_EQ(got.size(), count);
        uint32_t x = 12345;
        for (size_t i = 0; i < count; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            ASSERT_EQ(uint8_t(got[i]), x & 0xFF) << "flood byte " << i;
        }
        EXPECT_NE(sim.wait_report("\"sent\":20000").find("\"flood\":{\"requested\":20000,\"sent\":20000,\"seed\":12345}"),
                  std::string::npos);

        ASSERT_EQ(sim.request("hangup"), "ok");
        port.read(2s);
        EXPECT_TRUE(port.hung_up);
    }
    // The same path opens a new line.
    Port port(sim.link);
    ASSERT_EQ(sim.request("send again"), "ok");
    EXPECT_EQ(port.read(2s, "again"), "again");
    EXPECT_NE(sim.request("report").find("\"hangups\":1,"), std::string::npos);
}

// An adapter pulled out: the line hangs up, the link is gone, the module is
// off; plugged in again, a new line at the same link.
TEST(Modsim, UnplugAndPlugTheAdapter)
{
    Sim sim({"--no-pace", "--powered"});
    {
        Port port(sim.link);
        ASSERT_EQ(sim.request("unplug"), "ok");
        port.read(2s);
        EXPECT_TRUE(port.hung_up);
        EXPECT_FALSE(std::filesystem::is_symlink(sim.link));
        EXPECT_NE(sim.request("report").find("\"state\":\"off\""), std::string::npos);
        EXPECT_EQ(sim.request("unplug"), "error not plugged in");
        for (const char* request : {"hangup", "send lost", "flood 10"})
            EXPECT_EQ(sim.request(request), "error not plugged in") << request;
        EXPECT_FALSE(std::filesystem::is_symlink(sim.link));
    }
    ASSERT_EQ(sim.request("plug"), "ok");
    EXPECT_EQ(sim.request("plug"), "error already plugged in");
    Port port(sim.link);
    ASSERT_EQ(sim.request("send back"), "ok");
    EXPECT_EQ(port.read(2s, "back"), "back");
}

TEST(Modsim, ReceptionIsPacedAtWireSpeed)
{
    Sim sim({});
    Port port(sim.link);
    // 11,520 bytes at 115200 baud take a second on a real line.
    port.write_all(std::string(11520, 'X'));
    const std::string report = sim.wait_report("\"received_bytes\":11520,", 10s);
    const double first = number_after(report, "\"kind\":\"data\",\"ms\":([0-9.]+),");
    const double last = number_after(report, "\"kind\":\"data\",\"ms\":[0-9.]+,\"end_ms\":([0-9.]+),\"count\":11520,");
    ASSERT_GE(first, 0) << report;
    ASSERT_GE(last, 0) << report;
    EXPECT_GE(last - first, 700.0);
}

// How received bytes are cut into commands.
TEST(ModsimRecord, CutsCommandsOutOfTheByteStream)
{
    struct Step {
        std::string bytes;
        double ms;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::string expected;   // kind:count of each entry
    };
    const Case cases[] = {
        {"CRs collapse", {{"\r\r\r", 0}}, "cr:3"},
        {"flash after data", {{"abcflash", 0}}, "data:3 flash:1"},
        {"p 60 and reset", {{"p 60\rxr\r", 0}}, "p60:1 data:1 reset:1"},
        {"a block is one entry", {{std::string(512, 'X'), 0}}, "data:512"},
        {"a gap splits data", {{"ab", 0}, {"cd", 500}}, "data:2 data:2"},
        {"a slow r then Enter is still a reset", {{"r", 0}, {"\r", 900}}, "reset:1"},
        {"a command across a gap", {{"p 6", 0}, {"0\r", 400}}, "p60:1"},
        {"a CR between breaks a command", {{"fla\rsh", 0}}, "data:3 cr:1 data:2"},
    };
    for (const Case& c : cases) {
        modsim::Record record;
        for (const Step& s : c.steps)
            for (char b : s.bytes)
                record.add_byte(b, s.ms, modsim::Line{}, false, 300);
        std::string got;
        for (const modsim::Command& cmd : record.commands)
            got += std::string(got.empty() ? "" : " ") + modsim::kind_name(cmd.kind) + ":" + std::to_string(cmd.count);
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

} // namespace
