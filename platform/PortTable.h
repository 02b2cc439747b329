#pragma once
// Maps the port numbers that travel in a connect message (1..256) to device paths.
//
// On Windows the number is the COM port number. Elsewhere the front ends fill the table with the
// devices they offer (the command line puts the path the user gave under number 1); a number that
// has no entry falls back to the platform's default naming. Thread-safe: filled on the UI thread,
// read on the worker thread.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Threads.h"

namespace vornic::platform {

class PortTable {
  public:
    static constexpr uint32_t kMaxPort = 256;

    void set(uint32_t number, const std::string& path);
    void clear();

    // Writes the device path of `number` into `out` (zero-terminated, cut to `size`). Returns false
    // for a number outside 1..256.
    bool pathFor(uint32_t number, char* out, size_t size) const;

  private:
    mutable Lock lock_;
    std::vector<std::pair<uint32_t, std::string>> entries_;
};

// The platform's default device path for a port number ("\\.\COM12" on Windows, "/dev/ttyS11"
// elsewhere).
void defaultPortPath(uint32_t number, char* out, size_t size);

// The device path for a port the user named on the command line. On Windows "COM5", "com5" and
// "5" all become "\\.\COM5" (the only form that reaches ports above 9); anything else, and every
// name elsewhere, is used as given.
std::string devicePathForName(const std::string& name);

struct PortInfo {
    std::string path;  // what to open: a /dev/serial/by-id name when there is one; COMn on Windows
    std::string target;     // what it points to (the tty device; Windows: the driver's device name)
    std::string name = {};  // what the system calls it ("USB Serial Port (COM5)"), "" if none
};

// The serial ports present on this machine, by-id names first; on Windows by COM number, with
// the names the device manager shows.
std::vector<PortInfo> listSerialPorts();

}  // namespace vornic::platform
