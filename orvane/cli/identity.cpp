#include "orvane/cli/identity.h"

#include "orvane/cli/logfile.h"
#include "orvane/cli/record.h"

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

bool UnitIds::Next(std::string* id, const std::function<bool()>& stop)
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
        if (got == 0) {
            // The list has ended: its last line, then units without an id.
            ended_ = true;
            *id = Trim(pending_);
            pending_.clear();
            return true;
        }
        ++pendingBytes_;
        if (c != '\n') {
            if (pending_.size() < kLongest)
                pending_ += c;
            continue;
        }
        offset_ += pendingBytes_;
        pendingBytes_ = 0;
        *id = Trim(pending_);
        pending_.clear();
        ++line_;
        return true;
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
