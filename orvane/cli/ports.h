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

// Every port the machine has, in name order (platform).
std::vector<PortInfo> ListPorts();

// The device a port name stands for (a link resolved), or the name itself.
std::string PortDevice(const std::string& name);

// True when the port can be looked for without opening it: a character
// device on Linux, a COM port the system knows on Windows.  Otherwise a
// reason in *why (platform).
bool PortPresent(const std::string& name, std::string* why);

// --port usb:VID:PID[:SERIAL] and serial:SERIAL.
bool IsIdentity(const std::string& spec);
// Resolves an identity to the one port that has it.  None or more than one:
// false, with the reason and the candidates in *error.
bool ResolveIdentity(const std::string& spec, const std::vector<PortInfo>& ports, std::string* name,
                     std::string* error);

// One port as --list-ports shows it: a line, and the JSON event.
std::string PortText(const PortInfo& port);
std::string PortEvent(const PortInfo& port);

#endif
