// Scenarios, their problems, the log and screenshots.
//
// "SNAP name" on standard output asks the runner for a screenshot; the
// runner answers by creating ARTEFACT-DIR\name.done.  One "PASS scenario" or
// "FAIL scenario: ..." line per scenario.
#include "driver.h"

#include <cstdarg>
#include <cstdio>

std::string gArtefacts;
bool gDiedInScenario = false;
static std::vector<std::string> gProblems;
static int gFollowing = 0;   // problems met after the program died, only counted

void Problem(const char* fmt, ...)
{
    if (gDiedInScenario) {
        gFollowing++;
        return;
    }
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
    // What is due to be painted is painted first, in each window whose
    // thread is free to paint.
    std::vector<HWND> shown = OtherWindows();
    shown.push_back(gMain);
    for (HWND hWnd : shown) {
        DWORD_PTR unused;
        if (IsWindow(hWnd) && SendMessageTimeoutA(hWnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &unused))
            RedrawWindow(hWnd, NULL, NULL, RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
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

// What is open besides the main window, for a message; "" when nothing.
static std::string Strays()
{
    std::string open;
    for (HWND hWnd : OtherWindows())
        open += (open.empty() ? "\"" : ", \"") + TextOf(hWnd) + "\" (" + ClassOf(hWnd) + ")";
    if (gMain && IsWindow(gMain) && InMenuMode(gMain))
        open += open.empty() ? "a menu" : ", a menu";
    return open;
}

// Closes what is open besides the main window: menus with Esc, boxes and
// dialogs with their Cancel button or else OK.
static void Recover()
{
    for (int round = 0; round < 3 && !Strays().empty(); round++) {
        for (HWND hWnd : OtherWindows())
            if (ClassOf(hWnd) == "#32770") {
                HWND hButton = ChildOf(hWnd, "Button", "Cancel");
                PostMessageA(hWnd, WM_COMMAND, hButton ? GetDlgCtrlID(hButton) : IDOK, 0);
            }
        if (OpenMenu() || InMenuMode(gMain))
            LeaveMenus(GuiOf(gMain).hwndMenuOwner ? GuiOf(gMain).hwndMenuOwner : gMain);
        WaitUntil([]() { return Strays().empty(); }, 10000);
    }
}

// Every scenario starts from the main window alone.  What one leaves open is
// its own problem, closed before the next starts; one that cannot start from
// there says so and is not run.
bool Run(const Scenario& sc)
{
    gProblems.clear();
    gDiedInScenario = false;
    gFollowing = 0;
    Log("RUN %s", sc.name);   // for the runner, which names it if the program dies
    const ULONGLONG start = GetTickCount64();
    if (!sc.fStarts && (gMain == NULL || !IsWindow(gMain))) {
        Problem("the main window is gone");
    } else if (!sc.fStarts && !Strays().empty()) {
        Problem("not started: %s still open before it", Strays().c_str());
    } else {
        sc.run();
        ProgramEnded();
        if (gDiedInScenario)
            Log("DIED %s", sc.name);   // for the runner, which tells how
        const std::string left = Strays();
        if (!left.empty()) {
            Problem("left %s open", left.c_str());
            Recover();
        }
    }
    if (gProblems.empty()) {
        Log("PASS %s (%.1f s)", sc.name, (GetTickCount64() - start) / 1000.0);
        return true;
    }
    for (const std::string& p : gProblems)
        Log("FAIL %s: %s", sc.name, p.c_str());
    if (gFollowing)
        Log("FAIL %s: (and %d more problems that follow from it)", sc.name, gFollowing);
    return false;
}
