#include "support/RecordingListener.h"

#include <algorithm>
#include <chrono>

namespace vornic::test {

void RecordingTelescopeListener::onStatus(StatusCode code) {
    {
        std::lock_guard lock(mutex_);
        statuses_.push_back(code);
        events_.push_back({Event::Type::Status, code});
    }
    changed_.notify_all();
}

void RecordingTelescopeListener::onSettings(const MountSettings& settings, ReportKind kind) {
    {
        std::lock_guard lock(mutex_);
        reports_.push_back({settings, kind});
        events_.push_back({Event::Type::Settings, kind});
    }
    changed_.notify_all();
}

void RecordingTelescopeListener::onVoltage(uint32_t hundredthsOfVolt) {
    {
        std::lock_guard lock(mutex_);
        voltages_.push_back(hundredthsOfVolt);
        events_.push_back({Event::Type::Voltage, hundredthsOfVolt});
    }
    changed_.notify_all();
}

std::vector<StatusCode> RecordingTelescopeListener::statuses() const {
    std::lock_guard lock(mutex_);
    return statuses_;
}

std::vector<RecordingTelescopeListener::Report> RecordingTelescopeListener::reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

std::vector<uint32_t> RecordingTelescopeListener::voltages() const {
    std::lock_guard lock(mutex_);
    return voltages_;
}

std::vector<RecordingTelescopeListener::Event> RecordingTelescopeListener::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void RecordingTelescopeListener::clear() {
    std::lock_guard lock(mutex_);
    statuses_.clear();
    reports_.clear();
    voltages_.clear();
    events_.clear();
}

bool RecordingTelescopeListener::waitUntil(unsigned timeoutMs,
                                           const std::function<bool()>& done) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

bool RecordingTelescopeListener::waitForStatus(StatusCode code, unsigned timeoutMs) const {
    return waitUntil(timeoutMs, [&] {
        return std::find(statuses_.begin(), statuses_.end(), code) != statuses_.end();
    });
}

bool RecordingTelescopeListener::waitForStatusCount(size_t count, unsigned timeoutMs) const {
    return waitUntil(timeoutMs, [&] { return statuses_.size() >= count; });
}

bool RecordingTelescopeListener::waitForReports(size_t count, unsigned timeoutMs) const {
    return waitUntil(timeoutMs, [&] { return reports_.size() >= count; });
}

bool RecordingTelescopeListener::waitForVoltages(size_t count, unsigned timeoutMs) const {
    return waitUntil(timeoutMs, [&] { return voltages_.size() >= count; });
}

}  // namespace vornic::test
