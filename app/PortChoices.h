#pragma once
// The port list the desktop program offers, and the words for a port that cannot be opened.
//
// The dialog logic numbers its ports (item i is port number i + 1); on Linux the user picks a
// device, so the list shows the serial ports present (by-id names first, then the ttyUSB, ttyACM
// and ttyS devices), a port named on the command line if it is not among them, and last the
// built-in simulator. The port table maps each number to its device path. The list is never
// empty: the simulator is always offered.

#include <string>
#include <vector>

#include "platform/PortTable.h"
#include "platform/SerialPort.h"

namespace vornic {

struct PortChoice {
    std::string label;    // what the list shows
    std::string path;     // what is opened
    std::string toolTip;  // the full device path, and what a by-id name points to
};

struct PortChoices {
    std::vector<PortChoice> items;
    int selected = 0;
};

inline constexpr const char* kSimulatorLabel = "Simulator";

// `requestedPath`: a port given with --port, "" for none; selected when given.
// `simulatorPath`: the simulator's device, "" when it could not be started.
// `selectSimulator`: start with the simulator selected (--simulate).
[[nodiscard]] PortChoices buildPortChoices(const std::vector<platform::PortInfo>& present,
                                           const std::string& requestedPath,
                                           const std::string& simulatorPath, bool selectSimulator);

// Puts item i of `choices` under port number i + 1.
void fillPortTable(const PortChoices& choices, platform::PortTable& table);

// Why a port could not be opened, with what to do about it; the desktop program and the command
// line both say it this way. `shownPath` is the path as it may be shown (the caller quotes it).
[[nodiscard]] std::string describeOpenError(const std::string& shownPath,
                                            const platform::OpenResult& error);

}  // namespace vornic
