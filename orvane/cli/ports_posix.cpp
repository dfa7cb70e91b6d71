// The serial ports on Linux, from sysfs: every tty with a device behind it
// (USB adapters, UARTs that are there), its driver and, for USB, the
// adapter's vendor, product, serial number and strings; the udev links in
// /dev/serial/by-id and by-path that point at it.  Pseudo-terminals (module
// simulators, socat) are listed too, with the program that holds their
// master side.
//
// ORVANE_CLI_SYSROOT, when set, is put before /sys and /dev: the tests read a
// small tree that stands for a machine with adapters plugged in.
#include "orvane/cli/ports.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

std::string Root()
{
    const char* root = std::getenv("ORVANE_CLI_SYSROOT");
    return root ? root : "";
}

std::string ReadLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

fs::path Canonical(const fs::path& path)
{
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? fs::path() : p;
}

// The nearest driver above a device (the serial core's own "port" and "ctrl"
// drivers say nothing), and the USB device it hangs off, if any.
void ReadDevice(const fs::path& device, const fs::path& sys, PortInfo* port)
{
    for (fs::path dir = device; !dir.empty() && dir != sys && dir != dir.root_path(); dir = dir.parent_path()) {
        if (port->driver.empty()) {
            const fs::path driver = Canonical(dir / "driver");
            if (!driver.empty() && driver.filename() != "port" && driver.filename() != "ctrl")
                port->driver = driver.filename().string();
        }
        if (fs::exists(dir / "idVendor")) {
            port->kind = "usb";
            port->vid = ReadLine(dir / "idVendor");
            port->pid = ReadLine(dir / "idProduct");
            port->serial = ReadLine(dir / "serial");
            port->manufacturer = ReadLine(dir / "manufacturer");
            port->product = ReadLine(dir / "product");
            return;
        }
    }
}

// pty number -> "modsim (pid 1234)": whoever holds the master side.
std::map<std::string, std::string> PtyHolders()
{
    std::map<std::string, std::string> holders;
    std::error_code ec;
    for (const auto& proc : fs::directory_iterator("/proc", ec)) {
        const std::string pid = proc.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(proc.path() / "fd", fdError)) {
            std::error_code linkError;
            const std::string target = fs::read_symlink(fd.path(), linkError).string();
            if (linkError || (target != "/dev/ptmx" && target != "/dev/pts/ptmx"))
                continue;
            std::ifstream info(proc.path() / "fdinfo" / fd.path().filename());
            for (std::string line; std::getline(info, line);)
                if (line.rfind("tty-index:", 0) == 0) {
                    const std::string index = line.substr(line.find_first_not_of(" \t", 10));
                    holders[index] = "master held by " + ReadLine(proc.path() / "comm") + " (pid " + pid + ")";
                }
        }
    }
    return holders;
}

} // namespace

std::vector<PortInfo> ListPorts(bool describePtys)
{
    const std::string root = Root();
    const fs::path sys = root + "/sys", dev = root + "/dev";
    std::vector<PortInfo> ports;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sys / "class" / "tty", ec)) {
        const std::string tty = entry.path().filename().string();
        const fs::path device = Canonical(entry.path() / "device");
        if (device.empty())
            continue;   // consoles, virtual terminals
        // The kernel makes ttyS0..3 whether or not a UART is there.
        if (tty.rfind("ttyS", 0) == 0 && ReadLine(entry.path() / "type") == "0")
            continue;
        PortInfo port;
        port.name = (dev / tty).string();
        port.kind = tty.rfind("ttyS", 0) == 0 ? "uart" : "other";
        ReadDevice(device, Canonical(sys), &port);
        ports.push_back(port);
    }
    for (const char* folder : {"by-id", "by-path"})
        for (const auto& link : fs::directory_iterator(dev / "serial" / folder, ec)) {
            const fs::path target = Canonical(link.path());
            for (PortInfo& port : ports)
                if (!target.empty() && Canonical(port.name) == target)
                    port.links.push_back(link.path().string());
        }
    if (root.empty()) {
        const std::map<std::string, std::string> holders = describePtys ? PtyHolders() : std::map<std::string, std::string>();
        for (const auto& entry : fs::directory_iterator(dev / "pts", ec)) {
            const std::string n = entry.path().filename().string();
            if (n.find_first_not_of("0123456789") != std::string::npos)
                continue;
            PortInfo port;
            port.name = entry.path().string();
            port.kind = "pty";
            const auto holder = holders.find(n);
            port.description = holder == holders.end() ? "pseudo-terminal" : holder->second;
            ports.push_back(port);
        }
    }
    // ttyUSB2 before ttyUSB10
    auto key = [](const std::string& name) {
        const size_t digits = name.find_last_not_of("0123456789") + 1;
        return std::make_pair(name.substr(0, digits), digits < name.size() ? std::strtol(name.c_str() + digits, nullptr, 10) : -1L);
    };
    std::sort(ports.begin(), ports.end(), [&](const PortInfo& a, const PortInfo& b) { return key(a.name) < key(b.name); });
    for (PortInfo& port : ports)
        std::sort(port.links.begin(), port.links.end());
    return ports;
}

std::string PortDevice(const std::string& name)
{
    const fs::path device = Canonical(name);
    return device.empty() ? name : device.string();
}

bool PortPresent(const std::string& name, std::string* why)
{
    struct stat st {};
    if (stat(name.c_str(), &st) != 0) {
        *why = "no such port";
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        *why = "not a serial port";
        return false;
    }
    return true;
}
