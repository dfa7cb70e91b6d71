#include "tests/support/recorder.h"
#include "orvane/installer/install.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace recorder {

std::string gFileField;
std::optional<std::string> gChooserAnswer;
std::function<void(const Call&)> gOnWrite;
std::function<void(const Call&)> gOnMessage;
std::function<void(const Call&)> gOnWait;
std::function<Take(DWORD)> gPortTakes;
DWORD gClock = 0;

namespace {
std::mutex gLock;
std::vector<Call> gCalls;
std::map<HWND, void*> gRecords;

Call Make(const char* name, HWND hWnd = nullptr, long a = 0, long b = 0)
{
    Call c;
    c.name = name;
    c.hWnd = hWnd;
    c.a = a;
    c.b = b;
    return c;
}

void Record(Call call)
{
    std::lock_guard<std::mutex> hold(gLock);
    gCalls.push_back(std::move(call));
}
} // namespace

std::vector<Call>& Calls() { return gCalls; }

std::vector<Call> CallsNamed(const std::string& name)
{
    std::lock_guard<std::mutex> hold(gLock);
    std::vector<Call> out;
    for (const Call& c : gCalls)
        if (c.name == name)
            out.push_back(c);
    return out;
}

void Reset()
{
    std::lock_guard<std::mutex> hold(gLock);
    gCalls.clear();
    gFileField.clear();
    gChooserAnswer.reset();
    gOnWrite = nullptr;
    gOnMessage = nullptr;
    gOnWait = nullptr;
    gPortTakes = nullptr;
    gClock = 0;
}

void ClearCalls()
{
    std::lock_guard<std::mutex> hold(gLock);
    gCalls.clear();
}

void Attach(HWND hWnd, void* record)
{
    std::lock_guard<std::mutex> hold(gLock);
    gRecords[hWnd] = record;
}

void DetachAll()
{
    std::lock_guard<std::mutex> hold(gLock);
    gRecords.clear();
}

HWND FakeWindow(int n) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000 * n)); }

std::string Transcript()
{
    std::lock_guard<std::mutex> hold(gLock);
    std::string out;
    auto add = [&out](const std::string& token) { out += (out.empty() ? "" : " ") + token; };
    for (const Call& c : gCalls) {
        const std::string& n = c.name;
        if (n == "WriteCommBlock" || n == "WriteCommBytes") {
            std::string text;
            for (char ch : c.bytes)
                text += ch == '\r' ? std::string("\\r") : std::string(1, ch);
            add("w:" + text);
        } else if (n == "Status") add("s:" + c.bytes);
        else if (n == "Message") add("m:" + c.bytes + "/" + c.caption);
        else if (n == "ProgressRange") add("range:" + std::to_string(c.a));
        else if (n == "ProgressStep") add("step");
        else if (n == "Pause") add("pause:" + std::to_string(c.a));
        else if (n == "End") add("end");
        else if (n == "SetupConnection") add("setup:" + std::to_string(c.a));
        else if (n == "ClearCommOutput") add("clear");
        else if (n == "DrainCommOutput") add("drain");
        else if (n == "ChooseFile") add("choose");
        else if (n == "SetFileName") add("field:" + c.bytes);
        else if (n == "Enable") add("en:" + std::to_string(c.a) + "=" + std::to_string(c.b));
        else if (n == "Timer") add("timer:" + std::to_string(c.a));
    }
    return out;
}

} // namespace recorder

using recorder::Call;
using recorder::Make;
using recorder::Record;

NPTTYINFO GetTTYInfo(HWND hWnd)
{
    std::lock_guard<std::mutex> hold(recorder::gLock);
    auto it = recorder::gRecords.find(hWnd);
    return it == recorder::gRecords.end() ? NULL : static_cast<NPTTYINFO>(it->second);
}

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase)
{
    Call c = Make("InvalidateRect", hWnd, bErase);
    if (lpRect) {
        c.hasRect = true;
        c.rect = *lpRect;
    }
    Record(c);
    return TRUE;
}

BOOL WINAPI MessageBeep(UINT uType)
{
    Record(Make("MessageBeep", nullptr, (long)uType));
    return TRUE;
}

BOOL WINAPI CreateCaret(HWND hWnd, HBITMAP, int nWidth, int nHeight)
{
    Record(Make("CreateCaret", hWnd, nWidth, nHeight));
    return TRUE;
}

BOOL WINAPI ShowCaret(HWND hWnd)
{
    Record(Make("ShowCaret", hWnd));
    return TRUE;
}

BOOL WINAPI HideCaret(HWND hWnd)
{
    Record(Make("HideCaret", hWnd));
    return TRUE;
}

