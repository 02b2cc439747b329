#pragma once
// The command line's TelescopeListener: it keeps every report in arrival order for the main
// thread, which waits for them with a time-out.
//
// The worker thread must never wait for the main thread, so reports go into a fixed ring under a
// short lock (no allocation) and a byte is written into a non-blocking wake pipe. The main thread
// sleeps in poll() on that pipe, which the SIGINT handler writes into as well, so one wait covers
// reports, line failures and Ctrl-C alike. Should the ring ever fill, further reports are counted
// as lost rather than blocking the worker.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "controller/Contract.h"
#include "controller/MountSettings.h"
#include "platform/BoundedRing.h"
#include "platform/Threads.h"

namespace vornic::cli {

struct Report {
    enum class Type { Status, Settings, Voltage, LineLost };
    Type type = Type::Status;
    StatusCode code = 0;      // Status
    ReportKind kind = 0;      // Settings
    uint32_t hundredths = 0;  // Voltage
    MountSettings settings;   // Settings
};

// A pipe whose read end the main thread polls; writing a byte wakes it. Both ends non-blocking.
// On Windows it is an event instead. One file per OS (cli/posix, cli/win32) implements it.
class WakePipe {
  public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // The descriptor (POSIX) or handle (Windows) that wake() writes or sets; -1 if none.
    [[nodiscard]] intptr_t writeEnd() const { return ends_[1]; }
    // Any thread, and signal handlers: write() is async-signal-safe. A full pipe already wakes.
    void wake() const;
    // Main thread: empties the pipe.
    void drain() const;
    // Waits until woken or `timeoutMs` passed (negative: no limit).
    void wait(int timeoutMs) const;

  private:
    intptr_t ends_[2] = {-1, -1};
};

class ReportQueue final : public TelescopeListener {
  public:
    explicit ReportQueue(const WakePipe& wake) : wake_(wake) {}

    // TelescopeListener, on the worker thread.
    void onStatus(StatusCode code) override;
    void onSettings(const MountSettings& settings, ReportKind kind) override;
    void onVoltage(uint32_t hundredthsOfVolt) override;

    // The serial line failed (seen by the serial reader thread).
    void lineLost();

    // Main thread: takes the oldest report. Returns false when there is none.
    [[nodiscard]] bool pop(Report& out);
    // Reports that did not fit into the ring.
    [[nodiscard]] uint32_t lost() const { return lost_.load(); }

  private:
    void push(const Report& report);

    const WakePipe& wake_;
    platform::Lock mutex_;
    platform::BoundedRing<Report, 128> ring_;  // under mutex_
    std::atomic<uint32_t> lost_{0};
};

}  // namespace vornic::cli
