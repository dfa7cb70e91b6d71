// orvane-cli's operating-system side on Windows.
#include "orvane/cli/system.h"

#include "orvane/platform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdio>
#include <filesystem>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

std::atomic<int> gInterrupts{0};
std::atomic<bool> gClosing{false};

BOOL WINAPI OnConsoleEvent(DWORD dwEvent)
{
    switch (dwEvent) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:   // what a parent passes on (see Children::Interrupt)
        gInterrupts.fetch_add(1);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process once this returns, and a few seconds
        // later if it does not: the unit stops now (as on a second Ctrl+C),
        // and this thread waits while the records are written and the
        // process leaves on its own.
        gClosing.store(true);
        gInterrupts.fetch_add(2);
        Sleep(INFINITE);
        return TRUE;
    }
    return FALSE;
}

HANDLE StdOut()
{
    return GetStdHandle(STD_OUTPUT_HANDLE);
}

// One argument as CreateProcess's command line parser reads it back.
std::string Quote(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

} // namespace

bool ConsoleIsTerminal()
{
    DWORD dwMode;
    return GetConsoleMode(StdOut(), &dwMode) != 0;
}

bool ConsoleCursorMoves()
{
    DWORD dwMode;
    if (!GetConsoleMode(StdOut(), &dwMode))
        return false;
    return (dwMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
           SetConsoleMode(StdOut(), dwMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int ConsoleWidth()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(StdOut(), &info) && info.srWindow.Right - info.srWindow.Left > 20)
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

void CatchInterrupts()
{
    // A child started in a process group of its own has Ctrl+C switched off;
    // on again, for when it is run by hand.
    SetConsoleCtrlHandler(NULL, FALSE);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int Interrupts()
{
    return gInterrupts.load();
}

std::string InterruptName()
{
    return gClosing.load() ? "the console window closing" : "Ctrl+C";
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
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE | (onLine ? GENERIC_READ : 0),
                               FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) {
        *error = "cannot open the log " + path + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    OVERLAPPED ov{};
    bool ok = LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &ov) != 0;
    LARGE_INTEGER size{}, zero{};
    ok = ok && GetFileSizeEx(hFile, &size);
    if (ok && onLine) {
        std::string pending;
        char block[65536];
        LARGE_INTEGER at;
        at.QuadPart = LONGLONG(*offset);
        DWORD dwRead = 0;
        while (at.QuadPart < size.QuadPart && SetFilePointerEx(hFile, at, NULL, FILE_BEGIN) &&
               ReadFile(hFile, block, sizeof(block), &dwRead, NULL) && dwRead > 0) {
            at.QuadPart += dwRead;
            pending.append(block, dwRead);
            HandWholeLines(&pending, onLine);
        }
        if (!pending.empty())
            onLine(pending);
    }
    ok = ok && SetFilePointerEx(hFile, zero, NULL, FILE_END);
    const std::string text = ok ? (size.QuadPart == 0 ? header : std::string()) + makeLine() : std::string();
    DWORD dwWritten = 0;
    ok = ok && WriteFile(hFile, text.data(), (DWORD)text.size(), &dwWritten, NULL) && dwWritten == text.size();
    if (ok)
        *offset = uint64_t(size.QuadPart) + text.size();
    if (!ok)
        *error = "cannot write the log " + path + " (error " + std::to_string(GetLastError()) + ")";
    UnlockFileEx(hFile, 0, MAXDWORD, MAXDWORD, &ov);
    CloseHandle(hFile);
    return ok;
}

bool CanAppend(const std::string& path, std::string* why)
{
    const DWORD dwAttributes = GetFileAttributesA(path.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES) {
        if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
            *why = path + " is a folder";
        else if (dwAttributes & FILE_ATTRIBUTE_READONLY)
            *why = path + " is read-only";
        return why->empty();
    }
    const size_t slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const DWORD dwFolder = GetFileAttributesA(folder.c_str());
    if (dwFolder == INVALID_FILE_ATTRIBUTES || !(dwFolder & FILE_ATTRIBUTE_DIRECTORY))
        *why = path + " cannot be made: there is no folder " + folder;
    return why->empty();
}

std::string MakeTempFolder()
{
    CHAR szTemp[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof(szTemp), szTemp);
    if (n == 0 || n >= sizeof(szTemp))
        return std::string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        CHAR szFolder[MAX_PATH + 64];
        wsprintfA(szFolder, "%sorvane-cli-%lu-%d", szTemp, GetCurrentProcessId(), attempt);
        if (CreateDirectoryA(szFolder, NULL))
            return szFolder;
    }
    return std::string();
}

void RemoveTree(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

bool CopyImage(const std::string& from, const std::string& to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool StartedByParent()
{
    CHAR szChild[8];
    const DWORD n = GetEnvironmentVariableA("ORVANE_CLI_CHILD", szChild, sizeof(szChild));
    SetEnvironmentVariableA("ORVANE_CLI_CHILD", NULL);
    return n == 1 && szChild[0] == '1';
}

void QuitNow(int code)
{
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), (UINT)code);
    for (;;)
        Sleep(INFINITE);
}

// ---- children ---------------------------------------------------------------

struct Children::Child
{
    HANDLE hProcess = NULL;
    DWORD dwId = 0;
    HANDLE hOut = NULL;     // read end of its standard output
    std::string pending;    // received, not yet a whole line
    bool ended = false;
};

Children::Children() = default;

Children::~Children()
{
    for (Child* c : children_) {
        if (c->hOut)
            CloseHandle(c->hOut);
        if (c->hProcess)
            CloseHandle(c->hProcess);
        delete c;
    }
}

HANDLE ChildrenJob();

bool Children::Start(const std::vector<std::string>& args)
{
    CHAR szSelf[MAX_PATH];
    if (GetModuleFileNameA(NULL, szSelf, sizeof(szSelf)) == 0)
        return false;
    std::string command = Quote(szSelf);
    for (const std::string& a : args) {
        command += ' ';
        command += Quote(a);
    }

    SECURITY_ATTRIBUTES sa{sizeof(sa), NULL, TRUE};
    HANDLE hRead, hWrite;
    if (!CreatePipe(&hRead, &hWrite, &sa, 0))
        return false;
    SetHandleInformation(hRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = hWrite;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    SetEnvironmentVariableA("ORVANE_CLI_CHILD", "1");   // inherited by the child: see StartedByParent
    // A process group of its own: the console's Ctrl+C reaches the parent
    // only, which passes it on once.
    const BOOL fStarted = CreateProcessA(szSelf, command.data(), NULL, NULL, TRUE, CREATE_NEW_PROCESS_GROUP, NULL,
                                         NULL, &si, &pi);
    CloseHandle(hWrite);
    SetEnvironmentVariableA("ORVANE_CLI_CHILD", NULL);
    if (!fStarted) {
        CloseHandle(hRead);
        return false;
    }
    if (ChildrenJob() != NULL)
        AssignProcessToJobObject(ChildrenJob(), pi.hProcess);
    CloseHandle(pi.hThread);
    Child* c = new Child;
    c->hProcess = pi.hProcess;
    c->dwId = pi.dwProcessId;
    c->hOut = hRead;
    children_.push_back(c);
    ++running_;
    return true;
}

void Children::Poll(int ms, const std::function<void(int, const std::string&)>& onLine,
                    const std::function<void(int, int)>& onExit)
{
    const DWORD dwStart = GetTickCount();
    for (;;) {
        bool fAny = false;
        for (size_t i = 0; i < children_.size(); ++i) {
            Child* c = children_[i];
            if (c->hOut == NULL)
                continue;
            DWORD dwAvail = 0;
            if (PeekNamedPipe(c->hOut, NULL, 0, NULL, &dwAvail, NULL)) {
                if (dwAvail == 0)
                    continue;
                char block[4096];
                DWORD dwRead = 0;
                if (!ReadFile(c->hOut, block, dwAvail < sizeof(block) ? dwAvail : sizeof(block), &dwRead, NULL))
                    continue;
                fAny = true;
                c->pending.append(block, dwRead);
                HandWholeLines(&c->pending, [&](const std::string& line) {
                    onLine((int)i, !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
                });
                continue;
            }
            // The pipe is broken: the child has ended.
            fAny = true;
            CloseHandle(c->hOut);
            c->hOut = NULL;
            WaitForSingleObject(c->hProcess, INFINITE);
            DWORD dwCode = 0;
            GetExitCodeProcess(c->hProcess, &dwCode);
            c->ended = true;
            --running_;
            onExit((int)i, (int)dwCode);
        }
        if (fAny || GetTickCount() - dwStart >= (DWORD)ms)
            return;
        Sleep(10);
    }
}

void Children::Interrupt()
{
    for (const Child* c : children_)
        if (!c->ended)
            GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, c->dwId);
}

void Children::Interrupt(int child)
{
    if (child >= 0 && size_t(child) < children_.size() && !children_[size_t(child)]->ended)
        GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, children_[size_t(child)]->dwId);
}

std::vector<std::string> PathsMatching(const std::string&)
{
    return {};
}

struct FolderWatch::State
{
    DWORD dwLastLook = 0;
};

FolderWatch::FolderWatch() : state_(new State) {}

FolderWatch::~FolderWatch()
{
    delete state_;
}

void FolderWatch::Follow(const std::vector<std::string>&) {}

// The serial device map is looked at every 250 ms.
bool FolderWatch::Wait(int ms)
{
    const DWORD dwSince = GetTickCount() - state_->dwLastLook;
    if (dwSince < 250) {
        const DWORD dwWait = 250 - dwSince;
        Sleep(dwWait < DWORD(ms) ? dwWait : DWORD(ms));
        if (GetTickCount() - state_->dwLastLook < 250)
            return false;
    }
    state_->dwLastLook = GetTickCount();
    return true;
}

// Every child is in a job that ends them all when this process ends, however
// it ends.
HANDLE ChildrenJob()
{
    static HANDLE hJob = [] {
        HANDLE h = CreateJobObjectA(NULL, NULL);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
        info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (h != NULL)
            SetInformationJobObject(h, JobObjectExtendedLimitInformation, &info, sizeof(info));
        return h;
    }();
    return hJob;
}

// ---- a byte at a time ---------------------------------------------------------

// A file is read directly.  A pipe or the console can only be waited on in
// a read, so a thread of its own reads one byte there when one is asked for,
// and never a byte more.
struct ByteSource::State
{
    HANDLE hFile = INVALID_HANDLE_VALUE;
    bool owned = false;   // not the console's
    bool file = false;
    std::mutex lock;
    std::condition_variable changed;
    bool asked = false, got = false, ended = false, reading = false;
    char byte = 0;
};

ByteSource::ByteSource() : state_(new State) {}

ByteSource::~ByteSource()
{
    // A thread still waiting in a read keeps the state (and the handle):
    // the process ends with it.
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        if (state_->reading)
            return;
    }
    if (state_->owned)
        CloseHandle(state_->hFile);
    delete state_;
}

