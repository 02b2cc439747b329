#pragma once
// Fakes for driving a ControllerLink directly, with no threads: a port that records every request
// frame, a listener that records every report, and a harness that feeds reply frames, ticks and
// operation messages and can run a whole handshake.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "controller/Contract.h"
#include "controller/ControllerLink.h"
#include "controller/MountSettings.h"

namespace vornic::test {

using Bytes = std::vector<uint8_t>;

class FakeLinkPort : public LinkPort {
  public:
    bool writeBytes(const uint8_t* bytes, size_t count) override;
    SiteSettings pendingSiteSettings() override { return pending; }

    // Frames written since the last call, oldest first.
    std::vector<Bytes> takeFrames();

    std::vector<Bytes> frames;  // every frame, in order
    size_t taken = 0;
    SiteSettings pending;
    bool failWrites = false;  // every write fails (and is not recorded) while set
};

struct LinkEvent {
    enum class Kind { Status, Settings, Voltage };
    Kind kind = Kind::Status;
    uint32_t value = 0;  // status code, report kind or voltage
    MountSettings settings;

    bool operator==(const LinkEvent&) const = default;
};

class RecordingLinkListener : public TelescopeListener {
  public:
    void onStatus(StatusCode code) override;
    void onSettings(const MountSettings& settings, ReportKind kind) override;
    void onVoltage(uint32_t hundredthsOfVolt) override;

    [[nodiscard]] std::vector<StatusCode> statuses() const;
    [[nodiscard]] std::vector<ReportKind> reportKinds() const;
    [[nodiscard]] std::vector<uint32_t> voltages() const;
    // The record of the last settings report, if any.
    [[nodiscard]] std::optional<MountSettings> lastSettings() const;
    void clear() { events.clear(); }

    std::vector<LinkEvent> events;
};

// A reply frame 55 N payload.
Bytes replyFrame(std::initializer_list<uint8_t> payload);
Bytes replyFrame(const Bytes& payload);
// An operation message: header 0x80 + n, code, arguments.
Bytes operationMessage(uint8_t code, std::initializer_list<uint8_t> arguments = {});
// Little-endian helpers for building payloads and expected frames.
void putLe16(Bytes& out, uint32_t value);
void putLe32(Bytes& out, uint32_t value);

// Payloads that carry the given record's values at the wire offsets the controller uses.
Bytes axisBlockPayload(const MountSettings& s);
Bytes settingsBlockPayload(const MountSettings& s);

// What a scripted controller answers during a handshake.
struct ControllerScript {
    Bytes identity = {0x01, 0x00, 0x00, 0x01, 0x00};  // five-byte form, hardware type 1
    uint8_t portType = 1;
    uint32_t firmware = 0x0100000A;
    MountSettings config;  // axis and settings block values
    uint8_t flipA = 0;
    uint8_t flipB = 0;
    uint8_t flipHysteresis = 0;
    int32_t latitude = 0;
    int32_t longitude = 0;
};

class LinkHarness {
  public:
    LinkHarness() : link(port, listener) {}

    int feed(const Bytes& bytes) { return link.takeReplyBytes(bytes.data(), bytes.size()); }
    int reply(std::initializer_list<uint8_t> payload) { return feed(replyFrame(payload)); }
    int reply(const Bytes& payload) { return feed(replyFrame(payload)); }
    // Runs `count` ticks; returns the first non-zero result, or 0.
    int tick(int count = 1);
    int execute(const Bytes& message) {
        return link.executeOperation(message.data(), message.size(), true);
    }
    int execute(uint8_t code, std::initializer_list<uint8_t> arguments = {}) {
        return execute(operationMessage(code, arguments));
    }

    // Runs the whole handshake against the script and returns the result of its last reply.
    // Each reply is answered after its request left, each pause waited out with two ticks.
    int connect(const ControllerScript& script);
    // A connected controller at the given hardware type and firmware, with the given settings;
    // frames and reports of the handshake are discarded.
    void connectAt(uint32_t hardwareType, uint32_t firmware, const MountSettings& config = {});

    FakeLinkPort port;
    RecordingLinkListener listener;
    ControllerLink link;
};

// Firmware that gives feature level 0..6 with hardware type 1 (level 0 is never derived; 1 is
// used for it).
uint32_t firmwareForLevel(int level);

}  // namespace vornic::test
