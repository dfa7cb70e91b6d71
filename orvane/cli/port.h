// The port of one orvane-cli process, behind the record the installer core
// reaches through hTTYWnd: OpenConnection, SetupConnection, CloseConnection
// and WriteCommBlock (orvane.h) with a watcher that hands every received
// block on.  port_win.cpp uses orvane.exe's own link on a hidden window;
// port_posix.cpp opens a terminal device with termios.
#ifndef ORVANE_CLI_PORT_H
#define ORVANE_CLI_PORT_H

#include "orvane/orvane.h"

#include <string>

// Makes the record for the port and points hTTYWnd at it; the rates are the
// normal one (dwBaudRate, mode 1) and the installation one (dwBaudRateDown,
// mode 0).  Returns the handle the dialog functions get.
HWND PortAttach(const std::string& name, DWORD dwNormalRate, DWORD dwInstallRate);
// Opens it at the normal rate, with the watcher running.  False with a
// reason when it cannot.
bool PortOpen(std::string* error);
void PortClose();
void PortDetach();

// The port went away: an adapter unplugged, a line hung up, a handle that
// fails.  Cheap enough to ask every tick.
bool PortGone();

// Every received block goes here before the reply parser (AppendReceived).
void PortSetTap(void (*pfnTap)(const BYTE* lpBlock, int nLength));

// Empties the receive buffers for a new unit (ResetReceiveState), never in
// the middle of a block being read: such a block would hold bytes from both
// sides of the reset (the module's answer to the new unit's first carriage
// returns among them) and be dropped whole.
void PortResetReceive();

// Waits about ms; on Windows the hidden window's messages are handled meanwhile.
void PortWait(int ms);

#endif
