#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "platform/PortTable.h"
#include "platform/posix/PortScan.h"

namespace vornic::platform {
namespace {

// The families of tty names that are serial ports, in the order they are offered: plug-in
// adapters first, since that is what a mount controller is usually hung on.
constexpr const char* kFamilies[] = {"ttyUSB", "ttyACM", "ttyS"};
constexpr int kFamilyCount = 3;
constexpr int kOnboardFamily = 2;

struct TtyName {
    int family = 0;
    unsigned long number = 0;
    std::string name;
};

// "ttyUSB3" -> family 0, number 3. Names with anything but digits after the family are not ports
// (ttyS0 yes, ttySAC0 or ttyUSB0.lock no).
bool parseTtyName(const char* name, TtyName& out) {
    for (int family = 0; family < kFamilyCount; ++family) {
        const size_t prefix = std::strlen(kFamilies[family]);
        if (std::strncmp(name, kFamilies[family], prefix) != 0) {
            continue;
        }
        const char* digits = name + prefix;
        if (*digits == '\0' || std::strspn(digits, "0123456789") != std::strlen(digits) ||
            std::strlen(digits) > 6) {
            return false;
        }
        out.family = family;
        out.number = std::strtoul(digits, nullptr, 10);
        out.name = name;
        return true;
    }
    return false;
}

std::string resolved(const std::string& path) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr) {
        return {};
    }
    return buffer;
}

// The kernel creates a ttyS node for every possible on-board UART, present or not; only those
// with a known UART type are real.
bool onboardPortExists(const std::string& devPath, const std::string& sysTtyDir,
                       const std::string& name) {
    std::ifstream typeFile(sysTtyDir + "/" + name + "/type");
    long type = 0;
    if (typeFile >> type) {
        return type != 0;
    }
#ifdef __linux__
    const int fd = ::open(devPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    serial_struct serial{};
    const bool known = ::ioctl(fd, TIOCGSERIAL, &serial) == 0 && serial.type != PORT_UNKNOWN;
    ::close(fd);
    return known;
#else
    (void)devPath;
    return false;
#endif
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
    std::snprintf(out, size, "/dev/ttyS%u", static_cast<unsigned>(number - 1));
}

std::vector<PortInfo> listSerialPortsIn(const std::string& devDir, const std::string& sysTtyDir) {
    std::vector<PortInfo> byId;
    const std::string byIdDir = devDir + "/serial/by-id";
    if (DIR* dir = ::opendir(byIdDir.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            PortInfo info;
            info.path = byIdDir + "/" + entry->d_name;
            info.target = resolved(info.path);
            if (!info.target.empty()) {  // a dangling link names a device that has gone
                byId.push_back(std::move(info));
            }
        }
        ::closedir(dir);
    }
    std::sort(byId.begin(), byId.end(),
              [](const PortInfo& a, const PortInfo& b) { return a.path < b.path; });

    std::vector<TtyName> ttys;
    if (DIR* dir = ::opendir(devDir.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            TtyName tty;
            if (parseTtyName(entry->d_name, tty)) {
                ttys.push_back(std::move(tty));
            }
        }
        ::closedir(dir);
    }
    std::sort(ttys.begin(), ttys.end(), [](const TtyName& a, const TtyName& b) {
        return a.family != b.family ? a.family < b.family : a.number < b.number;
    });

    std::vector<PortInfo> ports = byId;
    for (const TtyName& tty : ttys) {
        const std::string path = devDir + "/" + tty.name;
        const std::string target = resolved(path);
        const bool listed = std::any_of(byId.begin(), byId.end(), [&](const PortInfo& info) {
            return info.target == target || info.target == path;
        });
        if (listed) {
            continue;
        }
        if (tty.family == kOnboardFamily && !onboardPortExists(path, sysTtyDir, tty.name)) {
            continue;
        }
        ports.push_back(PortInfo{path, {}});
    }
    return ports;
}

std::vector<PortInfo> listSerialPorts() {
    return listSerialPortsIn("/dev", "/sys/class/tty");
}

}  // namespace vornic::platform
