#pragma once
// An iTelescopeControl that only records: every call with its name and arguments, in order.
// Thread-safe, so it can also stand behind a heartbeat thread.

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "controller/Contract.h"

namespace vornic::test {

struct TelescopeCall {
    std::string name;
    std::vector<int64_t> args;
    SiteSettings site;  // applySiteSettings only

    bool operator==(const TelescopeCall& other) const {
        return name == other.name && args == other.args;
    }
};

// Prints as name(a, b, ...) so that failed expectations read well.
std::ostream& operator<<(std::ostream& out, const TelescopeCall& call);

// Shorthand for expectations: call("setMaxSpeeds", {630, 0}).
TelescopeCall call(std::string name, std::vector<int64_t> args = {});

class RecordingTelescopeControl final : public iTelescopeControl {
  public:
    [[nodiscard]] std::vector<TelescopeCall> calls() const;
    [[nodiscard]] size_t size() const;
    // Returns and forgets everything recorded so far.
    std::vector<TelescopeCall> take();
    void clear();

    void onHeartBeat() override;
    void connect(uint32_t portNumber, uint32_t baudRate) override;
    void disconnect() override;
    void startMove(uint32_t direction, uint32_t speedIndex) override;
    void stopMove(uint32_t direction) override;
    void setTracking(uint32_t on) override;
    void setExp(uint32_t on) override;
    void sendCode20() override;
    void storeSettings() override;
    void sendCode22() override;
    void reloadDefaults() override;
    void setGearRatios(uint32_t ra, uint32_t de) override;
    void setReverseFlags(uint32_t rotation, uint32_t autoguiding, uint32_t limitSwitches) override;
    void setMotorCurrent(uint32_t selector, uint32_t milliAmps) override;
    void setDecay(uint32_t selector, uint32_t decay) override;
    void setMaxSpeeds(uint32_t ra, uint32_t de) override;
    void setAccelerations(uint32_t ra, uint32_t de) override;
    void setDecelerations(uint32_t ra, uint32_t de) override;
    void setOvertone(uint32_t axisMask, int32_t value) override;
    void setCurrentBoost(uint32_t axisMask, uint32_t first, uint32_t second) override;
    void setGuidingRates(uint32_t ra, uint32_t de) override;
    void setPositionPair(uint32_t first, uint32_t second) override;
    void applySiteSettings(const SiteSettings& settings) override;
    void measureVoltage() override;
    void initScope(uint32_t positionCode) override;
    void defineParkPosition() override;

  private:
    void record(TelescopeCall entry);

    mutable std::mutex mutex_;
    std::vector<TelescopeCall> calls_;
};

}  // namespace vornic::test
