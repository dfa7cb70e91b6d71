// SHA-256, fed in pieces, so a file or a stream is hashed as it comes.  Shared
// by orvane-cli (the image in its log and events) and the module simulator.
#ifndef ORVANE_COMMON_SHA256_H
#define ORVANE_COMMON_SHA256_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvane {

class Sha256 {
public:
    Sha256();
    void update(const void* data, size_t size);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    // The digest of everything fed so far, as 64 lower-case hex digits.  The
    // object is left as it was, so more bytes can follow.
    std::string hex() const;

private:
    void block(const uint8_t* p);

    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> buf_;
    size_t used_ = 0;
    uint64_t length_ = 0;
};

std::string sha256_hex(std::string_view bytes);

} // namespace orvane

#endif
