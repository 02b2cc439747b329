#pragma once
// What the command line needs from the OS beyond the platform layer: one file per OS
// (cli/posix, cli/win32) implements it, together with WakePipe and the Ctrl-C handler declared
// in Reports.h and Session.h.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace vornic::cli {

// Once at start-up, before anything is printed.
void prepareProcess();

// A simulated controller on a device of its own, for --simulate.
class BuiltInSimulator {
  public:
    virtual ~BuiltInSimulator() = default;
    [[nodiscard]] virtual std::string devicePath() const = 0;
    virtual void stop() = 0;
};

// Starts one at the feature level; null with the reason in `error` when it cannot be had (on
// Windows never: it needs a pseudo-terminal).
std::unique_ptr<BuiltInSimulator> startBuiltInSimulator(uint32_t level, std::string& error);

}  // namespace vornic::cli
