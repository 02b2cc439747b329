#pragma once
// The port list the desktop program offers, and the words for a port that cannot be opened.
//
// The dialog logic numbers its ports (item i is port number i + 1); on Linux the user picks a
// device, so the list shows the serial ports present (by-id names first, then the ttyUSB, ttyACM
// and ttyS devices), a port named on the command line if it is not among them, and last the
// built-in simulator. The port table maps each number to its device path. The list is never
// empty: the simulator is always offered.

#include <cstdint>
#include <functional>
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

// The port list over the whole run of the program, rescanned whenever the user is about to look
// at it (a USB adapter plugged in after the start shows up without a restart).
//
// A port number keeps the device it was first given for the whole run: a device seen for the first
// time takes the lowest number never given out, one that went away keeps its number, and one that
// comes back gets its old number again. So the table entry of a number never changes once written,
// and the worker may read it for a connect at any time while the list is rescanned on the UI
// thread (the one exception: the simulator's entry is filled in when it starts, before the connect
// that needs it). The list shows the devices present in scan order, then the port named on the
// command line (always offered), then the selected or connected device if it went away (marked, so
// that the port in use is still shown), and last the simulator.
struct PortRow {
    uint32_t number = 0;  // the port number a connect sends: 1..256
    std::string label;
    std::string toolTip;
    bool operator==(const PortRow&) const = default;
};

class PortList {
  public:
    using Scan = std::function<std::vector<platform::PortInfo>()>;

    // Starts the built-in simulator; its device path, "" when it cannot be had.
    using StartSimulator = std::function<std::string()>;

    // Scans once and fills `table` (cleared first); the arguments are those of buildPortChoices.
    // `table` must outlive the list; `scan` runs on the calling thread only.
    PortList(Scan scan, platform::PortTable& table, const std::string& requestedPath,
             const std::string& simulatorPath, bool selectSimulator);
    // The same with a simulator that is not running yet: it is offered all the same, and started
    // only once it is chosen, at once with `selectSimulator`, else when the user connects to it.
    // Until then its number leads to no device, and a start that fails is tried again on the next
    // connect.
    PortList(Scan scan, platform::PortTable& table, const std::string& requestedPath,
             StartSimulator startSimulator, bool selectSimulator);

    [[nodiscard]] const std::vector<PortRow>& rows() const { return rows_; }
    // The number selected at the start.
    [[nodiscard]] uint32_t initialNumber() const { return initial_; }
    // The device behind `number`, "" for a number never given out.
    [[nodiscard]] std::string pathOf(uint32_t number) const;

    // Scans again. The entry of port `selected` (0 for none), and that of the port last connected
    // to while the connection lasts, stay in the list even when their device is gone. Returns true
    // when the rows changed.
    bool rescan(uint32_t selected);

    // The user connects to port `number`; its entry is held until connectionEnded(). Starts the
    // simulator when it is the one chosen and not running yet; called before the connect goes to
    // the worker, so that the worker finds its device in the table.
    void connecting(uint32_t number);
    // The connection closed, or its port could not be opened.
    void connectionEnded() { connected_ = 0; }

  private:
    PortList(Scan scan, platform::PortTable& table, const std::string& requestedPath,
             StartSimulator startSimulator, bool selectSimulator, bool startNow);
    uint32_t numberFor(const std::string& path);
    void pushRow(uint32_t number, PortChoice choice);
    [[nodiscard]] std::string simulatorToolTip() const;

    Scan scan_;
    platform::PortTable& table_;
    std::vector<std::string> paths_;  // paths_[n - 1]: the device of port number n, for good
    std::string requested_;
    StartSimulator startSimulator_;
    std::string simulator_;         // its device, "" until it runs
    uint32_t simulatorNumber_ = 0;  // 0: no simulator offered
    std::vector<PortRow> rows_;
    uint32_t initial_ = 0;
    uint32_t connected_ = 0;
};

// Why a port could not be opened, with what to do about it; the desktop program and the command
// line both say it this way. `shownPath` is the path as it may be shown (the caller quotes it).
[[nodiscard]] std::string describeOpenError(const std::string& shownPath,
                                            const platform::OpenResult& error);

}  // namespace vornic
