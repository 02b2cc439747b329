#pragma once
// What the command line needs from the OS beyond the platform layer: one file per OS
// (cli/posix, cli/win32) implements it, together with WakePipe and the Ctrl-C handler declared
// in Reports.h and Session.h.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace vornic::cli {

// Once at start-up, before anything is printed.
void prepareProcess();

// The program's arguments as UTF-8. On Windows they are taken from the wide command line, so that
// a name in any script reaches the program whole rather than through the ANSI code page.
[[nodiscard]] std::vector<std::string> utf8Arguments(int argc, char** argv);

// Writes the UTF-8 `text` to `stream` (stdout or stderr): on a Windows console as UTF-16, so that
// every letter shows as it is; everywhere else, and when redirected, as its UTF-8 bytes. False
// when it could not all be written.
[[nodiscard]] bool writeText(std::FILE* stream, const std::string& text);

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
