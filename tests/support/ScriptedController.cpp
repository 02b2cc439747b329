#include "support/ScriptedController.h"

#include <algorithm>

namespace vornic::test {
namespace {

using Bytes = ScriptedController::Bytes;

void putLe16(Bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void putLe32(Bytes& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t getLe32(const Bytes& bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

// One axis' 27 bytes of the settings block.
void putAxisSettings(Bytes& out, const MountSettings& v, int axis) {
    putLe16(out, v.maxSpeed[axis]);
    out.push_back(static_cast<uint8_t>(v.guidingRate[axis]));
    putLe16(out, v.maxCurrent[axis]);
    for (int mode = 0; mode < 3; ++mode) {
        putLe16(out, v.motorCurrent[axis][mode]);
    }
    for (int mode = 0; mode < 3; ++mode) {
        out.push_back(v.decay[axis][mode]);
    }
    out.push_back(static_cast<uint8_t>(v.thirdOvertone[axis]));
    out.push_back(v.overtoneReserved[axis]);
    out.push_back(v.acceleration[axis]);
    out.push_back(v.deceleration[axis]);
    putLe16(out, v.incCurrentAt[axis]);
    putLe16(out, v.incCurrentReserved[axis]);
    out.push_back(v.settingsReservedByte[axis]);
    putLe32(out, v.settingsReservedWord[axis]);
}

}  // namespace

ScriptedController::ScriptedController(FakeSerialPort& port) : ScriptedController(port, Config{}) {}

ScriptedController::ScriptedController(FakeSerialPort& port, Config config)
    : state_(std::make_shared<State>()) {
    state_->config = std::move(config);
    // The responder keeps the state alive on its own; the port pointer stays valid for as long
    // as the port can call it.
    std::shared_ptr<State> state = state_;
    FakeSerialPort* target = &port;
    port.setResponder([state, target](const FakeSerialPort::Bytes& written) {
        onRequest(*state, *target, written);
    });
}

void ScriptedController::setConfig(const Config& config) {
    std::lock_guard lock(state_->mutex);
    state_->config = config;
}

ScriptedController::Config ScriptedController::config() const {
    std::lock_guard lock(state_->mutex);
    return state_->config;
}

void ScriptedController::setDefaults(const Config& defaults) {
    std::lock_guard lock(state_->mutex);
    state_->defaults = defaults;
    state_->haveDefaults = true;
}

void ScriptedController::silence(uint8_t code) {
    std::lock_guard lock(state_->mutex);
    state_->silenced.insert(code);
}

void ScriptedController::answer(uint8_t code) {
    std::lock_guard lock(state_->mutex);
    state_->silenced.erase(code);
}

void ScriptedController::setChunkSize(size_t size) {
    std::lock_guard lock(state_->mutex);
    state_->chunkSize = size;
}

void ScriptedController::setNoise(const Bytes& noise) {
    std::lock_guard lock(state_->mutex);
    state_->noise = noise;
}

Bytes ScriptedController::replyFor(uint8_t code) const {
    std::lock_guard lock(state_->mutex);
    return replyLocked(*state_, code);
}

size_t ScriptedController::malformedRequests() const {
    std::lock_guard lock(state_->mutex);
    return state_->malformed;
}

void ScriptedController::onRequest(State& state, FakeSerialPort& port, const Bytes& request) {
    std::vector<Bytes> chunks;
    {
        std::lock_guard lock(state.mutex);
        // A request frame: AA, N, then exactly N payload bytes starting with the code.
        if (request.size() < 3 || request[0] != 0xAA || request[1] == 0 ||
            request.size() != static_cast<size_t>(request[1]) + 2) {
            ++state.malformed;
            return;
        }
        const uint8_t code = request[2];
        applyWriteLocked(state, request);
        if (state.silenced.count(code) != 0) {
            return;
        }
        Bytes line = state.noise;
        const Bytes reply = replyLocked(state, code);
        line.insert(line.end(), reply.begin(), reply.end());
        const size_t step = state.chunkSize == 0 ? line.size() : state.chunkSize;
        for (size_t at = 0; at < line.size(); at += step) {
            const size_t end = std::min(line.size(), at + step);
            chunks.emplace_back(line.begin() + static_cast<std::ptrdiff_t>(at),
                                line.begin() + static_cast<std::ptrdiff_t>(end));
        }
    }
    for (const Bytes& chunk : chunks) {
        port.inject(chunk);
    }
}

Bytes ScriptedController::replyLocked(const State& state, uint8_t code) {
    const Config& c = state.config;
    switch (code) {
        case kIdentity:
            return frame(identityPayload(c));
        case kPortType:
            return frame(c.portTypePayload);
        case kFirmware: {
            Bytes payload = {kFirmware};
            putLe32(payload, c.firmware);
            return frame(payload);
        }
        case kAxisBlock:
            return frame(axisBlockPayload(c.values));
        case kSettingsBlock:
            return frame(settingsBlockPayload(c.values));
        case kMeridianFlip:
            return frame(meridianFlipPayload(c.values));
        case kSite:
            return frame(sitePayload(c.values));
        case kVoltage:
            return frame(voltagePayload(c.voltage));
        default:
            // Every write or action is acknowledged with its own code.
            return frame({code});
    }
}

void ScriptedController::applyWriteLocked(State& state, const Bytes& request) {
    MountSettings& v = state.config.values;
    switch (request[2]) {
        case kGearRatios:  // AA 0B 1A 01 C0 L(RA) L(DE)
            if (request.size() == 13) {
                v.gearRatio[0] = getLe32(request, 5);
                v.gearRatio[1] = getLe32(request, 9);
            }
            break;
        case kMountType:  // AA 03 1B 01 m
            if (request.size() == 5) {
                v.mountType = request[4];
            }
            break;
        case kHysteresis:  // AA 06 3E 01 01 a b h
            if (request.size() == 8) {
                v.meridianFlipParamA = request[5];
                v.meridianFlipParamB = request[6];
                v.meridianFlipHysteresis = request[7];
            }
            break;
        case kSiteOrPositionWrite:  // AA 0A 65 01 L(lat) L(lon); with 00 it is not a site write
            if (request.size() == 12 && request[3] == 0x01) {
                v.latitude = static_cast<int32_t>(getLe32(request, 4));
                v.longitude = static_cast<int32_t>(getLe32(request, 8));
            }
            break;
        case kReloadDefaults:
            if (state.haveDefaults) {
                state.config = state.defaults;
            }
            break;
        default:
            break;
    }
}

Bytes ScriptedController::frame(const Bytes& payload) {
    Bytes bytes = {0x55, static_cast<uint8_t>(payload.size())};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

Bytes ScriptedController::identityPayload(const Config& config) {
    if (config.threeByteIdentity) {
        return {kIdentity, config.shortVersion[0], config.shortVersion[1]};
    }
    Bytes payload = {config.identityReplyCode};
    putLe32(payload, config.hardwareVersion);
    return payload;
}

// N = 29: code, one byte the link does not read, then per axis a reserved byte, the gear ratio,
// the counts per revolution and the sidereal rate, and last the mount type.
Bytes ScriptedController::axisBlockPayload(const MountSettings& v) {
    Bytes payload = {kAxisBlock, 0x5A};
    for (int axis = 0; axis < 2; ++axis) {
        payload.push_back(v.axisBlockReserved[axis]);
        putLe32(payload, v.gearRatio[axis]);
        putLe32(payload, v.countsPerRevolution[axis]);
        putLe32(payload, static_cast<uint32_t>(v.siderealRate[axis]));
    }
    payload.push_back(v.mountType);
    return payload;
}

// N = 58: code, an unread byte, the reverse flags, then 27 bytes per axis.
Bytes ScriptedController::settingsBlockPayload(const MountSettings& v) {
    Bytes payload = {kSettingsBlock, 0xA5, v.reverseRotation,
                     static_cast<uint8_t>((v.reverseAutoguiding & 0x0F) |
                                          ((v.reverseLimitSwitches & 0x0F) << 4))};
    putAxisSettings(payload, v, 0);
    putAxisSettings(payload, v, 1);
    return payload;
}

Bytes ScriptedController::meridianFlipPayload(const MountSettings& v) {
    return {kMeridianFlip, 0x11, v.meridianFlipParamA, v.meridianFlipParamB,
            v.meridianFlipHysteresis};
}

Bytes ScriptedController::sitePayload(const MountSettings& v) {
    Bytes payload = {kSite};
    putLe32(payload, static_cast<uint32_t>(v.latitude));
    putLe32(payload, static_cast<uint32_t>(v.longitude));
    return payload;
}

// The link reads only bytes 3-4; the bytes before them are not its business.
Bytes ScriptedController::voltagePayload(uint16_t voltage) {
    Bytes payload = {kVoltage, 0x77, 0x88};
    putLe16(payload, voltage);
    return payload;
}

}  // namespace vornic::test
