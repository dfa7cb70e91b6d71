// Native (non-Windows) builds only: the Win32 types, constants and functions
// that the portable files may use.  Types and layouts are close enough for
// the logic; nothing here imitates Win32 behaviour.  The functions are
// provided by the test support library as recorders.
//
// Keep this list short: it is the whole surface the portable code touches.
#ifndef ORVANE_COMPAT_WIN32_H
#define ORVANE_COMPAT_WIN32_H

#ifdef _WIN32
#  error "use <windows.h> on Windows"
#endif

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define TRUE  1
#define FALSE 0

typedef int            BOOL;
typedef unsigned char  BYTE;
typedef unsigned short WORD;
typedef uint32_t       DWORD;
typedef int32_t        LONG;
typedef unsigned int   UINT;
typedef intptr_t       LONG_PTR;
typedef uintptr_t      ULONG_PTR;
typedef LONG_PTR       LRESULT;
typedef ULONG_PTR      WPARAM;
typedef LONG_PTR       LPARAM;
typedef DWORD          COLORREF;
typedef char           CHAR;
typedef char*          LPSTR;
typedef const char*    LPCSTR;
typedef BYTE*          LPBYTE;
typedef DWORD*         LPDWORD;
typedef void*          HANDLE;

struct HWND__;   typedef HWND__*   HWND;
struct HFONT__;  typedef HFONT__*  HFONT;
struct HBITMAP__; typedef HBITMAP__* HBITMAP;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

typedef struct tagRECT { LONG left, top, right, bottom; } RECT;
typedef const RECT* LPCRECT;

#define LF_FACESIZE 32
typedef struct tagLOGFONTA
{
    LONG lfHeight, lfWidth, lfEscapement, lfOrientation, lfWeight;
    BYTE lfItalic, lfUnderline, lfStrikeOut, lfCharSet;
    BYTE lfOutPrecision, lfClipPrecision, lfQuality, lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA;

typedef struct _OVERLAPPED
{
    ULONG_PTR Internal, InternalHigh;
    DWORD     Offset, OffsetHigh;
    HANDLE    hEvent;
} OVERLAPPED;

// The line settings of a port.
typedef struct _DCB
{
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1, fParity : 1, fOutxCtsFlow : 1, fOutxDsrFlow : 1, fDtrControl : 2,
          fDsrSensitivity : 1, fTXContinueOnXoff : 1, fOutX : 1, fInX : 1, fErrorChar : 1,
          fNull : 1, fRtsControl : 2, fAbortOnError : 1, fDummy2 : 17;
    WORD  wReserved, XonLim, XoffLim;
    BYTE  ByteSize, Parity, StopBits;
    char  XonChar, XoffChar, ErrorChar, EofChar, EvtChar;
    WORD  wReserved1;
} DCB;

#define DTR_CONTROL_DISABLE   0
#define DTR_CONTROL_ENABLE    1
#define DTR_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_DISABLE   0
#define RTS_CONTROL_ENABLE    1
#define RTS_CONTROL_HANDSHAKE 2

// The edit control's notice that its text is about to change.
#define EN_UPDATE 0x0400

// Scroll-bar commands.
#define SB_LINEUP        0
#define SB_LINELEFT      0
#define SB_LINEDOWN      1
#define SB_LINERIGHT     1
#define SB_PAGEUP        2
#define SB_PAGELEFT      2
#define SB_PAGEDOWN      3
#define SB_PAGERIGHT     3
#define SB_THUMBPOSITION 4
#define SB_THUMBTRACK    5
#define SB_TOP           6
#define SB_LEFT          6
#define SB_BOTTOM        7
#define SB_RIGHT         7
#define SB_ENDSCROLL     8

// Functions the portable code calls (recorded natively).
BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
BOOL WINAPI MessageBeep(UINT uType);
BOOL WINAPI CreateCaret(HWND hWnd, HBITMAP hBitmap, int nWidth, int nHeight);
BOOL WINAPI ShowCaret(HWND hWnd);
BOOL WINAPI HideCaret(HWND hWnd);
BOOL WINAPI DestroyCaret(void);
BOOL WINAPI SetCaretPos(int X, int Y);

#endif
