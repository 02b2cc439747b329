#pragma once
// A TelescopeListener for tests that run a real TelescopeControl with its worker thread.
//
// Records every report in arrival order under a mutex (reports come on the worker thread while the
// test thread looks), and lets the test block until a report has arrived, with a time-out, instead
// of sleeping. The class is named RecordingTelescopeListener; the single-threaded RecordingListener
// of LinkTestSupport.h serves tests that drive a ControllerLink directly.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "controller/Contract.h"
#include "controller/MountSettings.h"

namespace vornic::test {

class RecordingTelescopeListener final : public TelescopeListener {
  public:
    struct Report {
        MountSettings settings;
        ReportKind kind = 0;
    };
    struct Event {
        enum class Type { Status, Settings, Voltage };
        Type type = Type::Status;
        uint32_t value = 0;  // status code, report kind or voltage
    };

    void onStatus(StatusCode code) override;
    void onSettings(const MountSettings& settings, ReportKind kind) override;
    void onVoltage(uint32_t hundredthsOfVolt) override;

    [[nodiscard]] std::vector<StatusCode> statuses() const;
    [[nodiscard]] std::vector<Report> reports() const;
    [[nodiscard]] std::vector<uint32_t> voltages() const;
    // Every report in arrival order.
    [[nodiscard]] std::vector<Event> events() const;
    void clear();

    // Each waits until the condition holds or `timeoutMs` has passed; returns whether it holds.
    [[nodiscard]] bool waitForStatus(StatusCode code, unsigned timeoutMs) const;
    [[nodiscard]] bool waitForStatusCount(size_t count, unsigned timeoutMs) const;
    [[nodiscard]] bool waitForReports(size_t count, unsigned timeoutMs) const;
    [[nodiscard]] bool waitForVoltages(size_t count, unsigned timeoutMs) const;

  private:
    [[nodiscard]] bool waitUntil(unsigned timeoutMs, const std::function<bool()>& done) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<StatusCode> statuses_;
    std::vector<Report> reports_;
    std::vector<uint32_t> voltages_;
    std::vector<Event> events_;
};

}  // namespace vornic::test
