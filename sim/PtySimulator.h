// Puts a simulated KZ2 on a pseudo-terminal, so that any program that opens a serial device can
// talk to it.
//
// Design note. One thread owns the master side: it waits in poll() on the master and on a stop
// pipe, feeds what the host writes into the `SimulatedController`, and writes replies as they fall
// due. The simulator keeps a descriptor of the slave side open for as long as the line is up, so
// the master does not report a hang-up each time the host closes the port and the host can
// reconnect at will. The hang-up fault closes both sides (and removes the link), which the host
// sees exactly like an unplugged USB adapter. Everything the thread touches is its own until
// stop() has joined it; only the `hungUp` flag is shared.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "sim/Faults.h"
#include "sim/Kz2Device.h"
#include "sim/SimulatedController.h"

namespace vornic::sim {

// Everything that makes up one simulated controller on a line.
struct SimSetup {
    DeviceIdentity identity{};
    ConfigImage factory = factoryImage();
    // What the controller's non-volatile memory holds when it is switched on.
    ConfigImage stored = factoryImage();
    uint16_t supplyVoltage = 1234;
    FaultPlan faults{};
    uint32_t seed = 1;
    // A symbolic link made to point at the slave device; empty: none.
    std::string linkPath;
    // Where requests and replies are traced; nullptr: no trace.
    std::FILE* trace = nullptr;
    // Called on the simulator's thread each time the controller is asked to store its
    // configuration; false when it could not be kept (the store is then not acknowledged).
    std::function<bool(const ConfigImage&)> onStore;
};

class PtySimulator {
  public:
    explicit PtySimulator(SimSetup setup);
    ~PtySimulator();
    PtySimulator(const PtySimulator&) = delete;
    PtySimulator& operator=(const PtySimulator&) = delete;

    // Opens the pseudo-terminal, makes the link and starts the thread. On failure returns false
    // with `error` set, and nothing is left behind.
    [[nodiscard]] bool start(std::string& error);

    // Ends the thread and closes the line; safe to call more than once.
    void stop();

    // The slave device the host opens, e.g. /dev/pts/3; valid after a successful start().
    [[nodiscard]] const std::string& slavePath() const { return slavePath_; }
    // The line has been dropped by the hang-up fault.
    [[nodiscard]] bool hungUp() const { return hungUp_.load(std::memory_order_acquire); }

    // The controller; only to be looked at once stop() has returned.
    [[nodiscard]] const SimulatedController& controller() const { return *controller_; }

  private:
    void run();
    void writeDue(uint64_t nowMs, bool& blocked);
    void hangUp();
    void closeLine();
    void removeLink();

    SimSetup setup_;
    std::unique_ptr<SimulatedController> controller_;
    std::string slavePath_;
    int master_ = -1;
    int slave_ = -1;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    bool linkMade_ = false;
    std::thread thread_;
    std::atomic<bool> hungUp_{false};
};

}  // namespace vornic::sim
