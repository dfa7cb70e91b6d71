#include "orvane/cli/identity.h"

#include "orvane/cli/logfile.h"
#include "orvane/cli/record.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

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
    std::FILE* file = stdin;
    if (path != "-") {
        const char* mode = "r";
#ifndef _WIN32
        // Opened for writing too, a FIFO has a writer for good: it never
        // reads as ended between the feeder's lines, and the open does not
        // wait for one.
        struct stat st {};
        const bool found = stat(path.c_str(), &st) == 0;
        if (found && S_ISFIFO(st.st_mode))
            mode = "r+";
        // A folder opens here too, and would read as a list that has ended.
        if (found && S_ISDIR(st.st_mode)) {
            *error = "cannot read the unit ids from " + path + ": it is a folder";
            return false;
        }
#endif
        file = std::fopen(path.c_str(), mode);
        if (file == nullptr) {
            *error = "cannot read the unit ids from " + path;
            return false;
        }
    }
    shared_ = std::make_shared<Shared>();
    // Detached: it may wait on the console or a FIFO until the process ends.
    std::thread([file, shared = shared_] {
        std::string line;
        for (int c; (c = std::fgetc(file)) != EOF;) {
            if (c != '\n') {
                if (line.size() < 256)
                    line += char(c);
                continue;
            }
            std::lock_guard<std::mutex> hold(shared->lock);
            shared->lines.push_back(Trim(line));
            shared->arrived.notify_all();
            line.clear();
        }
        std::lock_guard<std::mutex> hold(shared->lock);
        if (!Trim(line).empty())
            shared->lines.push_back(Trim(line));
        shared->ended = true;
        shared->arrived.notify_all();
    }).detach();
    return true;
}

bool UnitIds::Next(std::string* id, const std::function<bool()>& stop)
{
    std::unique_lock<std::mutex> hold(shared_->lock);
    while (shared_->lines.empty() && !shared_->ended) {
        shared_->arrived.wait_for(hold, std::chrono::milliseconds(50));
        if (shared_->lines.empty() && stop())
            return false;
    }
    if (shared_->lines.empty()) {
        id->clear();
        return true;
    }
    *id = shared_->lines.front();
    shared_->lines.pop_front();
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
