// Port names on Windows: COM port numbers, and the list of ports that the serial drivers have
// registered under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (value: driver device name, data: "COMn").

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/PortTable.h"

namespace vornic::platform {
namespace {

// Registry values come from drivers; a machine with more than this is not believable.
constexpr DWORD kMaxRegistryValues = 1024;

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

std::vector<PortInfo> listSerialPorts() {
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
        if (!info.path.empty()) {
            ports.push_back(std::move(info));
        }
    }
    RegCloseKey(key);
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
