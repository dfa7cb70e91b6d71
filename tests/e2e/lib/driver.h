// The end-to-end driver's library: plays the user of a running orvane.exe in
// the same Wine desktop.  It finds windows by class and title, types and
// clicks with SendInput, reads what a user reads (window and control texts,
// combo-box lists, check states, message boxes, the open menu from its
// pixels) and talks to the module simulator.  Scenarios live in
// ../scenarios, one file per subject, and register themselves in a suite.
#pragma once

#include <windows.h>

#include "tests/support/json.h"
#include "tests/support/simclient.h"

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

inline const char kAppTitle[] = "orvane 2.1 for MRQ-41/41c/520W/520W Lite/710F";

// Limits on waiting for the program.  The 32-bit program runs emulated on
// some machines, so they are generous; they only bound a wait for an effect,
// which is looked for every kPollMs.
const DWORD kStartWait = 300000;
const DWORD kWindowWait = 60000;
const DWORD kPollMs = 20;

extern std::string gArtefacts;   // where screenshots go (a Windows path)
extern HWND gMain;               // the program's main window
extern HANDLE gProcess;
extern bool gEndExpected;        // set by the scenario that closes the program

// True once the program has ended.  An end that no scenario asked for is
// the problem of the scenario that meets it (named once, with the exit
// code), and every wait gives up at once.
bool ProgramEnded();
extern bool gDiedInScenario;     // it did in this scenario: later problems are only counted

// ---- windows.cpp: the program's windows -------------------------------------
std::string ClassOf(HWND hWnd);
std::string TextOf(HWND hWnd);
inline std::string TextOf(HWND hDlg, int id) { return TextOf(GetDlgItem(hDlg, id)); }
std::vector<HWND> OtherWindows();   // visible top-level windows but the main one
std::vector<HWND> Children(HWND hParent);
HWND ChildOf(HWND hParent, const char* cls, const std::string& text);
HWND OpenMenu();                    // the program's open popup menu, or NULL
HWND WaitFor(const std::function<HWND()>& find, DWORD dwLimit = kWindowWait);
bool WaitUntil(const std::function<bool()>& done, DWORD dwLimit = kWindowWait);
HWND WaitDialog(const std::string& caption, DWORD dwLimit = kWindowWait);
bool WaitGone(HWND hWnd, DWORD dwLimit = kWindowWait);
// The focus, the active window and the menu state of the window's thread.
GUITHREADINFO GuiOf(HWND hWnd);
HWND Attach(DWORD dwLimit = kStartWait);   // finds the main window: gMain

// ---- input.cpp --------------------------------------------------------------
void Chord(HWND hTarget, std::initializer_list<WORD> keys);   // {VK_SHIFT, VK_F1}
inline bool KeyCloses(HWND hWnd, WORD vk) { Chord(hWnd, { vk }); return WaitGone(hWnd); }
void Type(HWND hTarget, const std::string& text);             // into the focus
void Click(HWND hCtrl);
bool ClickCloseBox(HWND hWnd);
bool ClickFirstMenu(HWND hWnd);
bool InMenuMode(HWND hWnd);
bool LeaveMenus(HWND hWnd);   // Esc until its thread is out of its menus
// Proof that the input sent to a window so far has been handled, for the
// checks that nothing happened: its system menu opens (and is closed).
bool Handled(HWND hWnd, const char* what);

