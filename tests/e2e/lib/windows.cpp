// Finding the program's windows and waiting for them.
#include "driver.h"

#include <cstring>

HWND gMain = NULL;
HANDLE gProcess = NULL;
bool gEndExpected = false;
static DWORD gPid = 0;
static bool gEndTold = false;

bool ProgramEnded()
{
    if (!gProcess || WaitForSingleObject(gProcess, 0) != WAIT_OBJECT_0)
        return false;
    if (!gEndExpected && !gEndTold) {
        gEndTold = true;
        char szPath[MAX_PATH] = "the program";
        DWORD len = sizeof(szPath), code = 0;
        QueryFullProcessImageNameA(gProcess, 0, szPath, &len);
        GetExitCodeProcess(gProcess, &code);
        const char* name = strrchr(szPath, '\\');
        Problem("%s ended in the middle of the scenario (exit code %lu)", name ? name + 1 : szPath,
                (unsigned long)code);
        gDiedInScenario = true;
    }
    return true;
}

std::string ClassOf(HWND hWnd)
{
    char sz[256] = "";
    GetClassNameA(hWnd, sz, sizeof(sz));
    return sz;
}

std::string TextOf(HWND hWnd)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 10000, &len))
        return "<no answer>";
    std::string s(len + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(hWnd, WM_GETTEXT, s.size(), (LPARAM)&s[0], SMTO_ABORTIFHUNG, 10000, &got);
    s.resize(got);
    return s;
}

static BOOL CALLBACK Collect(HWND hWnd, LPARAM lParam)
{
    ((std::vector<HWND>*)lParam)->push_back(hWnd);
    return TRUE;
}

// Visible top-level windows of the program other than the main window.
std::vector<HWND> OtherWindows()
{
    std::vector<HWND> all, found;
    EnumWindows(Collect, (LPARAM)&all);
    for (HWND hWnd : all) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hWnd, &pid);
        if (pid == gPid && hWnd != gMain && IsWindowVisible(hWnd))
            found.push_back(hWnd);
    }
    return found;
}

std::vector<HWND> Children(HWND hParent)
{
    std::vector<HWND> all;
    EnumChildWindows(hParent, Collect, (LPARAM)&all);
    return all;
}

HWND ChildOf(HWND hParent, const char* cls, const std::string& text)
{
    for (HWND hChild : Children(hParent))
        if (ClassOf(hChild) == cls && TextOf(hChild) == text)
            return hChild;
    return NULL;
}

HWND OpenMenu()
{
    for (HWND hWnd : OtherWindows())
        if (ClassOf(hWnd) == "#32768")
            return hWnd;
    return NULL;
}

HWND WaitFor(const std::function<HWND()>& find, DWORD dwLimit)
{
    const ULONGLONG end = GetTickCount64() + dwLimit;
    for (;;) {
        if (HWND hWnd = find())
            return hWnd;
        if (GetTickCount64() >= end || ProgramEnded())
            return NULL;
        Sleep(kPollMs);
    }
}

bool WaitUntil(const std::function<bool()>& done, DWORD dwLimit)
{
    return WaitFor([&]() { return done() ? (HWND)1 : NULL; }, dwLimit) != NULL;
}

// A visible dialog of the program with this caption.
HWND WaitDialog(const std::string& caption, DWORD dwLimit)
{
    return WaitFor([&]() -> HWND {
        for (HWND hWnd : OtherWindows())
            if (ClassOf(hWnd) == "#32770" && TextOf(hWnd) == caption)
                return hWnd;
        return NULL;
    }, dwLimit);
}

bool WaitGone(HWND hWnd, DWORD dwLimit)
{
    return WaitUntil([&]() { return !IsWindow(hWnd) || !IsWindowVisible(hWnd); }, dwLimit);
}

GUITHREADINFO GuiOf(HWND hWnd)
{
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof(gui);
    GetGUIThreadInfo(GetWindowThreadProcessId(hWnd, NULL), &gui);
    return gui;
}

HWND Attach(DWORD dwLimit)
{
    gMain = WaitFor([]() { return FindWindowA("TTYWndClass", NULL); }, dwLimit);
    if (gMain) {
        GetWindowThreadProcessId(gMain, &gPid);
        gProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, gPid);
    }
    return gMain;
}
