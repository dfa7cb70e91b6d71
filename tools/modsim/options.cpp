#include "tools/modsim/options.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace modsim {

namespace {

bool parse_uint(std::string_view text, uint64_t& out)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return !text.empty() && ec == std::errc() && ptr == end;
}

bool parse_ms(std::string_view text, double& out)
{
    const std::string copy(text);
    char* end = nullptr;
    out = std::strtod(copy.c_str(), &end);
    return !copy.empty() && end == copy.c_str() + copy.size() && out >= 0;
}

bool parse_flag(std::string_view text, bool& out)
{
    if (text == "1" || text == "true" || text == "yes" || text == "on") {
        out = true;
        return true;
    }
    if (text == "0" || text == "false" || text == "no" || text == "off") {
        out = false;
        return true;
    }
    return false;
}

bool is_flag(std::string_view name)
{
    return name == "noise" || name == "burst" || name == "dirty" || name == "garble" || name == "any-rate" || name == "powered" || name == "no-pace" || name == "pace" || name == "gulp";
}

std::string bad(std::string_view name, std::string_view value)
{
    return "bad value for " + std::string(name) + ": '" + std::string(value) + "'";
}

// A phase 0..3 or "none".
std::string set_phase(std::optional<int>& out, std::string_view name, std::string_view value)
{
    uint64_t n = 0;
    if (value == "none")
        out.reset();
    else if (parse_uint(value, n) && n <= 3)
        out = int(n);
    else
        return bad(name, value) + " (0..3 or none)";
    return {};
}

// A byte count or "none".
std::string set_offset(std::optional<uint64_t>& out, std::string_view name, std::string_view value)
{
    uint64_t n = 0;
    if (value == "none")
        out.reset();
    else if (parse_uint(value, n))
        out = n;
    else
        return bad(name, value);
    return {};
}

std::string set_expect(Behaviour& b, std::string_view value)
{
    if (value == "none") {
        b.expect_path.reset();
        b.expected.reset();
        return {};
    }
    std::ifstream in{std::string(value), std::ios::binary};
    if (!in)
        return "cannot read " + std::string(value);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    b.expect_path = std::string(value);
    b.expected = bytes.str();
    return {};
}

} // namespace

std::string apply_option(Options& o, std::string_view name, std::string_view value, bool running)
{
    Behaviour& b = o.module;
    uint64_t n = 0;
    double ms = 0;
    bool flag = false;

    if (name == "link" || name == "control" || name == "ready-file") {
        if (running)
            return std::string(name) + " can only be given at start";
        if (name == "link") {
            if (value.empty())
                return bad(name, value);
            o.link = value;
        } else if (name == "control") {
            if (!parse_uint(value, n) || n > 65535)
                return bad(name, value);
            o.control_port = int(n);
        } else {
            o.ready_file = value;
        }
    } else if (name == "report") {
        o.report_file = value == "none" ? "" : std::string(value);
    } else if (is_flag(name)) {
        if (!parse_flag(value, flag))
            return bad(name, value) + " (0 or 1)";
        if (name == "noise")
            b.noise = flag;
        else if (name == "burst")
            b.burst = flag;
        else if (name == "dirty")
            b.dirty = flag;
        else if (name == "garble")
            b.garble = flag;
        else if (name == "any-rate")
            b.any_rate = flag;
        else if (name == "powered")
            o.powered = flag;
        else if (name == "gulp")
            o.gulp = flag;
        else
            o.pace = name == "pace" ? flag : !flag;
    } else if (name == "model") {
        const std::optional<Model> model = parse_model(value);
        if (!model)
            return bad(name, value) + " (520W, 41 or 710F)";
        b.model = *model;
    } else if (name == "install-rate") {
        if (!parse_uint(value, n) || n == 0 || n > 4000000)
            return bad(name, value);
        b.install_rate = unsigned(n);
    } else if (name == "power-on-crs") {
        if (value == "none")
            b.power_on_crs = 0;   // only "power on" switches it on
        else if (!parse_uint(value, n) || n == 0 || n > 1000000)
            return bad(name, value) + " (1..1000000 or none)";
        else
            b.power_on_crs = int(n);
    } else if (name == "power-on-delay-ms") {
        if (value == "none")
            b.power_on_delay_ms.reset();
        else if (parse_ms(value, ms))
            b.power_on_delay_ms = ms;
        else
            return bad(name, value);
    } else if (name == "idle-ms" || name == "start-timeout-ms" || name == "byte-delay-ms" || name == "stall-ms") {
        if (!parse_ms(value, ms))
            return bad(name, value);
        if (name == "idle-ms")
            b.idle_ms = ms;
        else if (name == "start-timeout-ms")
            b.start_timeout_ms = ms;
        else if (name == "stall-ms")
            b.stall_ms = ms;
        else
            o.byte_delay_ms = ms;
    } else if (name == "expect") {
        return set_expect(b, value);
    } else if (name == "fail-phase") {
        return set_phase(b.fail_phase, name, value);
    } else if (name == "silent-phase") {
        return set_phase(b.silent_phase, name, value);
    } else if (name == "fail-offset") {
        return set_offset(b.fail_offset, name, value);
    } else if (name == "hangup-offset") {
        return set_offset(b.hangup_offset, name, value);
    } else if (name == "stall-offset") {
        return set_offset(b.stall_offset, name, value);
    } else {
        return "unknown option " + std::string(name);
    }
    return {};
}

