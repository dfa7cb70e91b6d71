// orvane-cli's operating-system side on Linux.
#include "orvane/cli/system.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::atomic<int> gInterrupts{0};

void OnInterrupt(int)
{
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
    signal(SIGPIPE, SIG_IGN);
}

int Interrupts()
{
    return gInterrupts.load();
}

bool AppendLocked(const std::string& path, const std::string& header, const std::string& line, std::string* error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot open the log " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = flock(fd, LOCK_EX) == 0;
    struct stat st {};
    if (ok && fstat(fd, &st) == 0 && st.st_size == 0)
        ok = WriteAll(fd, header);
    ok = ok && WriteAll(fd, line);
    if (!ok)
        *error = "cannot write the log " + path + ": " + std::strerror(errno);
    flock(fd, LOCK_UN);
    close(fd);
    return ok;
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
    const pid_t pid = fork();
    if (pid == 0) {
        // A process group of its own: the terminal's Ctrl+C reaches the
        // parent only, which passes it on once.
        setpgid(0, 0);
        dup2(fds[1], STDOUT_FILENO);
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
            size_t end;
            while ((end = c->pending.find('\n')) != std::string::npos) {
                onLine(which[k], c->pending.substr(0, end));
                c->pending.erase(0, end + 1);
            }
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
