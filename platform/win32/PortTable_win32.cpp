// Port names on Windows: COM port numbers, and the ports present. Those come from the device
// manager's class of ports, with the names it shows ("USB Serial Port (COM5)"), and from the list
// the serial drivers keep under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (value: driver device name,
// data: "COMn"), which also holds ports the device manager does not know (Wine's among them).

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/PortTable.h"

namespace vornic::platform {
namespace {

// Registry values and devices come from drivers; a machine with more than this is not believable.
constexpr DWORD kMaxRegistryValues = 1024;
constexpr DWORD kMaxDevices = 1024;

// The device manager's class "Ports (COM & LPT)".
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string utf8(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return {};
    }
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.pop_back();  // the terminator
    return out;
}

// "COM12" (any case) or "12" -> 12; 0 for anything else, or a number outside 1..256.
uint32_t comNumber(const std::string& name) {
    size_t i = 0;
    if (name.size() > 3 && (name[0] == 'C' || name[0] == 'c') &&
        (name[1] == 'O' || name[1] == 'o') && (name[2] == 'M' || name[2] == 'm')) {
        i = 3;
    }
    if (i == name.size() || name.size() - i > 3) {
        return 0;
    }
    uint32_t number = 0;
    for (; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return 0;
        }
        number = number * 10 + static_cast<uint32_t>(name[i] - '0');
    }
    return number >= 1 && number <= PortTable::kMaxPort ? number : 0;
}

}  // namespace

void defaultPortPath(uint32_t number, char* out, size_t size) {
    if (out == nullptr || size == 0) {
        return;
    }
    if (number == 0) {
        out[0] = '\0';
        return;
    }
    // The same form for every number: "COM10" and above can only be opened this way.
    std::snprintf(out, size, "\\\\.\\COM%u", static_cast<unsigned>(number));
}

std::string devicePathForName(const std::string& name) {
    const uint32_t number = comNumber(name);
    if (number == 0) {
        return name;
    }
    char path[32];
    defaultPortPath(number, path, sizeof path);
    return path;
}

namespace {

// The COM ports the device manager has present, with their names. Printer ports share the class
// and are left out.
std::vector<PortInfo> devicePorts() {
    std::vector<PortInfo> ports;
    const HDEVINFO devices = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return ports;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; index < kMaxDevices && SetupDiEnumDeviceInfo(devices, index, &device);
         ++index) {
        const HKEY key =
            SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        wchar_t portName[32] = {};
        DWORD size = sizeof portName - sizeof(wchar_t);  // room for a missing terminator
        DWORD type = 0;
        const LONG read = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                           reinterpret_cast<BYTE*>(portName), &size);
        RegCloseKey(key);
        if (read != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        PortInfo info;
        info.path = utf8(portName);
        if (comNumber(info.path) == 0) {
            continue;
        }
        wchar_t friendly[256] = {};
        if (SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, &type,
                                              reinterpret_cast<BYTE*>(friendly),
                                              sizeof friendly - sizeof(wchar_t), nullptr) &&
            type == REG_SZ) {
            info.name = utf8(friendly);
        }
        ports.push_back(std::move(info));
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

// The ports the serial drivers have registered.
std::vector<PortInfo> registeredPorts() {
    std::vector<PortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return ports;  // no serial driver has registered a port
    }
    for (DWORD index = 0; index < kMaxRegistryValues; ++index) {
        char valueName[256];
        DWORD nameLength = sizeof valueName;
        BYTE data[256];
        DWORD dataLength = sizeof data - 1;  // room for a terminator the driver may have left out
        DWORD type = 0;
        const LONG result =
            RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type, data, &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;  // too long to be a port name, or not text
        }
        data[std::min<DWORD>(dataLength, sizeof data - 1)] = 0;
        PortInfo info;
        info.path = reinterpret_cast<const char*>(data);
        info.target.assign(valueName, std::min<DWORD>(nameLength, sizeof valueName - 1));
        info.name = info.path;  // no better name known
        if (!info.path.empty()) {
            ports.push_back(std::move(info));
        }
    }
    RegCloseKey(key);
    return ports;
}

}  // namespace

std::vector<PortInfo> listSerialPorts() {
    std::vector<PortInfo> ports = devicePorts();
    for (PortInfo& port : registeredPorts()) {
        const auto known = std::find_if(ports.begin(), ports.end(), [&](const PortInfo& p) {
            return comNumber(p.path) == comNumber(port.path) && comNumber(p.path) != 0;
        });
        if (known == ports.end()) {
            ports.push_back(std::move(port));
            continue;
        }
        if (known->target.empty()) {
            known->target = port.target;
        }
        if (known->name.empty()) {
            known->name = known->path;
        }
    }
    // COM2 before COM10; names that are not COMn go last, in name order.
    std::sort(ports.begin(), ports.end(), [](const PortInfo& a, const PortInfo& b) {
        const uint32_t na = comNumber(a.path);
        const uint32_t nb = comNumber(b.path);
        if ((na == 0) != (nb == 0)) {
            return na != 0;
        }
        return na != nb ? na < nb : a.path < b.path;
    });
    return ports;
}

}  // namespace vornic::platform
