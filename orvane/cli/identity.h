// Which unit is which: the ids read for the units (--unit-id-from: a file, a
// FIFO per port, or a barcode scanner typing on the console), and the flags
// a unit's id earns (empty, or already logged on this bench).
#ifndef ORVANE_CLI_IDENTITY_H
#define ORVANE_CLI_IDENTITY_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

// A line per unit, read ahead by a thread of its own, so that a unit waits
// only when no line has come yet.  A FIFO is opened so that it never ends
// (its writers may come and go); a file that ends gives empty ids.
class UnitIds
{
public:
    // path: a file or FIFO, "-" the console.  False with a reason.
    bool Open(const std::string& path, std::string* error);
    // The next id, once it is there; false when stop() says so first.
    bool Next(std::string* id, const std::function<bool()>& stop);

private:
    struct Shared
    {
        std::mutex lock;
        std::condition_variable arrived;
        std::deque<std::string> lines;
        bool ended = false;
    };
    std::shared_ptr<Shared> shared_;
};

// The ids already logged on this bench (this process's, and those the log
// holds, read as it grows), for the flags of a unit's first attempt.
struct SeenIds
{
    std::set<std::string> ids;
    uint64_t logOffset = 0;   // how far the log has been read

    // A log line: its id is noted when it was logged on this bench.
    void FromLog(const std::string& line, const std::string& bench);
    // "unit_id_empty", "unit_id_repeated" or "" for an id that was read; the
    // id is noted.
    std::string Flag(const std::string& id);
};

#endif
