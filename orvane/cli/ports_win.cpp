// The serial ports on Windows: the Ports class of the device information
// (SetupAPI) for the COM name, friendly name, hardware id (VID and PID),
// driver, maker and the serial number in the instance id of a USB adapter;
// then the serial device map for ports that class does not show (virtual
// ports, and everything under Wine, which keeps no device information for
// its COM ports).
#include "orvane/cli/ports.h"

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdlib>

namespace {

std::string Property(HDEVINFO hInfo, SP_DEVINFO_DATA* pData, DWORD dwProperty)
{
    CHAR szValue[1024] = "";
    DWORD dwType = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(hInfo, pData, dwProperty, &dwType, (PBYTE)szValue, sizeof(szValue) - 2,
                                           NULL))
        return std::string();
    return szValue;   // the first string of a list
}

// "...VID_0403&PID_6001..." -> the four hex digits after the tag.
std::string HexAfter(const std::string& text, const char* tag)
{
    std::string upper = text;
    for (char& c : upper)
        c = char(std::toupper((unsigned char)c));
    const size_t at = upper.find(tag);
    if (at == std::string::npos || at + std::strlen(tag) + 4 > upper.size())
        return std::string();
    std::string hex = upper.substr(at + std::strlen(tag), 4);
    for (char& c : hex)
        c = char(std::tolower((unsigned char)c));
    return hex;
}

void FromDeviceInformation(std::vector<PortInfo>* ports)
{
    HDEVINFO hInfo = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, NULL, NULL, DIGCF_PRESENT);
    if (hInfo == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA data;
    data.cbSize = sizeof(data);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(hInfo, i, &data); ++i) {
        CHAR szName[64] = "";
        HKEY hKey = SetupDiOpenDevRegKey(hInfo, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (hKey != INVALID_HANDLE_VALUE) {
            DWORD cb = sizeof(szName) - 1, dwType = 0;
            RegQueryValueExA(hKey, "PortName", NULL, &dwType, (LPBYTE)szName, &cb);
            RegCloseKey(hKey);
        }
        if (_strnicmp(szName, "COM", 3) != 0)
            continue;   // a printer port
        PortInfo port;
        port.name = szName;
        port.description = Property(hInfo, &data, SPDRP_FRIENDLYNAME);
        port.manufacturer = Property(hInfo, &data, SPDRP_MFG);
        port.driver = Property(hInfo, &data, SPDRP_SERVICE);
        const std::string hardware = Property(hInfo, &data, SPDRP_HARDWAREID);
        port.vid = HexAfter(hardware, "VID_");
        port.pid = port.vid.empty() ? std::string() : HexAfter(hardware, "PID_");
        port.kind = !port.vid.empty() ? "usb" : hardware.find("PNP0501") != std::string::npos ? "uart" : "other";
        CHAR szInstance[512] = "";
        if (SetupDiGetDeviceInstanceIdA(hInfo, &data, szInstance, sizeof(szInstance), NULL)) {
            // USB\VID_0403&PID_6001\A1B2C3D4: the last part is the adapter's
            // serial number, unless Windows made one up (it holds '&').
            const std::string instance = szInstance;
            const std::string last = instance.substr(instance.find_last_of('\\') + 1);
            if (!port.vid.empty() && last.find('&') == std::string::npos)
                port.serial = last;
        }
        ports->push_back(port);
    }
    SetupDiDestroyDeviceInfoList(hInfo);
}

void FromDeviceMap(std::vector<PortInfo>* ports)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        CHAR szDevice[256], szName[64];
        DWORD cchDevice = sizeof(szDevice), cbName = sizeof(szName) - 1, dwType = 0;
        if (RegEnumValueA(hKey, i, szDevice, &cchDevice, NULL, &dwType, (LPBYTE)szName, &cbName) != ERROR_SUCCESS)
            break;
        szName[cbName] = '\0';
        if (dwType != REG_SZ || _strnicmp(szName, "COM", 3) != 0)
            continue;
        const bool known = std::any_of(ports->begin(), ports->end(),
                                       [&](const PortInfo& p) { return _stricmp(p.name.c_str(), szName) == 0; });
        if (known)
            continue;
        PortInfo port;
        port.name = szName;
        port.kind = "other";
        port.description = szDevice;
        ports->push_back(port);
    }
    RegCloseKey(hKey);
}

} // namespace

std::vector<PortInfo> ListPorts(bool)
{
    std::vector<PortInfo> ports;
    FromDeviceInformation(&ports);
    FromDeviceMap(&ports);
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        return std::atoi(a.name.c_str() + 3) < std::atoi(b.name.c_str() + 3);
    });
    return ports;
}

std::string PortDevice(const std::string& name)
{
    return "\\\\.\\" + name;
}

bool PortPresent(const std::string& name, std::string* why)
{
    CHAR szTarget[1024];
    if (QueryDosDeviceA(name.c_str(), szTarget, sizeof(szTarget)) != 0)
        return true;
    *why = "no such port";
    return false;
}
