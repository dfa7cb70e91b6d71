// The Install dialog (Win32): the download's front end.
#ifndef ORVANE_INSTALLER_INSTALLDLG_H
#define ORVANE_INSTALLER_INSTALLDLG_H

#include "orvane/installer/install.h"

INT_PTR CALLBACK InstallDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

#endif
