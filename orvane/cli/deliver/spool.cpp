#include "orvane/cli/deliver/spool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const char kRecordEnd[] = ".json";
const char kAnswerEnd[] = ".answer";

bool EndsWith(const std::string& text, const char* end)
{
    const size_t n = std::strlen(end);
    return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

std::string Reason()
{
#ifdef _WIN32
    char text[256] = "";
    const DWORD code = GetLastError();
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, text, sizeof(text), NULL);
    std::string why = text;
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.'))
        why.pop_back();
    return why.empty() ? "error " + std::to_string(code) : why;
#else
    return std::strerror(errno);
#endif
}

// The whole file on the disk before this returns.
bool WriteDurable(const std::string& path, const std::string& data, std::string* error)
{
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        *error = Reason();
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(h, data.data(), DWORD(data.size()), &written, NULL) && written == data.size() &&
                    FlushFileBuffers(h);
    if (!ok)
        *error = Reason();
    CloseHandle(h);
#else
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = Reason();
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? size_t(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    if (!ok)
        *error = Reason();
    ok = close(fd) == 0 && ok;
#endif
    if (!ok)
        std::remove(path.c_str());
    return ok;
}

bool Rename(const std::string& from, const std::string& to, std::string* error)
{
#ifdef _WIN32
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
#else
    if (std::rename(from.c_str(), to.c_str()) == 0) {
        // The folder's new entry on the disk too.
        const size_t slash = to.find_last_of('/');
        const int dir = open(slash == std::string::npos ? "." : to.substr(0, slash).c_str(), O_RDONLY | O_CLOEXEC);
        if (dir >= 0) {
            fsync(dir);
            close(dir);
        }
        return true;
    }
#endif
    *error = Reason();
    return false;
}

// UTC to the microsecond, never the same twice in this process, so that
// names sort in the order records were put.
std::string Stamp()
{
    static std::atomic<long long> last{0};
    long long us = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch()).count();
    for (long long seen = last.load();;) {
        if (us <= seen)
            us = seen + 1;
        if (last.compare_exchange_weak(seen, us))
            break;
    }
    const std::time_t seconds = std::time_t(us / 1000000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const size_t n = std::strftime(text, sizeof(text), "%Y%m%dT%H%M%S", &utc);
    std::snprintf(text + n, sizeof(text) - n, ".%06lldZ", us % 1000000);
    return text;
}

std::vector<std::string> Names(const std::string& folder, const char* end)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(folder), ec), stop; !ec && it != stop; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name[0] != '.' && EndsWith(name, end))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::string NewKey()
{
    static std::random_device device;
    static std::mt19937_64 generator(((unsigned long long)device() << 32) ^ device());
    static std::mutex mutex;
    unsigned char b[16];
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (int i = 0; i < 16; i += 8) {
            unsigned long long v = generator() ^ ((unsigned long long)device() << 32);
            std::memcpy(b + i, &v, 8);
        }
    }
    b[6] = (unsigned char)((b[6] & 0x0F) | 0x40);
    b[8] = (unsigned char)((b[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof(text), "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

std::string RecordKey(const std::string& name)
{
    const size_t dash = name.find('-');
    if (dash == std::string::npos || !EndsWith(name, kRecordEnd))
        return std::string();
    return name.substr(dash + 1, name.size() - dash - 1 - (sizeof(kRecordEnd) - 1));
}

bool Spool::Open(const std::string& folder, std::string* error)
{
    folder_ = folder;
    std::error_code ec;
    fs::create_directories(fs::path(folder) / "rejected", ec);
    if (ec) {
        *error = "cannot make the spool folder " + folder + ": " + ec.message();
        return false;
    }
    // Can a record be put here?  Made and removed as a record would be.
    const std::string probe = folder + "/.probe-" + NewKey();
    std::string why;
    if (!WriteDurable(probe, "{}", &why)) {
        *error = "cannot write in the spool folder " + folder + ": " + why;
        return false;
    }
    std::remove(probe.c_str());
    return true;
}

bool Spool::Prepare(const std::string& record, std::string* error)
{
    Discard();
    const std::string name = Stamp() + "-" + NewKey() + kRecordEnd;
    prepared_ = folder_ + "/." + name + ".tmp";
    final_ = folder_ + "/" + name;
    std::string why;
    if (!WriteDurable(prepared_, record, &why)) {
        *error = "cannot put the record in the spool " + folder_ + ": " + why;
        prepared_.clear();
        return false;
    }
    return true;
}

bool Spool::Commit(std::string* error)
{
    if (prepared_.empty())
        return false;
    std::string why;
    const bool ok = Rename(prepared_, final_, &why);
    if (!ok) {
        *error = "cannot put the record in the spool " + folder_ + ": " + why;
        std::remove(prepared_.c_str());
    }
    prepared_.clear();
    return ok;
}

void Spool::Discard()
{
    if (!prepared_.empty())
        std::remove(prepared_.c_str());
    prepared_.clear();
}

std::vector<std::string> Spool::Waiting() const
{
    return Names(folder_, kRecordEnd);
}

size_t Spool::Rejected() const
{
    return Names(folder_ + "/rejected", kRecordEnd).size();
}

bool Spool::Read(const std::string& name, std::string* record) const
{
    std::FILE* f = std::fopen((folder_ + "/" + name).c_str(), "rb");
    if (!f)
        return false;
    record->clear();
    char block[4096];
    for (size_t n; (n = std::fread(block, 1, sizeof(block), f)) > 0;)
        record->append(block, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool Spool::Remove(const std::string& name) const
{
    return std::remove((folder_ + "/" + name).c_str()) == 0;
}

bool Spool::Reject(const std::string& name, const std::string& answer) const
{
    std::string why;
    return WriteDurable(folder_ + "/rejected/" + name + kAnswerEnd, answer, &why) &&
           Rename(folder_ + "/" + name, folder_ + "/rejected/" + name, &why);
}

SpoolLock::~SpoolLock()
{
    if (handle_ == -1)
        return;
#ifdef _WIN32
    CloseHandle(HANDLE(handle_));
#else
    close(int(handle_));
#endif
}

bool SpoolLock::Try(const std::string& folder)
{
    if (held_)
        return true;
    const std::string path = folder + "/.sender";
#ifdef _WIN32
    if (handle_ == -1) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, NULL);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        handle_ = (long long)h;
    }
    OVERLAPPED ov{};
    held_ = LockFileEx(HANDLE(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov) != 0;
#else
    if (handle_ == -1) {
        const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        handle_ = fd;
    }
    held_ = flock(int(handle_), LOCK_EX | LOCK_NB) == 0;
#endif
    return held_;
}