BOOL WINAPI DestroyCaret(void)
{
    Record(Make("DestroyCaret"));
    return TRUE;
}

BOOL WINAPI SetCaretPos(int X, int Y)
{
    Record(Make("SetCaretPos", nullptr, X, Y));
    return TRUE;
}

// The program's own operations that portable code calls but that live on the
// Win32 side.
BOOL SetupConnection(HWND hWnd, int nMode)
{
    Record(Make("SetupConnection", hWnd, nMode, gCondition));   // b: the phase it found
    return TRUE;
}

BOOL ClearCommOutput(HWND hWnd)
{
    Record(Make("ClearCommOutput", hWnd));
    return TRUE;
}

BOOL ClearCommInput(HWND hWnd)
{
    Record(Make("ClearCommInput", hWnd));
    return TRUE;
}

BOOL DrainCommOutput(HWND hWnd)
{
    Record(Make("DrainCommOutput", hWnd));
    return TRUE;
}

BOOL WriteCommBlock(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite)
{
    Call c = Make("WriteCommBlock", hWnd, (long)dwBytesToWrite);
    c.bytes.assign(reinterpret_cast<const char*>(lpByte), dwBytesToWrite);
    Record(c);
    if (recorder::gOnWrite)
        recorder::gOnWrite(c);
    return TRUE;
}

BOOL WriteCommBytes(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite, LPDWORD lpdwTaken)
{
    const recorder::Take take = recorder::gPortTakes ? recorder::gPortTakes(dwBytesToWrite)
                                                     : recorder::Take{ dwBytesToWrite, TRUE };
    *lpdwTaken = std::min(take.dwTaken, dwBytesToWrite);
    Call c = Make("WriteCommBytes", hWnd, (long)dwBytesToWrite, (long)*lpdwTaken);
    c.bytes.assign(reinterpret_cast<const char*>(lpByte), *lpdwTaken);
    Record(c);
    if (recorder::gOnWrite)
        recorder::gOnWrite(c);
    return take.fOk;
}

// The Install dialog's front end.
void InstallTimer(HWND hDlg, BOOL fRun) { Record(Make("Timer", hDlg, fRun)); }
void InstallEnable(HWND hDlg, int idControl, BOOL fEnable) { Record(Make("Enable", hDlg, idControl, fEnable)); }
void InstallProgressRange(HWND hDlg, WORD wMax) { Record(Make("ProgressRange", hDlg, wMax)); }
void InstallProgressStep(HWND hDlg) { Record(Make("ProgressStep", hDlg)); }
void InstallRepaint(HWND hDlg) { Record(Make("Repaint", hDlg)); }
void InstallPause(DWORD dwMilliseconds)
{
    const Call c = Make("Pause", nullptr, (long)dwMilliseconds);
    Record(c);
    if (recorder::gOnWait)
        recorder::gOnWait(c);
}
DWORD InstallClock(void) { return recorder::gClock; }
void InstallEnd(HWND hDlg) { Record(Make("End", hDlg)); }

void InstallSetStatus(HWND hDlg, LPCSTR lpszText)
{
    Call c = Make("Status", hDlg);
    c.bytes = lpszText;
    Record(c);
}

void InstallSetFileName(HWND hDlg, LPCSTR lpszName)
{
    Call c = Make("SetFileName", hDlg);
    c.bytes = lpszName;
    Record(c);
    recorder::gFileField = lpszName;
}

int InstallGetFileName(HWND, LPSTR lpszName, int cchMax)
{
    // As the edit control: cut to the buffer, always terminated.
    const std::string& s = recorder::gFileField;
    const int n = std::min((int)s.size(), cchMax - 1);
    s.copy(lpszName, n);
    lpszName[n] = '\0';
    return n;
}

void InstallMessage(HWND hOwner, LPCSTR lpszText, LPCSTR lpszCaption)
{
    Call c = Make("Message", hOwner);
    c.bytes = lpszText;
    c.caption = lpszCaption;
    Record(c);
    if (recorder::gOnMessage)
        recorder::gOnMessage(c);
}

BOOL InstallChooseFile(HWND hOwner, LPSTR lpszFile, DWORD cchFile)
{
    Call c = Make("ChooseFile", hOwner);
    c.bytes = lpszFile;   // what the chooser offers
    Record(c);
    if (recorder::gOnWait)
        recorder::gOnWait(c);
    if (!recorder::gChooserAnswer)
        return FALSE;
    std::snprintf(lpszFile, cchFile, "%s", recorder::gChooserAnswer->c_str());
    return TRUE;
}
