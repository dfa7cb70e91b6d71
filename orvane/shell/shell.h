// The application shell (Win32 side): process entry, the main window and its
// commands, and the modal dialogs the main window runs.
#ifndef ORVANE_SHELL_SHELL_H
#define ORVANE_SHELL_SHELL_H

#include "orvane/orvane.h"

extern HACCEL ghAccel;   // accelerator table of the main window

BOOL InitApplication(HINSTANCE hInstance);
HWND InitInstance(HINSTANCE hInstance, int nCmdShow);
LRESULT CALLBACK TTYWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Runs one modal dialog owned by hWnd; returns once it has ended.
int GoModalDialogBoxParam(HINSTANCE hInstance, LPCSTR lpszTemplate, HWND hWnd,
                          DLGPROC lpDlgProc, LPARAM lParam);

INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

#endif
