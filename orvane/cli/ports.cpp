// --port's identity forms and how a port is shown; the lists themselves come
// from ports_posix.cpp or ports_win.cpp.
#include "orvane/cli/ports.h"

#include "orvane/cli/events.h"
#include "orvane/cli/options.h"

#include <cctype>
#include <cstdio>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = char(std::tolower((unsigned char)c));
    return text;
}

bool IsHex4(const std::string& text)
{
    if (text.size() != 4)
        return false;
    for (char c : text)
        if (!std::isxdigit((unsigned char)c))
            return false;
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// A port with an identity, for the list of candidates.
std::string Candidate(const PortInfo& p)
{
    std::string text = "    " + p.name;
    if (!p.vid.empty())
        text += "  usb:" + p.vid + ":" + p.pid + (p.serial.empty() ? "" : ":" + p.serial);
    else if (!p.serial.empty())
        text += "  serial:" + p.serial;
    if (!p.product.empty() || !p.description.empty())
        text += "  " + (p.product.empty() ? p.description : p.product);
    return text;
}

// usb:VID:PID[:SERIAL] or serial:SERIAL, taken apart; false with what to
// write instead.
struct IDENTITY
{
    std::string vid, pid, serial;
};

bool ParseIdentity(const std::string& spec, IDENTITY* id, std::string* error)
{
    const std::vector<std::string> parts = Split(spec, ':');
    if (parts[0] == "usb" && (parts.size() == 3 || parts.size() == 4) && IsHex4(parts[1]) && IsHex4(parts[2])) {
        id->vid = Lower(parts[1]);
        id->pid = Lower(parts[2]);
        id->serial = parts.size() == 4 ? parts[3] : "";
        if (parts.size() == 4 && id->serial.empty()) {
            *error = spec + ": an empty serial number";
            return false;
        }
        return true;
    }
    if (parts[0] == "serial" && parts.size() == 2 && !parts[1].empty()) {
        id->serial = parts[1];
        return true;
    }
    *error = spec + ": write usb:VID:PID, usb:VID:PID:SERIAL (VID and PID four hex digits) or serial:SERIAL";
    return false;
}

bool HasIdentity(const PortInfo& p, const IDENTITY& id)
{
    return (id.vid.empty() || (p.vid == id.vid && p.pid == id.pid)) &&
           (id.serial.empty() || Lower(p.serial) == Lower(id.serial));
}

} // namespace

std::string AdapterIdentity(const std::string& port, const std::vector<PortInfo>& ports)
{
    const std::string device = PortDevice(port);
    for (const PortInfo& p : ports) {
        if (p.name != port && PortDevice(p.name) != device)
            continue;
        if (!p.vid.empty())
            return p.vid + ":" + p.pid + (p.serial.empty() ? "" : ":" + p.serial);
        return p.serial;
    }
    return std::string();
}

std::string AdapterSerial(const std::string& port, const std::vector<PortInfo>& ports)
{
    const std::string device = PortDevice(port);
    for (const PortInfo& p : ports)
        if (p.name == port || PortDevice(p.name) == device)
            return p.serial;
    return std::string();
}

bool MatchesText(const std::string& pattern, const std::string& text)
{
    // Iterative glob: the last * seen can take one more character on a miss.
    size_t p = 0, t = 0, star = std::string::npos, mark = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool MatchesPort(const std::string& match, const PortInfo& port)
{
    if (IsIdentity(match)) {
        IDENTITY id;
        std::string error;
        return ParseIdentity(match, &id, &error) && HasIdentity(port, id);
    }
#ifdef _WIN32
    const std::string name = Lower(port.name), pattern = Lower(match);   // COM names know no case
    if (MatchesText(pattern, name))
        return true;
#else
    if (MatchesText(match, port.name))
        return true;
#endif
    for (const std::string& link : port.links)
        if (MatchesText(match, link))
            return true;
    return false;
}

bool IsIdentity(const std::string& spec)
{
    return spec.rfind("usb:", 0) == 0 || spec.rfind("serial:", 0) == 0;
}

bool IdentityOk(const std::string& spec, std::string* error)
{
    IDENTITY id;
    return ParseIdentity(spec, &id, error);
}

bool ResolveIdentity(const std::string& spec, const std::vector<PortInfo>& ports, std::string* name,
                     std::string* error)
{
    IDENTITY id;
    if (!ParseIdentity(spec, &id, error)) {
        *error = "--port " + *error;
        return false;
    }
    std::vector<const PortInfo*> matches, known;
    for (const PortInfo& p : ports) {
        if (!p.vid.empty() || !p.serial.empty())
            known.push_back(&p);
        if (HasIdentity(p, id))
            matches.push_back(&p);
    }
    if (matches.size() == 1) {
        *name = matches[0]->name;
        return true;
    }
    const std::vector<const PortInfo*>& shown = matches.empty() ? known : matches;
    *error = "--port " + spec + (matches.empty() ? " matches no port" : " matches " + std::to_string(matches.size()) +
                                                                            " ports; name one (by serial number or "
                                                                            "by its device)");
    *error += shown.empty() ? "; no port here has a USB identity or a serial number"
                            : std::string(matches.empty() ? "; the ports with an identity:" : ":");
    for (const PortInfo* p : shown)
        (*error += '\n') += Candidate(*p);
    return false;
}

std::string PortText(const PortInfo& p)
{
    std::string text = p.name + "  " + p.kind;
    if (!p.driver.empty())
        text += "  driver " + p.driver;
    if (!p.vid.empty())
        text += "  usb:" + p.vid + ":" + p.pid;
    if (!p.serial.empty())
        text += "  serial " + p.serial;
    if (!p.manufacturer.empty() || !p.product.empty())
        text += "  \"" + p.manufacturer + (p.manufacturer.empty() || p.product.empty() ? "" : " ") + p.product + "\"";
    if (!p.description.empty())
        text += "  " + p.description;
    for (const std::string& link : p.links)
        text += "\n    " + link;
    return text;
}

std::string PortEvent(const PortInfo& p)
{
    return JsonObject::Event("port")
        .Str("port", p.name)
        .Str("device", PortDevice(p.name))
        .Str("kind", p.kind)
        .StrOrNull("driver", p.driver)
        .StrOrNull("vid", p.vid)
        .StrOrNull("pid", p.pid)
        .StrOrNull("serial", p.serial)
        .StrOrNull("manufacturer", p.manufacturer)
        .StrOrNull("product", p.product)
        .StrOrNull("description", p.description)
        .Strs("links", p.links)
        .Done();
}

int ListPortsCommand(bool json)
{
    const std::vector<PortInfo> ports = ListPorts();
    for (const PortInfo& p : ports)
        std::printf("%s\n", (json ? PortEvent(p) : PortText(p)).c_str());
    if (!json && ports.empty())
        std::printf("no serial ports\n");
    return kExitInstalled;
}
