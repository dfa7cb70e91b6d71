// What orvane-cli needs from the operating system besides the port: the
// console, Ctrl+C, a locked append, temporary files and child processes.
// system_posix.cpp and system_win.cpp implement it.
#ifndef ORVANE_CLI_SYSTEM_H
#define ORVANE_CLI_SYSTEM_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The console.  ConsoleIsTerminal: stdout is a terminal that takes the
// progress line rewritten in place; ConsoleCursorMoves: it also takes the
// escape sequences that move the cursor up (several ports' lines).
bool ConsoleIsTerminal();
bool ConsoleCursorMoves();
int  ConsoleWidth();

// Ctrl+C counted from here on, and what ends a console run as it does: on
// Linux SIGTERM and SIGHUP (a terminal closed, an ssh session dropped); on
// Windows the console window closing (counted twice: Windows ends the
// process a few seconds later, so the unit stops at once, with its record).
// Never kills the process.
void CatchInterrupts();
int  Interrupts();
// The last of them, as a reason says it: "Ctrl+C", "SIGTERM", ...
std::string InterruptName();

// Hands each whole line in *pending to onLine (without its '\n') and keeps
// what follows the last one.
inline void HandWholeLines(std::string* pending, const std::function<void(const std::string&)>& onLine)
{
    size_t from = 0;
    for (size_t end; (end = pending->find('\n', from)) != std::string::npos; from = end + 1)
        onLine(pending->substr(from, end - from));
    pending->erase(0, from);
}

// Appends one line to a file that other processes may append to at the same
// moment, holding an exclusive lock on it for the whole write.  The header
// goes first when the file is empty.  False with a reason when it cannot.
bool AppendLocked(const std::string& path, const std::string& header, const std::string& line,
                  std::string* error);
// The same, with the line made under the lock: first every line the file
// holds beyond *offset (what this and other processes appended since the
// last call; 0 the first time) goes to onLine, then makeLine makes the line
// to append, and *offset moves past it.
bool AppendLockedAfter(const std::string& path, const std::string& header, uint64_t* offset,
                       const std::function<void(const std::string&)>& onLine,
                       const std::function<std::string()>& makeLine, std::string* error);

// Whether a line could be appended to the file (made if missing) without
// opening it: otherwise false with the reason.
bool CanAppend(const std::string& path, std::string* why);

// A new folder for this run's temporary files; removed with RemoveTree.
std::string MakeTempFolder();
void RemoveTree(const std::string& folder);
bool CopyImage(const std::string& from, const std::string& to);
std::string BaseName(const std::string& path);

// The paths a pattern with * and ? names in the file system (Linux: a folder
// of links such as a bench's own); none on Windows, where ports are names.
std::vector<std::string> PathsMatching(const std::string& pattern);

// What wakes --watch when ports may have come or gone.  Linux: inotify on the
// folders followed (/dev, /dev/serial/by-id, by-path, a pattern's folder);
// a folder that cannot be followed (missing, or a pattern in its path) is
// looked at every 250 ms instead.  Windows: every 250 ms.
class FolderWatch
{
public:
    FolderWatch();
    ~FolderWatch();
    // Follows these folders too (again after they were missing).
    void Follow(const std::vector<std::string>& folders);
    // Waits up to ms; true when something may have changed.
    bool Wait(int ms);

private:
    struct State;
    State* state_;
};

// A file, a FIFO or the console read a byte at a time, so that nothing is
// taken from it beyond what was asked for (another process may read on
// where this one stops).  A FIFO is opened so that it never reads as ended
// (its writers may come and go) and without waiting for a writer.
class ByteSource
{
public:
    ByteSource();
    ~ByteSource();
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;
    // path: a file or FIFO, "-" the console.  False with a reason.
    bool Open(const std::string& path, std::string* error);
    // What Open would say, found without opening anything.
    static bool Readable(const std::string& path, std::string* error);
    // 1: a byte in *c; 0: the end (a file that has ended); -1: none came
    // within ms.
    int Read(char* c, int ms);
    // A file goes on from offset; false for a FIFO or the console.
    bool Seek(uint64_t offset);
    bool IsFile() const;

private:
    struct State;
    State* state_;
};

// This process was started by an orvane-cli for one of its ports
// (Children::Start says so in its environment, and no one else should).
bool StartedByParent();

// Leaves the process at once with the code, whatever other threads do.
[[noreturn]] void QuitNow(int code);

// Child processes: this program again with other arguments, their standard
// output read line by line.
class Children
{
public:
    Children();
    ~Children();
    bool Start(const std::vector<std::string>& args);   // child number = order started
    // Waits up to ms for output; calls onLine(child, line) for every line and
    // onExit(child, code) once a child has ended and its output is read.
    void Poll(int ms, const std::function<void(int, const std::string&)>& onLine,
              const std::function<void(int, int)>& onExit);
    bool Running() const { return running_ > 0; }
    void Interrupt();            // passes a Ctrl+C on to every running child
    void Interrupt(int child);   // to that one, if it runs

private:
    struct Child;
    std::vector<Child*> children_;
    int running_ = 0;
};

#endif
