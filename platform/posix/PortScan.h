#pragma once
// The serial port scan behind listSerialPorts(), with its two roots as parameters so that it can
// be run over a made-up device tree.

#include <string>
#include <vector>

#include "platform/PortTable.h"

namespace vornic::platform {

// devDir: where the tty nodes live, with the serial/by-id folder under it ("/dev").
// sysTtyDir: the kernel's per-tty attribute folders ("/sys/class/tty").
std::vector<PortInfo> listSerialPortsIn(const std::string& devDir, const std::string& sysTtyDir);

}  // namespace vornic::platform
