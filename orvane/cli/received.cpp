#include "orvane/cli/received.h"

#include <mutex>

namespace {

struct RECEIVED
{
    std::mutex lock;
    std::string line;      // being received
    std::string last;      // the last whole non-empty line
    std::string first;     // the first whole non-empty line
    bool saw302 = false;
} gReceived;

const size_t kShownBytes = 40;

std::string Printable(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes)
        out += c >= 0x20 && c < 0x7F ? char(c) : '.';
    const size_t first = out.find_first_not_of(" .");
    const size_t last = out.find_last_not_of(" .");
    out = first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
    return out.size() > kShownBytes ? out.substr(0, kShownBytes) + "..." : out;
}

} // namespace

void TapReceived(const unsigned char* lpBlock, int nLength)
{
    std::lock_guard<std::mutex> hold(gReceived.lock);
    for (int i = 0; i < nLength; ++i) {
        const char c = char(lpBlock[i]);
        if (c != '\n') {
            if (gReceived.line.size() < 4096)
                gReceived.line += c;
            continue;
        }
        if (gReceived.line.find("302") != std::string::npos)
            gReceived.saw302 = true;
        const std::string shown = Printable(gReceived.line);
        if (!shown.empty())
            gReceived.last = shown;
        if (gReceived.first.empty())
            gReceived.first = shown;
        gReceived.line.clear();
    }
}

void ForgetReceived()
{
    std::lock_guard<std::mutex> hold(gReceived.lock);
    gReceived.line.clear();
    gReceived.last.clear();
    gReceived.first.clear();
    gReceived.saw302 = false;
}

std::string LastReceived()
{
    std::lock_guard<std::mutex> hold(gReceived.lock);
    const std::string partial = Printable(gReceived.line);
    return partial.empty() ? gReceived.last : partial;
}

std::string FirstReceived()
{
    std::lock_guard<std::mutex> hold(gReceived.lock);
    return gReceived.first;
}

bool Saw302()
{
    std::lock_guard<std::mutex> hold(gReceived.lock);
    return gReceived.saw302;
}
