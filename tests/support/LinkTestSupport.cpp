#include "support/LinkTestSupport.h"

#include <algorithm>

namespace vornic::test {

bool FakeLinkPort::writeBytes(const uint8_t* bytes, size_t count) {
    if (failWrites) {
        return false;
    }
    frames.emplace_back(bytes, bytes + count);
    return true;
}

std::vector<Bytes> FakeLinkPort::takeFrames() {
    std::vector<Bytes> fresh(frames.begin() + static_cast<std::ptrdiff_t>(taken), frames.end());
    taken = frames.size();
    return fresh;
}

void RecordingLinkListener::onStatus(StatusCode code) {
    events.push_back({LinkEvent::Kind::Status, code, {}});
}

void RecordingLinkListener::onSettings(const MountSettings& settings, ReportKind kind) {
    events.push_back({LinkEvent::Kind::Settings, kind, settings});
}

void RecordingLinkListener::onVoltage(uint32_t hundredthsOfVolt) {
    events.push_back({LinkEvent::Kind::Voltage, hundredthsOfVolt, {}});
}

namespace {
std::vector<uint32_t> valuesOf(const std::vector<LinkEvent>& events, LinkEvent::Kind kind) {
    std::vector<uint32_t> out;
    for (const LinkEvent& e : events) {
        if (e.kind == kind) {
            out.push_back(e.value);
        }
    }
    return out;
}
}  // namespace

std::vector<StatusCode> RecordingLinkListener::statuses() const {
    return valuesOf(events, LinkEvent::Kind::Status);
}

std::vector<ReportKind> RecordingLinkListener::reportKinds() const {
    return valuesOf(events, LinkEvent::Kind::Settings);
}

std::vector<uint32_t> RecordingLinkListener::voltages() const {
    return valuesOf(events, LinkEvent::Kind::Voltage);
}

std::optional<MountSettings> RecordingLinkListener::lastSettings() const {
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if (it->kind == LinkEvent::Kind::Settings) {
            return it->settings;
        }
    }
    return std::nullopt;
}

Bytes replyFrame(const Bytes& payload) {
    // Sized up front: growing a two-byte vector by insert trips a false array-bounds warning in
    // GCC 12 at -O2.
    Bytes frame(payload.size() + 2);
    frame[0] = 0x55;
    frame[1] = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), frame.begin() + 2);
    return frame;
}

Bytes replyFrame(std::initializer_list<uint8_t> payload) {
    return replyFrame(Bytes(payload));
}

Bytes operationMessage(uint8_t code, std::initializer_list<uint8_t> arguments) {
    Bytes message(arguments.size() + 2);
    message[0] = static_cast<uint8_t>(0x80 + 1 + arguments.size());
    message[1] = code;
    std::copy(arguments.begin(), arguments.end(), message.begin() + 2);
    return message;
}

void putLe16(Bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void putLe32(Bytes& out, uint32_t value) {
    putLe16(out, value & 0xFFFF);
    putLe16(out, value >> 16);
}

Bytes axisBlockPayload(const MountSettings& s) {
    Bytes p{0x14, 0x00};
    for (int a = 0; a < 2; ++a) {
        p.push_back(s.axisBlockReserved[a]);
        putLe32(p, s.gearRatio[a]);
        putLe32(p, s.countsPerRevolution[a]);
        putLe32(p, static_cast<uint32_t>(s.siderealRate[a]));
    }
    p.push_back(s.mountType);
    return p;  // 29 bytes
}

Bytes settingsBlockPayload(const MountSettings& s) {
    Bytes p{0x15, 0x00, s.reverseRotation,
            static_cast<uint8_t>((s.reverseAutoguiding & 0x0F) | (s.reverseLimitSwitches << 4))};
    for (int a = 0; a < 2; ++a) {
        putLe16(p, s.maxSpeed[a]);
        p.push_back(static_cast<uint8_t>(s.guidingRate[a]));
        putLe16(p, s.maxCurrent[a]);
        for (int m = 0; m < 3; ++m) {
            putLe16(p, s.motorCurrent[a][m]);
        }
        for (int m = 0; m < 3; ++m) {
            p.push_back(s.decay[a][m]);
        }
        p.push_back(static_cast<uint8_t>(s.thirdOvertone[a]));
        p.push_back(s.overtoneReserved[a]);
        p.push_back(s.acceleration[a]);
        p.push_back(s.deceleration[a]);
        putLe16(p, s.incCurrentAt[a]);
        putLe16(p, s.incCurrentReserved[a]);
        p.push_back(s.settingsReservedByte[a]);
        putLe32(p, s.settingsReservedWord[a]);
    }
    return p;  // 58 bytes
}

int LinkHarness::tick(int count) {
    int first = kResultNothing;
    for (int i = 0; i < count; ++i) {
        const int result = link.tickHandler();
        if (first == kResultNothing) {
            first = result;
        }
    }
    return first;
}

int LinkHarness::connect(const ControllerScript& script) {
    (void)link.handshakeStart();
    int result = reply(script.identity);
    if (link.linkState() != link::kPause) {
        return result;
    }
    tick(2);
    reply({0x03, script.portType});
    tick(2);
    Bytes firmware{0x02};
    putLe32(firmware, script.firmware);
    reply(firmware);
    tick(2);
    reply(axisBlockPayload(script.config));
    tick(2);
    result = reply(settingsBlockPayload(script.config));
    if (link.linkState() != link::kMeridianFlip) {
        return result;
    }
    reply({0x3D, 0x00, script.flipA, script.flipB, script.flipHysteresis});
    Bytes site{0x64};
    putLe32(site, static_cast<uint32_t>(script.latitude));
    putLe32(site, static_cast<uint32_t>(script.longitude));
    return reply(site);
}

void LinkHarness::connectAt(uint32_t hardwareType, uint32_t firmware, const MountSettings& config) {
    ControllerScript script;
    script.identity = {0x01, 0x00, 0x00, static_cast<uint8_t>(hardwareType),
                       static_cast<uint8_t>(hardwareType >> 8)};
    script.firmware = firmware;
    script.config = config;
    (void)connect(script);
    (void)port.takeFrames();
    listener.clear();
}

uint32_t firmwareForLevel(int level) {
    switch (level) {
        case 2:
            return 0x01000001;
        case 3:
            return 0x01000002;
        case 4:
            return 0x01000004;
        case 5:
            return 0x01000009;
        case 6:
            return 0x0100000A;
        default:
            return 0x01000000;
    }
}

}  // namespace vornic::test
