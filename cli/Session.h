#pragma once
// One connection of the command line to a controller, wired the way the desktop application wires
// it: a TelescopeControl reporting to our ReportQueue, ticked by a HeartBeat, talking to the
// platform's serial port (behind the observing decorator) on the device the user named, which the
// port table holds under number 1.
//
// The main thread drives it: it calls iTelescopeControl operations, then waits for the report each
// one provokes. Every report that arrives while waiting is handed to the printer in arrival order.
// A wait ends early on an error status, a lost line or Ctrl-C, so the tool never sits out its
// time-out for something that cannot come any more.
//
// Shutdown keeps the application's order: the heartbeat is detached and stopped first, then the
// TelescopeControl shuts down (its worker first, then the port).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/HeartBeat.h"
#include "cli/ObservedSerialPort.h"
#include "cli/Operations.h"
#include "cli/Reports.h"
#include "controller/TelescopeControl.h"
#include "platform/PortTable.h"

namespace vornic::cli {

struct SessionConfig {
    std::string devicePath;
    uint32_t baud = 9600;
    bool trace = false;
    std::chrono::milliseconds timeout{15000};
    std::chrono::milliseconds settle{300};
};

struct Outcome {
    enum class Result {
        Ok,
        ErrorStatus,  // `code` holds the status; a too-old controller counts as 13
        Timeout,
        LineLost,
        Interrupted,
        ReportsLost,
    };
    Result result = Result::Ok;
    StatusCode code = 0;
    std::string what;  // what was being waited for
    [[nodiscard]] bool ok() const { return result == Result::Ok; }
};

// True for the status codes that report a failure (every "Error: ..." text).
[[nodiscard]] bool isErrorStatus(StatusCode code);

// Ctrl-C (and SIGTERM, SIGHUP, SIGQUIT): the handler only sets a flag and wakes the waiting main
// thread.
void installInterruptHandler(const WakePipe& wake);
void removeInterruptHandler();
[[nodiscard]] bool interrupted();
void clearInterrupted();

class Session final : private LineWatcher {
  public:
    using Printer = std::function<void(const Report&)>;

    Session(SessionConfig config, Printer printer);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    [[nodiscard]] iTelescopeControl& control() { return *control_; }
    [[nodiscard]] const WakePipe& wakePipe() const { return wake_; }

    // Connects and waits for the settings report of the handshake.
    [[nodiscard]] Outcome connect();
    // Closes the port, connects again and waits for fresh settings.
    [[nodiscard]] Outcome reconnect();

    // Waits for what `expect` names; a settle wait just lets `settle` pass (ending early only on
    // an error). `timeout` zero means the session's time-out; for a settle wait, the settle time.
    // With `interruptible` false, Ctrl-C does not end the wait (used while stopping a move).
    [[nodiscard]] Outcome waitFor(const Expectation& expect,
                                  std::chrono::milliseconds timeout = std::chrono::milliseconds{0},
                                  bool interruptible = true);
    // Waits `duration` (negative: until interrupted), ending early on an error or Ctrl-C.
    [[nodiscard]] Outcome waitWhile(std::chrono::milliseconds duration);

    // Prints the reports already queued, without waiting.
    void drain();

    // The last full settings report (kinds 1 and 2), with gear ratios from a kind-4 report.
    [[nodiscard]] const MountSettings& settings() const { return settings_; }
    [[nodiscard]] bool haveSettings() const { return haveSettings_; }

    // Why the port did not open, in words a person can act on.
    [[nodiscard]] std::string openErrorDescription() const;
    [[nodiscard]] const SessionConfig& config() const { return config_; }

    void shutdown();

  private:
    void lineFailed() override;
    // Takes one report: prints it, follows the settings, and says whether it ends the wait.
    bool handle(const Report& report, const Expectation& expect, Outcome& outcome);

    SessionConfig config_;
    Printer printer_;
    WakePipe wake_;
    ReportQueue reports_{wake_};
    platform::PortTable ports_;
    HeartBeat heartBeat_;
    std::unique_ptr<TelescopeControl> control_;
    MountSettings settings_;
    bool haveSettings_ = false;
    bool shutDown_ = false;
};

}  // namespace vornic::cli
