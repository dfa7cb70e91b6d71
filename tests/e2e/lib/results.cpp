// Scenarios, their problems, the log and screenshots.
//
// "SNAP name" on standard output asks the runner for a screenshot; the
// runner answers by creating ARTEFACT-DIR\name.done.  One "PASS scenario" or
// "FAIL scenario: ..." line per scenario.
#include "driver.h"

#include <cstdarg>
#include <cstdio>

std::string gArtefacts;
static std::vector<std::string> gProblems;

void Problem(const char* fmt, ...)
{
    char sz[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(sz, sizeof(sz), fmt, ap);
    va_end(ap);
    gProblems.push_back(sz);
}

void Log(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
}

void Snap(const char* name)
{
    std::string done = gArtefacts + "\\" + name + ".done";
    DeleteFileA(done.c_str());
    Log("SNAP %s", name);
    if (!WaitUntil([&]() { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000))
        Log("note: no screenshot %s", name);
}

std::vector<Scenario>& Registry()
{
    static std::vector<Scenario> all;
    return all;
}

Suite::Suite(const char* name, std::initializer_list<Scenario> scenarios)
{
    for (Scenario sc : scenarios) {
        sc.suite = name;
        Registry().push_back(sc);
    }
}

// Ends whatever a failed scenario left open, so the next one can run.
static void Recover()
{
    for (int round = 0; round < 3; round++) {
        std::vector<HWND> open = OtherWindows();
        if (open.empty())
            return;
        for (HWND hWnd : open) {
            if (ClassOf(hWnd) == "#32768")
                Chord(hWnd, { VK_ESCAPE });
            else if (ClassOf(hWnd) == "#32770")
                PostMessageA(hWnd, WM_COMMAND, ChildOf(hWnd, "Button", "Cancel") ? IDCANCEL : IDOK, 0);
        }
        Settle();
    }
}

bool Run(const Scenario& sc)
{
    gProblems.clear();
    if (!sc.fStarts && (gMain == NULL || !IsWindow(gMain)))
        Problem("the main window is gone");
    else
        sc.run();
    if (gProblems.empty()) {
        Log("PASS %s", sc.name);
        return true;
    }
    for (const std::string& p : gProblems)
        Log("FAIL %s: %s", sc.name, p.c_str());
    Recover();
    return false;
}
