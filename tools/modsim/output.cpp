#include "tools/modsim/output.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace modsim {

namespace {

constexpr size_t kFloodChunk = 4096;

} // namespace

uint8_t next_flood_byte(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return uint8_t(x & 0xFF);
}

size_t Pacer::allowance(double now_ms, unsigned baud)
{
    const double per_ms = baud / 10.0 / 1000.0;
    tokens_ = std::min(backlog_ ? kBacklog : kBurst, tokens_ + (now_ms - last_ms_) * per_ms);
    last_ms_ = now_ms;
    return size_t(tokens_);
}

void Pacer::consume(size_t bytes, bool fMoreWaiting)
{
    tokens_ -= double(bytes);
    backlog_ = fMoreWaiting;
}

double Pacer::ready_at(double now_ms, unsigned baud) const
{
    // Wait for about 4 ms worth of bytes (at least one), so that a fast
    // line is read in small batches rather than a byte per wake-up.
    const double per_ms = baud / 10.0 / 1000.0;
    const double want = std::clamp(per_ms * 4, 1.0, kBurst);
    if (tokens_ >= want)
        return now_ms;
    return last_ms_ + (want - tokens_) / per_ms;
}

void OutputQueue::push_reply(uint64_t id, std::string text, double byte_delay_ms)
{
    Item item;
    item.reply_id = id;
    item.bytes = std::move(text);
    item.byte_delay_ms = byte_delay_ms;
    items_.push_back(std::move(item));
}

void OutputQueue::push_flood(uint64_t count, uint32_t seed)
{
    Item item;
    item.flood = true;
    item.flood_left = count;
    item.x = seed;
    items_.push_back(std::move(item));
}

std::vector<uint64_t> OutputQueue::clear()
{
    std::vector<uint64_t> dropped;
    for (const Item& item : items_)
        if (!item.flood)
            dropped.push_back(item.reply_id);
    items_.clear();
    return dropped;
}

std::optional<double> OutputQueue::ready_at() const
{
    if (items_.empty())
        return std::nullopt;
    const Item& front = items_.front();
    return front.byte_delay_ms > 0 ? next_byte_ms_ : 0.0;
}

OutputQueue::Progress OutputQueue::write(int fd, double now_ms)
{
    Progress progress;
    while (!items_.empty()) {
        Item& item = items_.front();
        if (item.flood && item.pos == item.bytes.size()) {
            if (item.flood_left == 0) {
                items_.pop_front();
                continue;
            }
            const size_t n = size_t(std::min<uint64_t>(item.flood_left, kFloodChunk));
            item.bytes.resize(n);
            for (char& c : item.bytes)
                c = char(next_flood_byte(item.x));
            item.flood_left -= n;
            item.pos = 0;
        }

        const bool one_byte = !item.flood && item.byte_delay_ms > 0;
        if (one_byte && now_ms < next_byte_ms_)
            break;
        const size_t want = one_byte ? 1 : item.bytes.size() - item.pos;
        const ssize_t n = want == 0 ? 0 : ::write(fd, item.bytes.data() + item.pos, want);
        if (n < 0) {
            progress.failed = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
            break;
        }
        if (!item.first_ms)
            item.first_ms = now_ms;
        item.pos += size_t(n);
        if (item.flood)
            progress.flood_bytes += uint64_t(n);
        if (one_byte)
            next_byte_ms_ = now_ms + item.byte_delay_ms;

        if (item.pos < item.bytes.size()) {
            if (one_byte)
                continue;   // waits for next_byte_ms_
            break;          // the pty is full for now
        }
        if (!item.flood) {
            progress.replies.push_back({item.reply_id, *item.first_ms, now_ms});
            items_.pop_front();
        }
    }
    return progress;
}

} // namespace modsim