// ---- read.cpp ---------------------------------------------------------------
struct Combo { std::vector<std::string> items; std::string selected; bool enabled = false; };  // selected: "" for none
Combo ReadCombo(HWND hDlg, int id);
std::string Join(const std::vector<std::string>& v);
inline bool Checked(HWND hDlg, int id) { return SendDlgItemMessageA(hDlg, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }
inline bool Enabled(HWND hDlg, int id) { return IsWindowEnabled(GetDlgItem(hDlg, id)) != FALSE; }
bool ReadOpenMenu(std::vector<bool>* pLines);   // per line: true normal, false grey
// Opens the Action menu (a screenshot of it when named), reads its text
// lines and closes it: "normal grey grey normal", or what went wrong.
std::string ActionMenu(const char* snap = nullptr);
struct Progress { int pos = 0, low = 0, high = 0; };
Progress ReadProgress(HWND hBar);
// The terminal's 25 rows as the program holds them, trailing blanks cut.
std::vector<std::string> Screen();
int BarDrawn(HWND hBar);   // pixels of the bar drawn as filled

// ---- boxes.cpp: message boxes -----------------------------------------------
HWND WaitBox(const std::string& text, DWORD dwLimit = kWindowWait);
// Any box with a text, other than the dialog given.
HWND WaitAnyBox(HWND hExcept, DWORD dwLimit = kWindowWait);
std::string BoxText(HWND hBox);   // its static texts, joined with "|"
bool Answer(HWND hBox, const std::string& button);

// ---- download.cpp: the Install dialog ----------------------------------------
// A firmware image of deterministic bytes (or letters only) in the run's
// work folder; its Windows path.  UnixPath gives the simulator's name for it.
std::string MakeImage(const std::string& name, size_t size, unsigned seed = 1, bool fLetters = false);
std::string UnixPath(const std::string& windowsPath);

struct DownloadRun
{
    std::string model = "520W";   // the module the simulator plays
    std::string image;            // typed into the file-name field; "" leaves it
    std::string expect;           // what the module compares with; "" the image
    std::string sim;              // further simulator settings ("fail-phase=2 ...")
    const char* snaps = nullptr;  // screenshots of each step, named from this
    DWORD dwLimit = kWindowWait;  // for the verdict
    bool fFence = true;           // the report behind a Fence (not while the module may still take the image)
};
struct DownloadOutcome
{
    bool fOpened = false;         // the Install dialog came up
    std::string box, caption;     // the box at the end ("" when none)
    int progress = -1, progressMax = -1;   // the bar when the box showed
    double boxMs = -1;            // the simulator's clock when the box was seen
    Json report;                  // the module's, once the dialog closed
};
HWND OpenInstall();   // Shift+F1: the Install dialog, or NULL
// Up to the module switched on (and the early steps' screenshots) ...
HWND BeginDownload(const DownloadRun& run);
// ... then the first box read and answered, and the module's report.
DownloadOutcome FinishDownload(HWND hDlg, const DownloadRun& run);
DownloadOutcome Download(const DownloadRun& run);   // both
// A key typed into the terminal and seen at the module: everything the
// program wrote before it has arrived.  The report then.  It goes out at the
// line's rate, and is image to a module that is still taking the image.
Json Fence();
// True when every command (but a Fence) the module received in this report came at this
// rate; the first one that did not, otherwise, in *pWhy.
bool AllAtRate(const Json& report, long baud, std::string* pWhy);

// Checks of a finished download.  Success: the box with the program's title,
// the module's 101, the image byte-exact at the module, every command at
// the module's installation rate.  Failure: the box with the maker's caption.
void ExpectBox(const DownloadOutcome& out, const char* box, const char* caption);
void ExpectSuccess(const DownloadOutcome& out);
void ExpectFailure(const DownloadOutcome& out);
// Cancel pressed in the Install dialog: it closes with no box, and the line
// is back at the normal rate (by a Fence).
void CancelInstall(HWND hDlg);

// ---- results.cpp ------------------------------------------------------------
void Problem(const char* fmt, ...);
void Log(const char* fmt, ...);
#define CHECK(cond, ...) ((cond) ? true : (Problem(__VA_ARGS__), false))
#define REQUIRE(cond, ...) if (CHECK(cond, __VA_ARGS__)) {} else return   // ends the scenario
void Snap(const char* name);   // a screenshot, taken by the runner

// fStarts: the scenario meets the program starting rather than attaching to it.
struct Scenario { const char* name; void (*run)(); bool fStarts = false; const char* suite = ""; };
// A file of scenarios registers them as one suite, in the order they run:
//   const Suite kShell("shell", { { "about", About }, ... });
struct Suite { Suite(const char* name, std::initializer_list<Scenario> scenarios); };
std::vector<Scenario>& Registry();
bool Run(const Scenario& sc);   // false when it failed

// ---- sim.cpp: the module simulator (transport and JSON in tests/support) ----
bool Sim(const std::string& line);   // a problem unless "ok"
Json SimReport();
// The report once done(report) holds, or the last one when time is up.
Json WaitReport(const std::function<bool(const Json&)>& done, DWORD dwLimit = kWindowWait);
// The last command of this kind in a report ("cr", "flash", "p60", "reset",
// "data"); null when there is none.
Json LastCommand(const Json& report, const char* kind);
