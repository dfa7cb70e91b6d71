#include "orvane/orvane.h"

// The main window; set by WinMain once the window exists, NULL before.
HWND hTTYWnd = NULL;
