#include "support/RecordingTelescopeControl.h"

#include <utility>

namespace vornic::test {

std::ostream& operator<<(std::ostream& out, const TelescopeCall& entry) {
    out << entry.name << '(';
    for (size_t i = 0; i < entry.args.size(); ++i) {
        out << (i == 0 ? "" : ", ") << entry.args[i];
    }
    return out << ')';
}

TelescopeCall call(std::string name, std::vector<int64_t> args) {
    return TelescopeCall{std::move(name), std::move(args), {}};
}

std::vector<TelescopeCall> RecordingTelescopeControl::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

size_t RecordingTelescopeControl::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

std::vector<TelescopeCall> RecordingTelescopeControl::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(calls_, {});
}

void RecordingTelescopeControl::clear() {
    static_cast<void>(take());
}

void RecordingTelescopeControl::record(TelescopeCall entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(entry));
}

void RecordingTelescopeControl::onHeartBeat() {
    record(call("onHeartBeat"));
}
void RecordingTelescopeControl::connect(uint32_t portNumber, uint32_t baudRate) {
    record(call("connect", {portNumber, baudRate}));
}
void RecordingTelescopeControl::disconnect() {
    record(call("disconnect"));
}
void RecordingTelescopeControl::startMove(uint32_t direction, uint32_t speedIndex) {
    record(call("startMove", {direction, speedIndex}));
}
void RecordingTelescopeControl::stopMove(uint32_t direction) {
    record(call("stopMove", {direction}));
}
void RecordingTelescopeControl::setTracking(uint32_t on) {
    record(call("setTracking", {on}));
}
void RecordingTelescopeControl::setExp(uint32_t on) {
    record(call("setExp", {on}));
}
void RecordingTelescopeControl::sendCode20() {
    record(call("sendCode20"));
}
void RecordingTelescopeControl::storeSettings() {
    record(call("storeSettings"));
}
void RecordingTelescopeControl::sendCode22() {
    record(call("sendCode22"));
}
void RecordingTelescopeControl::reloadDefaults() {
    record(call("reloadDefaults"));
}
void RecordingTelescopeControl::setGearRatios(uint32_t ra, uint32_t de) {
    record(call("setGearRatios", {ra, de}));
}
void RecordingTelescopeControl::setReverseFlags(uint32_t rotation, uint32_t autoguiding,
                                                uint32_t limitSwitches) {
    record(call("setReverseFlags", {rotation, autoguiding, limitSwitches}));
}
void RecordingTelescopeControl::setMotorCurrent(uint32_t selector, uint32_t milliAmps) {
    record(call("setMotorCurrent", {selector, milliAmps}));
}
void RecordingTelescopeControl::setDecay(uint32_t selector, uint32_t decay) {
    record(call("setDecay", {selector, decay}));
}
void RecordingTelescopeControl::setMaxSpeeds(uint32_t ra, uint32_t de) {
    record(call("setMaxSpeeds", {ra, de}));
}
void RecordingTelescopeControl::setAccelerations(uint32_t ra, uint32_t de) {
    record(call("setAccelerations", {ra, de}));
}
void RecordingTelescopeControl::setDecelerations(uint32_t ra, uint32_t de) {
    record(call("setDecelerations", {ra, de}));
}
void RecordingTelescopeControl::setOvertone(uint32_t axisMask, int32_t value) {
    record(call("setOvertone", {axisMask, value}));
}
void RecordingTelescopeControl::setCurrentBoost(uint32_t axisMask, uint32_t first,
                                                uint32_t second) {
    record(call("setCurrentBoost", {axisMask, first, second}));
}
void RecordingTelescopeControl::setGuidingRates(uint32_t ra, uint32_t de) {
    record(call("setGuidingRates", {ra, de}));
}
void RecordingTelescopeControl::setPositionPair(uint32_t first, uint32_t second) {
    record(call("setPositionPair", {first, second}));
}
void RecordingTelescopeControl::applySiteSettings(const SiteSettings& settings) {
    TelescopeCall entry =
        call("applySiteSettings", {settings.changeMask, settings.mountType, settings.latitude,
                                   settings.longitude, settings.hysteresis});
    entry.site = settings;
    record(std::move(entry));
}
void RecordingTelescopeControl::measureVoltage() {
    record(call("measureVoltage"));
}
void RecordingTelescopeControl::initScope(uint32_t positionCode) {
    record(call("initScope", {positionCode}));
}
void RecordingTelescopeControl::defineParkPosition() {
    record(call("defineParkPosition"));
}

}  // namespace vornic::test
