#include "tools/modsim/record.h"

#include <algorithm>

namespace modsim {

namespace {

constexpr size_t kRecentBytes = 6;   // "flash" and the byte before it
constexpr size_t kTextBytes = 64;

} // namespace

const char* kind_name(Kind kind)
{
    switch (kind) {
    case Kind::Cr: return "cr";
    case Kind::Flash: return "flash";
    case Kind::P60: return "p60";
    case Kind::Reset: return "reset";
    case Kind::Data: break;
    }
    return "data";
}

bool Record::recent_ends_with(const std::string& text) const
{
    if (recent_.size() < text.size())
        return false;
    const size_t from = recent_.size() - text.size();
    for (size_t i = 0; i < text.size(); ++i)
        if (recent_[from + i].byte != text[i])
            return false;
    return true;
}

void Record::push_command(Kind kind, double ms, double end_ms, const std::string& text,
                          const Line& line, bool ignored)
{
    Command c;
    c.kind = kind;
    c.ms = ms;
    c.end_ms = end_ms;
    c.count = kind == Kind::Data ? text.size() : 1;
    c.bytes = text;
    c.ignored = ignored;
    c.line = line;
    commands.push_back(std::move(c));
}

// Takes the newest `count` bytes of recent_ back out of the data entries they
// were filed in; entries left empty go.  recent_ is left as it was.
void Record::take_back(size_t count)
{
    const size_t before = recent_.size() - count;   // index of the byte before them
    while (count > 0 && !commands.empty() && commands.back().kind == Kind::Data) {
        Command& c = commands.back();
        const size_t n = std::min<size_t>(count, c.bytes.size());
        c.bytes.resize(c.bytes.size() - n);
        c.count = c.bytes.size();
        count -= n;
        if (c.bytes.empty())
            commands.pop_back();
        else if (before > 0)
            c.end_ms = recent_[before - 1].ms;
    }
}

Kind Record::add_byte(char byte, double ms, const Line& line, bool ignored, double idle_ms)
{
    if (line != recent_line_ || ignored != recent_ignored_)
        recent_.clear();
    recent_line_ = line;
    recent_ignored_ = ignored;

    if (byte == '\r') {
        Kind kind = Kind::Cr;
        if (recent_ends_with("p 60")) {
            const double first = recent_[recent_.size() - 4].ms;
            take_back(4);
            push_command(Kind::P60, first, ms, "p 60\r", line, ignored);
            kind = Kind::P60;
        } else if (recent_ends_with("r")) {
            const double first = recent_.back().ms;
            take_back(1);
            push_command(Kind::Reset, first, ms, "r\r", line, ignored);
            kind = Kind::Reset;
        } else if (!commands.empty() && commands.back().kind == Kind::Cr
                   && commands.back().line == line && commands.back().ignored == ignored) {
            Command& c = commands.back();
            ++c.count;
            c.end_ms = ms;
            if (c.bytes.size() < kTextBytes)
                c.bytes += '\r';
        } else {
            push_command(Kind::Cr, ms, ms, "\r", line, ignored);
        }
        recent_.clear();
        return kind;
    }

    recent_.push_back({byte, ms});
    if (recent_.size() > kRecentBytes)
        recent_.erase(recent_.begin());
    if (recent_ends_with("flash")) {
        // "flas" was filed as data; "h" not yet.
        recent_.pop_back();
        const double first = recent_[recent_.size() - 4].ms;
        take_back(4);
        push_command(Kind::Flash, first, ms, "flash", line, ignored);
        recent_.clear();
        return Kind::Flash;
    }

    if (!commands.empty()) {
        Command& c = commands.back();
        if (c.kind == Kind::Data && c.line == line && c.ignored == ignored && ms - c.end_ms <= idle_ms) {
            c.bytes += byte;
            c.count = c.bytes.size();
            c.end_ms = ms;
            return Kind::Data;
        }
    }
    push_command(Kind::Data, ms, ms, std::string(1, byte), line, ignored);
    return Kind::Data;
}

} // namespace modsim
