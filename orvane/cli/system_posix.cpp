// orvane-cli's operating-system side on Linux.
#include "orvane/cli/system.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <chrono>
#include <filesystem>
#include <glob.h>
#include <map>
#include <set>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::atomic<int> gInterrupts{0};
std::atomic<int> gLastSignal{SIGINT};

void OnInterrupt(int signal)
{
    gLastSignal.store(signal);
    gInterrupts.fetch_add(1);
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace

bool ConsoleIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

bool ConsoleCursorMoves()
{
    const char* term = std::getenv("TERM");
    return ConsoleIsTerminal() && term && std::strcmp(term, "dumb") != 0;
}

int ConsoleWidth()
{
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20)
        return ws.ws_col;
    return 80;
}

void CatchInterrupts()
{
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

int Interrupts()
{
    return gInterrupts.load();
}

std::string InterruptName()
{
    switch (gLastSignal.load()) {
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    }
    return "Ctrl+C";
}

bool AppendLocked(const std::string& path, const std::string& header, const std::string& line, std::string* error)
{
    uint64_t offset = 0;
    return AppendLockedAfter(path, header, &offset, nullptr, [&] { return line; }, error);
}

bool AppendLockedAfter(const std::string& path, const std::string& header, uint64_t* offset,
                       const std::function<void(const std::string&)>& onLine,
                       const std::function<std::string()>& makeLine, std::string* error)
{
    const int fd = open(path.c_str(), (onLine ? O_RDWR : O_WRONLY) | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot open the log " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = flock(fd, LOCK_EX) == 0;
    struct stat st {};
    ok = ok && fstat(fd, &st) == 0;
    if (ok && onLine) {
        // What was appended since, line by line; a last line without its
        // end (a writer that died) is handed on as it is.
        std::string pending;
        char block[65536];
        for (off_t at = off_t(*offset); at < st.st_size;) {
            const ssize_t n = pread(fd, block, sizeof(block), at);
            if (n <= 0)
                break;
            at += n;
            pending.append(block, size_t(n));
            HandWholeLines(&pending, onLine);
        }
        if (!pending.empty())
            onLine(pending);
    }
    if (ok && st.st_size == 0)
        ok = WriteAll(fd, header);
    const std::string line = ok ? makeLine() : std::string();
    ok = ok && WriteAll(fd, line);
    if (ok && fstat(fd, &st) == 0)
        *offset = uint64_t(st.st_size);
    if (!ok)
        *error = "cannot write the log " + path + ": " + std::strerror(errno);
    flock(fd, LOCK_UN);
    close(fd);
    return ok;
}

bool CanAppend(const std::string& path, std::string* why)
{
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            *why = path + " is a folder";
        else if (access(path.c_str(), W_OK) != 0)
            *why = path + " cannot be written: " + std::strerror(errno);
        return why->empty();
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        *why = path + " cannot be made: there is no folder " + folder;
    else if (access(folder.c_str(), W_OK | X_OK) != 0)
        *why = path + " cannot be made in " + folder + ": " + std::strerror(errno);
    return why->empty();
}

std::string MakeTempFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvane-cli-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

void RemoveTree(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

bool CopyImage(const std::string& from, const std::string& to)
{
    std::error_code ec;
    return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> PathsMatching(const std::string& pattern)
{
    std::vector<std::string> paths;
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0)
        for (size_t i = 0; i < found.gl_pathc; ++i)
            paths.push_back(found.gl_pathv[i]);
    globfree(&found);
    return paths;
}

struct FolderWatch::State
{
    int fd = -1;
    std::map<std::string, int> followed;   // folder -> watch
    bool polling = false;                  // some folder could not be followed
    std::chrono::steady_clock::time_point lastLook;
};

FolderWatch::FolderWatch() : state_(new State)
{
    state_->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

FolderWatch::~FolderWatch()
{
    if (state_->fd >= 0)
        close(state_->fd);
    delete state_;
}

void FolderWatch::Follow(const std::vector<std::string>& folders)
{
    state_->polling = state_->fd < 0;
    for (const std::string& folder : folders) {
        if (folder.find_first_of("*?[") != std::string::npos) {
            state_->polling = true;
            continue;
        }
        // A folder not there yet (/dev/serial before the first adapter) is
        // waited for in the nearest folder above it that is: its coming is a
        // change there, and the next look follows it.
        for (std::string at = folder; !at.empty();) {
            if (state_->followed.count(at))
                break;
            const int wd = state_->fd < 0 ? -1
                                          : inotify_add_watch(state_->fd, at.c_str(),
                                                              IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                                                  IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
            if (wd >= 0) {
                state_->followed[at] = wd;
                break;
            }
            const size_t slash = at.find_last_of('/');
            if (errno != ENOENT || slash == std::string::npos || at == "/") {
                state_->polling = true;   // cannot be followed: looked at every 250 ms
                break;
            }
            at = slash == 0 ? "/" : at.substr(0, slash);
        }
    }
}

bool FolderWatch::Wait(int ms)
{
    using Clock = std::chrono::steady_clock;
    const auto kLook = std::chrono::milliseconds(250);
    // Folders that cannot be followed are looked at every kLook.
    auto lookDue = [&] {
        const auto now = Clock::now();
        if (!state_->polling || now - state_->lastLook < kLook)
            return false;
        state_->lastLook = now;
        return true;
    };
    if (lookDue())
        return true;
    if (state_->polling) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(state_->lastLook + kLook - Clock::now());
        ms = std::max(0, std::min(ms, int(left.count())));
    }
    // Without inotify (fd -1) poll only sleeps.
    pollfd p{state_->fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return lookDue();
    // Drain; a folder that went (or moved) is followed anew once it is back.
    alignas(inotify_event) char block[8192];
    for (ssize_t n; (n = read(state_->fd, block, sizeof(block))) > 0;)
        for (char* at = block; at < block + n;) {
            const inotify_event* e = reinterpret_cast<const inotify_event*>(at);
            if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))
                for (auto it = state_->followed.begin(); it != state_->followed.end(); ++it)
                    if (it->second == e->wd) {
                        inotify_rm_watch(state_->fd, e->wd);
                        state_->followed.erase(it);
                        break;
                    }
            at += sizeof(inotify_event) + e->len;
        }
    return true;
}

bool StartedByParent()
{
    const char* child = std::getenv("ORVANE_CLI_CHILD");
    const bool started = child && std::strcmp(child, "1") == 0;
    unsetenv("ORVANE_CLI_CHILD");
    return started;
}

void QuitNow(int code)
{
    std::fflush(stdout);
    _exit(code);
}

// ---- children ---------------------------------------------------------------

struct Children::Child
{
    pid_t pid = -1;
    int out = -1;           // read end of its standard output
    std::string pending;    // received, not yet a whole line
    bool ended = false;
};

Children::Children() = default;

Children::~Children()
{
    for (Child* c : children_) {
        if (c->out >= 0)
            close(c->out);
        delete c;
    }
}

bool Children::Start(const std::vector<std::string>& args)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    self[n] = '\0';
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // A process group of its own: the terminal's Ctrl+C reaches the
        // parent only, which passes it on once.  A parent that dies without
        // passing anything on still takes its children with it.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(fds[1], STDOUT_FILENO);
        setenv("ORVANE_CLI_CHILD", "1", 1);
        std::vector<char*> argv{self};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(self, argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return false;
    }
    Child* c = new Child;
    c->pid = pid;
    c->out = fds[0];
    children_.push_back(c);
    ++running_;
    return true;
}

void Children::Poll(int ms, const std::function<void(int, const std::string&)>& onLine,
                    const std::function<void(int, int)>& onExit)
{
    std::vector<pollfd> fds;
    std::vector<int> which;
    for (size_t i = 0; i < children_.size(); ++i)
        if (children_[i]->out >= 0) {
            fds.push_back(pollfd{children_[i]->out, POLLIN, 0});
            which.push_back(int(i));
        }
    if (fds.empty())
        return;
    if (poll(fds.data(), fds.size(), ms) <= 0)
        return;
    for (size_t k = 0; k < fds.size(); ++k) {
        if (!fds[k].revents)
            continue;
        Child* c = children_[which[k]];
        char block[4096];
        const ssize_t n = read(c->out, block, sizeof(block));
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0) {
            c->pending.append(block, size_t(n));
            HandWholeLines(&c->pending, [&](const std::string& line) { onLine(which[k], line); });
            continue;
        }
        // End of its output: the child has ended, or is about to.
        close(c->out);
        c->out = -1;
        int status = 0;
        while (waitpid(c->pid, &status, 0) < 0 && errno == EINTR) {
        }
        c->ended = true;
        --running_;
        // A child that died of a signal reports as a shell would.
        onExit(which[k], WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
}

void Children::Interrupt()
{
    for (const Child* c : children_)
        if (!c->ended)
            kill(c->pid, SIGINT);
}

void Children::Interrupt(int child)
{
    if (child >= 0 && size_t(child) < children_.size() && !children_[size_t(child)]->ended)
        kill(children_[size_t(child)]->pid, SIGINT);
}

// ---- a byte at a time ---------------------------------------------------------

struct ByteSource::State
{
    int fd = -1;
    bool owned = false;   // not the console's
    bool file = false;
};

ByteSource::ByteSource() : state_(new State) {}

ByteSource::~ByteSource()
{
    if (state_->owned)
        close(state_->fd);
    delete state_;
}

bool ByteSource::Open(const std::string& path, std::string* error)
{
    if (path == "-") {
        state_->fd = STDIN_FILENO;
        return true;
    }
    struct stat st {};
    const bool found = stat(path.c_str(), &st) == 0;
    // A folder opens too, and would read as a list that has ended.
    if (found && S_ISDIR(st.st_mode)) {
        *error = "cannot read the unit ids from " + path + ": it is a folder";
        return false;
    }
    // Opened for writing too, a FIFO has a writer for good: it never reads
    // as ended between the feeder's lines, and the open does not wait.
    const bool fifo = found && S_ISFIFO(st.st_mode);
    state_->fd = open(path.c_str(), (fifo ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
    if (state_->fd < 0) {
        *error = "cannot read the unit ids from " + path;
        return false;
    }
    state_->owned = true;
    state_->file = S_ISREG(st.st_mode);
    return true;
}

bool ByteSource::Readable(const std::string& path, std::string* error)
{
    struct stat st {};
    if (path == "-")
        return true;
    if (stat(path.c_str(), &st) != 0 || access(path.c_str(), R_OK) != 0)
        *error = "cannot read the unit ids from " + path;
    else if (S_ISDIR(st.st_mode))
        *error = "cannot read the unit ids from " + path + ": it is a folder";
    return error->empty();
}

int ByteSource::Read(char* c, int ms)
{
    pollfd p{state_->fd, POLLIN, 0};
    const int ready = poll(&p, 1, ms);
    if (ready < 0 && errno == EINTR)
        return -1;
    if (ready == 0)
        return -1;
    const ssize_t n = ready > 0 ? read(state_->fd, c, 1) : -1;
    if (n == 1)
        return 1;
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return -1;
    return 0;   // the end, or a read that failed: nothing more comes
}

bool ByteSource::Seek(uint64_t offset)
{
    return state_->file && lseek(state_->fd, off_t(offset), SEEK_SET) == off_t(offset);
}

bool ByteSource::IsFile() const
{
    return state_->file;
}