bool ByteSource::Open(const std::string& path, std::string* error)
{
    if (path == "-") {
        state_->hFile = GetStdHandle(STD_INPUT_HANDLE);
    } else {
        const DWORD dwAttributes = GetFileAttributesA(path.c_str());
        if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            *error = "cannot read the unit ids from " + path + ": it is a folder";
            return false;
        }
        state_->hFile = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
        state_->owned = true;
    }
    if (state_->hFile == INVALID_HANDLE_VALUE || state_->hFile == NULL) {
        state_->owned = false;
        *error = "cannot read the unit ids from " + path;
        return false;
    }
    state_->file = GetFileType(state_->hFile) == FILE_TYPE_DISK;
    return true;
}

bool ByteSource::Readable(const std::string& path, std::string* error)
{
    if (path == "-")
        return true;
    const DWORD dwAttributes = GetFileAttributesA(path.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        *error = "cannot read the unit ids from " + path;
    else if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
        *error = "cannot read the unit ids from " + path + ": it is a folder";
    return error->empty();
}

int ByteSource::Read(char* c, int ms)
{
    State* s = state_;
    DWORD dwRead = 0;
    if (s->file)
        return ReadFile(s->hFile, c, 1, &dwRead, NULL) && dwRead == 1 ? 1 : 0;
    std::unique_lock<std::mutex> hold(s->lock);
    if (!s->asked && !s->got && !s->ended) {
        s->asked = s->reading = true;
        std::thread([s] {
            char byte = 0;
            DWORD dwGot = 0;
            const bool ok = ReadFile(s->hFile, &byte, 1, &dwGot, NULL) && dwGot == 1;
            std::lock_guard<std::mutex> done(s->lock);
            s->asked = s->reading = false;
            s->got = ok;
            s->ended = !ok;
            s->byte = byte;
            s->changed.notify_all();
        }).detach();
    }
    s->changed.wait_for(hold, std::chrono::milliseconds(ms), [s] { return s->got || s->ended; });
    if (s->got) {
        s->got = false;
        *c = s->byte;
        return 1;
    }
    return s->ended ? 0 : -1;
}

bool ByteSource::Seek(uint64_t offset)
{
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    return state_->file && SetFilePointerEx(state_->hFile, at, NULL, FILE_BEGIN);
}

bool ByteSource::IsFile() const
{
    return state_->file;
}