bool parse_command_line(int argc, char** argv, Options& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            error = "help";
            return false;
        }
        if (arg.substr(0, 2) != "--") {
            error = "unexpected argument " + std::string(arg);
            return false;
        }
        arg.remove_prefix(2);
        std::string_view name = arg;
        std::string_view value;
        const size_t eq = arg.find('=');
        if (eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        } else if (is_flag(name)) {
            value = "1";
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            error = "--" + std::string(name) + " needs a value";
            return false;
        }
        error = apply_option(options, name, value, false);
        if (!error.empty())
            return false;
    }
    if (options.link.empty()) {
        error = "--link PATH is required";
        return false;
    }
    return true;
}

const char* usage_text()
{
    return "usage: modsim --link PATH [options]\n"
           "  --link PATH               symlink to publish the pty slave at (Wine's COM1)\n"
           "  --model 520W|41|710F      module model (520W)\n"
           "  --install-rate BAUD       the only rate the monitor understands (115200)\n"
           "  --any-rate                understand bytes at any rate\n"
           "  --no-pace                 read as fast as bytes come, not at wire speed\n"
           "  --gulp                    read the line 4 KiB at a time (handing the bytes on at\n"
           "                            wire speed), not in a UART's small reads\n"
           "  --powered                 start powered on\n"
           "  --power-on-crs N|none     power on after N CRs while off (3); none: never\n"
           "  --power-on-delay-ms MS    power on MS after the first CR instead\n"
           "  --idle-ms MS              image ends after MS without a byte (300)\n"
           "  --start-timeout-ms MS     empty image after MS without one (3000)\n"
           "  --expect FILE             the image to compare with (101 equal, 302 not)\n"
           "  --fail-phase 0..3         answer 302 in that phase\n"
           "  --fail-offset N           answer 302 once N image bytes have come\n"
           "  --silent-phase 0..3       send nothing from that phase on\n"
           "  --byte-delay-ms MS        send replies one byte per write, MS apart\n"
           "  --noise                   noise line before every reply, noise around codes\n"
           "  --burst                   every reply twice in one write\n"
           "  --dirty                   a junk line with NUL and high bytes before every reply,\n"
           "                            bytes above 0x7F before its code\n"
           "  --garble                  replies unreadable, as if sent at another rate\n"
           "  --hangup-offset N         hang up the line once N image bytes have come\n"
           "  --stall-offset N          stop reading the line once N image bytes have come\n"
           "  --stall-ms MS             for MS (1500)\n"
           "  --control PORT            control channel on 127.0.0.1:PORT (0: any free port)\n"
           "  --ready-file FILE         write the ready line there too\n"
           "  --report FILE             write the JSON report there after verdicts and on exit\n";
}

} // namespace modsim
