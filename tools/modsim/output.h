// Both directions of the line as the event loop drives them: the queue of
// bytes going out to the Windows program (replies, `send`, `flood`) and the
// pacing of what comes in.
#ifndef ORVANE_TOOLS_MODSIM_OUTPUT_H
#define ORVANE_TOOLS_MODSIM_OUTPUT_H

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace modsim {

// The flood bytes: xorshift32 from the seed, the low byte of each step.
uint8_t next_flood_byte(uint32_t& x);

// Reception at wire speed: a token bucket of bytes filled at baud / 10 per
// second (start, 8 data bits, stop).  After an idle line it holds at most a
// small burst; while bytes keep waiting it holds what the wire brought since
// the last read, so a read that comes late (a busy machine) catches up
// instead of losing wire time.
class Pacer {
public:
    // Whole bytes that may be read now.
    size_t allowance(double now_ms, unsigned baud);
    // Bytes taken; fMoreWaiting: the line still held more.
    void consume(size_t bytes, bool fMoreWaiting);
    // When enough bytes have built up to be worth a read.
    double ready_at(double now_ms, unsigned baud) const;

private:
    double tokens_ = kBurst;
    double last_ms_ = 0;
    bool backlog_ = false;
    static constexpr double kBurst = 64;
    static constexpr double kBacklog = 4096;
};

class OutputQueue {
public:
    struct Written {
        uint64_t reply_id;
        double first_ms;
        double last_ms;
    };
    struct Progress {
        std::vector<Written> replies;   // replies whose last byte went out
        uint64_t flood_bytes = 0;
        bool failed = false;            // the master refused with an error
    };

    // byte_delay_ms > 0 writes the reply one byte per write, that far apart.
    void push_reply(uint64_t id, std::string text, double byte_delay_ms);
    void push_flood(uint64_t count, uint32_t seed);
    // Drops everything not yet written; returns the ids of the replies dropped.
    std::vector<uint64_t> clear();
    bool empty() const { return items_.empty(); }
    // When the next write may be tried: nullopt when there is nothing to send.
    std::optional<double> ready_at() const;
    // Writes what the non-blocking fd takes now.
    Progress write(int fd, double now_ms);

private:
    struct Item {
        bool flood = false;
        uint64_t reply_id = 0;
        std::string bytes;      // a reply, or the flood bytes made but not yet written
        size_t pos = 0;
        double byte_delay_ms = 0;
        std::optional<double> first_ms;
        uint64_t flood_left = 0;   // flood bytes not yet made
        uint32_t x = 1;
    };
    std::deque<Item> items_;
    double next_byte_ms_ = 0;
};

} // namespace modsim

#endif
