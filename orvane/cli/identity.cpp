#include "orvane/cli/identity.h"

#include "orvane/cli/logfile.h"
#include "orvane/cli/record.h"

#include <cstdio>
#include <vector>

namespace {

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

} // namespace

bool UnitIds::Open(const std::string& path, std::string* error)
{
    path_ = path == "-" ? std::string("the console") : path;
    return source_.Open(path, error);
}

bool UnitIds::Seek(uint64_t offset, long line)
{
    if (!source_.Seek(offset))
        return false;
    offset_ = offset;
    line_ = line;
    return true;
}

bool UnitIds::Next(std::string* id, const std::function<bool()>& stop,
                   const std::function<void(const std::string&)>& refused)
{
    const size_t kLongest = 256;
    for (;;) {
        char c = 0;
        const int got = ended_ ? 0 : source_.Read(&c, 50);
        if (got < 0) {
            if (stop())
                return false;
            continue;
        }
        if (got > 0) {
            ++pendingBytes_;
            if (c != '\n') {
                if (pending_.size() <= kLongest)
                    pending_ += c;
                continue;
            }
            offset_ += pendingBytes_;
            pendingBytes_ = 0;
        } else if (!ended_ && !pending_.empty()) {
            ended_ = true;   // the list has ended: its last line, then units without an id
        } else {
            ended_ = true;
            id->clear();
            return true;
        }
        *id = Trim(pending_);
        pending_.clear();
        ++line_;
        std::string why;
        for (unsigned char b : *id)
            if (why.empty() && (b < 0x20 || b == 0x7F)) {
                char hex[8];
                std::snprintf(hex, sizeof(hex), "0x%02x", b);
                why = std::string("holds the control byte ") + hex;
            }
        if (why.empty() && id->size() > kLongest)
            why = "is longer than " + std::to_string(kLongest) + " bytes";
        if (why.empty())
            return true;
        refused(path_ + ":" + std::to_string(line_) + " " + why + ", not an id; the unit waits for the next line");
    }
}

bool UnitIds::Position(uint64_t* offset, long* line) const
{
    if (!source_.IsFile())
        return false;
    *offset = offset_;
    *line = line_;
    return true;
}

void SeenIds::FromLog(const std::string& line, const std::string& bench)
{
    if (line.rfind("start,", 0) == 0)
        return;   // a header
    std::vector<std::string> fields;
    if (SplitCsv(line, &fields) && fields.size() > kColBench && !fields[kColUnitId].empty() &&
        fields[kColBench] == bench)
        ids.insert(fields[kColUnitId]);
}

std::string SeenIds::Flag(const std::string& id)
{
    if (id.empty())
        return "unit_id_empty";
    return ids.insert(id).second ? std::string() : "unit_id_repeated";
}
