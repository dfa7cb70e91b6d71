#include "tools/modsim/report.h"

#include "common/sha256.h"

#include <cstdio>

namespace modsim {

using orvane::sha256_hex;

namespace {

constexpr size_t kTextBytes = 64;

std::string number(double ms)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%.3f", ms);
    return text;
}

std::string number(uint64_t n)
{
    return std::to_string(n);
}

template <typename T>
std::string or_null(const std::optional<T>& value)
{
    return value ? number(*value) : "null";
}

std::string line_json(const Line& line)
{
    return "{\"baud\":" + std::to_string(line.baud) + ",\"data_bits\":" + std::to_string(line.data_bits)
        + ",\"parity\":" + json_string(line.parity) + ",\"stop_bits\":" + std::to_string(line.stop_bits) + "}";
}

std::string command_json(const Command& c)
{
    std::string out = "{\"kind\":\"" + std::string(kind_name(c.kind)) + "\",\"ms\":" + number(c.ms)
        + ",\"end_ms\":" + number(c.end_ms) + ",\"count\":" + number(c.count)
        + ",\"text\":" + json_string(std::string_view(c.bytes).substr(0, kTextBytes));
    if (c.kind == Kind::Data)
        out += ",\"sha256\":\"" + sha256_hex(c.bytes) + "\"";
    out += ",\"ignored\":" + std::string(c.ignored ? "true" : "false") + ",\"line\":" + line_json(c.line) + "}";
    return out;
}

std::string image_json(const Record& r, const Behaviour& b)
{
    std::string out = "{\"bytes\":" + number(uint64_t(r.image.size())) + ",\"sha256\":\"" + sha256_hex(r.image)
        + "\",\"first_ms\":" + or_null(r.image_first_ms) + ",\"last_ms\":" + or_null(r.image_last_ms);
    if (b.expected) {
        out += ",\"expected_bytes\":" + number(uint64_t(b.expected->size())) + ",\"expected_sha256\":\""
            + sha256_hex(*b.expected) + "\",\"equal\":" + (r.image == *b.expected ? "true" : "false");
    } else {
        out += ",\"expected_bytes\":null,\"expected_sha256\":null,\"equal\":null";
    }
    return out + "}";
}

} // namespace

std::string json_string(std::string_view bytes)
{
    std::string out = "\"";
    for (char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof(hex), "\\u%04x", c);
                out += hex;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

std::string report_json(const Module& module, const Line& line, double now_ms)
{
    const Record& r = module.record();
    const Behaviour& b = module.behaviour();

    std::string out = "{\"now_ms\":" + number(now_ms) + ",\"model\":\"" + std::string(model_name(b.model)) + "\",\"install_rate\":"
        + std::to_string(b.install_rate) + ",\"state\":\"" + state_name(module.state()) + "\",\"line\":"
        + line_json(line) + ",\"powered_on_ms\":" + or_null(module.powered_on_ms());

    out += ",\"commands\":[";
    for (size_t i = 0; i < r.commands.size(); ++i)
        out += (i ? "," : "") + command_json(r.commands[i]);
    out += "],\"replies\":[";
    for (size_t i = 0; i < r.replies.size(); ++i) {
        const Reply& reply = r.replies[i];
        out += std::string(i ? "," : "") + "{\"text\":" + json_string(reply.text) + ",\"ms\":" + or_null(reply.ms)
            + ",\"end_ms\":" + or_null(reply.end_ms) + "}";
    }
    out += "],\"image\":" + image_json(r, b);
    out += ",\"verdict\":" + (r.verdict ? json_string(*r.verdict) : std::string("null"))
        + ",\"verdict_ms\":" + or_null(r.verdict_ms);
    out += ",\"received_bytes\":" + number(r.received_bytes) + ",\"ignored_bytes\":" + number(r.ignored_bytes)
        + ",\"flood\":{\"requested\":" + number(r.flood_requested) + ",\"sent\":" + number(r.flood_sent)
        + ",\"seed\":" + std::to_string(r.flood_seed) + "},\"hangups\":" + number(r.hangups)
        + ",\"stall_ms\":" + or_null(r.stall_ms) + "}";
    return out;
}

} // namespace modsim
