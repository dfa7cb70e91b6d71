// What the simulator saw and said: the received bytes cut into commands, the
// replies, the image and the verdict.  The report is written from this.
#ifndef ORVANE_TOOLS_MODSIM_RECORD_H
#define ORVANE_TOOLS_MODSIM_RECORD_H

#include "tools/modsim/line.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace modsim {

enum class Kind { Cr, Flash, P60, Reset, Data };
const char* kind_name(Kind kind);

struct Command {
    Kind kind = Kind::Data;
    double ms = 0;         // first byte
    double end_ms = 0;     // last byte
    uint64_t count = 0;    // CRs of a cr entry, bytes of a data entry, else 1
    std::string bytes;     // all bytes of a data entry; the first 64 of others
    bool ignored = false;  // wrong rate or module off
    Line line;
};

struct Reply {
    uint64_t id = 0;
    std::string text;
    std::optional<double> ms;      // first byte written
    std::optional<double> end_ms;  // last byte written
};

class Record {
public:
    // Files one received byte outside the image.  Returns the command the
    // byte completes, or Kind::Data for a byte that completes none.  A data
    // run is split where the line settings or the ignored flag change, or
    // after a gap longer than idle_ms.
    Kind add_byte(char byte, double ms, const Line& line, bool ignored, double idle_ms);
    // Later bytes never complete a command with bytes filed before this.
    void break_run() { recent_.clear(); }

    std::vector<Command> commands;
    std::vector<Reply> replies;
    std::string image;
    std::optional<double> image_first_ms;
    std::optional<double> image_last_ms;
    std::optional<std::string> verdict;
    std::optional<double> verdict_ms;
    uint64_t received_bytes = 0;
    uint64_t ignored_bytes = 0;
    uint64_t flood_requested = 0;
    uint64_t flood_sent = 0;
    uint32_t flood_seed = 1;
    uint64_t hangups = 0;
    std::optional<double> stall_ms;   // when the stall fault stopped the reading

private:
    struct Recent {
        char byte;
        double ms;
    };

    bool recent_ends_with(const std::string& text) const;
    void push_command(Kind kind, double ms, double end_ms, const std::string& text,
                      const Line& line, bool ignored);
    void take_back(size_t count);

    // The newest bytes of the current run of data bytes (same settings, same
    // ignored flag, no command in between): enough to spot a command whose
    // first bytes were already filed as data, and to know the time of the
    // byte before it.
    std::vector<Recent> recent_;
    Line recent_line_;
    bool recent_ignored_ = false;
};

} // namespace modsim

#endif
