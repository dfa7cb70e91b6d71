// Which unit is which: the ids read for the units (--unit-id-from: a file, a
// FIFO per port, or a barcode scanner typing on the console), and the flags
// a unit's id earns (empty, or already logged on this bench).
#ifndef ORVANE_CLI_IDENTITY_H
#define ORVANE_CLI_IDENTITY_H

#include "orvane/cli/system.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>

// A line per unit, read when a unit asks for it and not a byte further: what
// a unit does not take stays in the file or FIFO for the next unit, which
// may be another process's (a station that starts again when its adapter is
// plugged back in).  A file that ends gives empty ids.
class UnitIds
{
public:
    // path: a file or FIFO, "-" the console.  False with a reason.
    bool Open(const std::string& path, std::string* error);
    // A file read on from where an earlier station of the port left it.
    bool Seek(uint64_t offset, long line);
    // The next id, waited for; false when stop() says so first.  A line
    // that is no id (a control byte, such as a GS1 barcode's group separator,
    // or longer than an id can be) goes to refused(why, naming the file and
    // line) and the next line is waited for.
    bool Next(std::string* id, const std::function<bool()>& stop,
              const std::function<void(const std::string&)>& refused);
    // A file's place after the last id taken (its bytes and lines read);
    // false for a FIFO or the console, which keep their own.
    bool Position(uint64_t* offset, long* line) const;

private:
    ByteSource source_;
    std::string path_;
    std::string pending_;   // a line begun, when stop() came in the middle of it
    uint64_t pendingBytes_ = 0;
    uint64_t offset_ = 0;   // bytes taken, at the end of the last whole line
    long line_ = 0;         // whole lines taken
    bool ended_ = false;
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
