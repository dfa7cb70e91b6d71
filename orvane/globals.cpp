#include "orvane/orvane.h"

// The main window; set by WinMain once the window exists, NULL before.
std::atomic<HWND> hTTYWnd{NULL};

CHAR gszAppName[46] = ORVANE_APP_TITLE;
CHAR gszTTYClass[12] = "TTYWndClass";
static_assert(sizeof(ORVANE_APP_TITLE) == sizeof(gszAppName), "the title fills its array");
