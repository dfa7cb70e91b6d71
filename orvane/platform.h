// The seam between portable logic and Win32: under mingw the real <windows.h>,
// natively the short list of types, constants and functions the portable
// files may touch (orvane/compat/win32.h).
#ifndef ORVANE_PLATFORM_H
#define ORVANE_PLATFORM_H

#ifdef _WIN32
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#else
#  include "orvane/compat/win32.h"
#endif

#endif
