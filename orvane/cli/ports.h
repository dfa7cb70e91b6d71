// The machine's serial ports and what identifies each (--list-ports), and
// --port's identity forms resolved to exactly one of them.  ports.cpp is
// portable; ports_posix.cpp reads sysfs and /dev, ports_win.cpp the system's
// device information.
#ifndef ORVANE_CLI_PORTS_H
#define ORVANE_CLI_PORTS_H

#include <string>
#include <vector>

struct PortInfo
{
    std::string name;           // what --port takes: /dev/ttyUSB0, COM12
    std::string kind;           // "usb", "uart", "pty" or "other"
    std::string driver;
    std::string vid, pid;       // four lowercase hex digits; empty when not USB
    std::string serial, manufacturer, product;
    std::string description;    // Windows' friendly name; a pty's master holder
    std::vector<std::string> links;   // /dev/serial/by-id and by-path links to it
};

// Every port the machine has, in name order (platform).  Without
// describePtys a pseudo-terminal's master holder is not looked for (that
// reads every process's open files).
std::vector<PortInfo> ListPorts(bool describePtys = true);

// The adapter a port is on, as VID:PID:SERIAL (VID:PID without a serial
// number, SERIAL alone without USB), or "" when nothing identifies it.
std::string AdapterIdentity(const std::string& port, const std::vector<PortInfo>& ports);

// The serial number of the adapter a port is on, or "".
std::string AdapterSerial(const std::string& port, const std::vector<PortInfo>& ports);

// A port that --watch's --match names: usb:VID:PID[:SERIAL] and serial:SERIAL
// by its identity, any other text as a pattern (* and ?) on its name or one
// of its links.
bool MatchesPort(const std::string& match, const PortInfo& port);
bool MatchesText(const std::string& pattern, const std::string& text);

// The device a port name stands for (a link resolved), or the name itself.
std::string PortDevice(const std::string& name);

// True when the port can be looked for without opening it: a character
// device on Linux, a COM port the system knows on Windows.  Otherwise a
// reason in *why (platform).
bool PortPresent(const std::string& name, std::string* why);

// --port usb:VID:PID[:SERIAL] and serial:SERIAL.
bool IsIdentity(const std::string& spec);
// An identity written as it should be; otherwise false with what to write.
bool IdentityOk(const std::string& spec, std::string* error);
// Resolves an identity to the one port that has it.  None or more than one:
// false, with the reason and the candidates in *error.
bool ResolveIdentity(const std::string& spec, const std::vector<PortInfo>& ports, std::string* name,
                     std::string* error);

// One port as --list-ports shows it: a line, and the JSON event.
std::string PortText(const PortInfo& port);
std::string PortEvent(const PortInfo& port);

// --list-ports: every port, a line or an event each; the exit code.
int ListPortsCommand(bool json);

#endif
