#pragma once
// The command line of vornic-cli: options and commands, checked completely before anything is
// opened, so that every usage error ends the program with status 2 and touches no controller.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Operations.h"
#include "cli/SetCommand.h"

namespace vornic::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Invocation {
    std::string command;  // ports, info, do, move, stop, track, voltage, save, reload-defaults,
                          // set, sync, park, backup, diff, restore

    // Global options.
    std::string port;
    bool simulate = false;
    uint32_t simulateLevel = 6;
    uint32_t baud = 9600;
    bool json = false;
    bool trace = false;
    double timeoutSeconds = 15.0;

    std::vector<OpCall> operations;  // do
    uint32_t direction = 0;          // move
    uint32_t speed = 10;             // move: the dialog's speed slider starts at 10
    double seconds = -1.0;           // move: negative means until Ctrl-C
    bool trackOn = false;            // track
    SetRequest set;                  // set
    uint32_t positionCode = 4;       // sync
    std::string file;                // backup, diff, restore
    bool save = false;               // restore
    bool keepPartial = false;        // restore: keep what took when something did not
    bool otherController = false;    // restore: the file may come from another controller

    [[nodiscard]] bool needsController() const { return command != "ports"; }
};

struct ParseResult {
    int exitCode = -1;   // -1: go on and run; otherwise exit at once with this status
    std::string output;  // help text for stdout
    std::string error;   // usage error for stderr
};

// Guarantees for hostile input (asserted by the command-line fuzz target): no exception escapes;
// the exit code is -1 (go on), 0 (help) or 2 (usage error); a usage error is printable text of
// bounded length that quotes what was typed escaped and cut short; an accepted command line has
// a known command, one controller (port or simulator) when it needs one, a baud rate of 9600 or
// 115200, a finite time-out, and only values that its command can use.
ParseResult parseCommandLine(int argc, const char* const* argv, Invocation& invocation);

// The reference position code for a sync argument: a code 4..13 or a position name as the
// Initialize telescope dialog lists it, case-insensitive, words joined by anything
// ("west-side-equator", "West side - Equator"). Returns nothing for an unknown position.
std::optional<uint32_t> positionCodeFor(const std::string& text);
// The dialog's name of a reference position code 4..13, or "".
const char* positionName(uint32_t code);

}  // namespace vornic::cli
