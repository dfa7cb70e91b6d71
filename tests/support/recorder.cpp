#include "tests/support/recorder.h"

#include <map>
#include <mutex>

namespace recorder {
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

} // namespace recorder

using recorder::Call;
using recorder::Make;
using recorder::Record;

LONG_PTR WINAPI GetWindowLongA(HWND hWnd, int nIndex)
{
    std::lock_guard<std::mutex> hold(recorder::gLock);
    if (nIndex != 0)
        return 0;
    auto it = recorder::gRecords.find(hWnd);
    return it == recorder::gRecords.end() ? 0 : reinterpret_cast<LONG_PTR>(it->second);
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
    Record(Make("SetupConnection", hWnd, nMode));
    return TRUE;
}

BOOL WriteCommBlock(HWND hWnd, LPBYTE lpByte, DWORD dwBytesToWrite)
{
    Call c = Make("WriteCommBlock", hWnd, (long)dwBytesToWrite);
    c.bytes.assign(reinterpret_cast<const char*>(lpByte), dwBytesToWrite);
    Record(c);
    return TRUE;
}
