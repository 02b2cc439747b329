#pragma once
// A scripted KZ2 controller on the far side of a FakeSerialPort.
//
// It watches every request frame the worker writes and answers it at once, on the writing thread,
// by injecting the reply into the port: the identity (five-byte or three-byte form), port type,
// firmware, axis block, settings block, meridian-flip and site reads, the supply voltage, and a
// short acknowledgement (55 01 code) for every other request. The replies are encoded here from
// the controller's reply layouts alone, so that tests compare what the link decodes against an
// independent encoding.
//
// Writes change the peer's own state the way a controller would (gear ratios, mount type, site,
// hysteresis; a reload swaps in the configured defaults), so a later read-back shows them.
//
// A code can be silenced: its requests get no answer (a write still takes effect), and the test
// can inject the reply later (replyFor) to place it between two ticks of its choosing. Replies can
// also be cut into small chunks and preceded by line noise, to exercise reassembly across reads.
//
// Thread-safe: the test thread scripts it while the worker's writes drive it. Its state lives in a
// shared block that the port's responder also holds, so the peer object may be destroyed before
// or after the port.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "controller/MountSettings.h"
#include "support/FakeSerialPort.h"

namespace vornic::test {

class ScriptedController {
  public:
    using Bytes = std::vector<uint8_t>;

    // Request codes the peer understands.
    static constexpr uint8_t kIdentity = 0x01;
    static constexpr uint8_t kFirmware = 0x02;
    static constexpr uint8_t kPortType = 0x03;
    static constexpr uint8_t kReloadDefaults = 0x0C;
    static constexpr uint8_t kStoreSettings = 0x0D;
    static constexpr uint8_t kAxisBlock = 0x14;
    static constexpr uint8_t kSettingsBlock = 0x15;
    static constexpr uint8_t kGearRatios = 0x1A;
    static constexpr uint8_t kMountType = 0x1B;
    static constexpr uint8_t kStopMove = 0x21;
    static constexpr uint8_t kStartMove = 0x23;
    static constexpr uint8_t kTracking = 0x24;
    static constexpr uint8_t kVoltage = 0x2B;
    static constexpr uint8_t kMeridianFlip = 0x3D;
    static constexpr uint8_t kHysteresis = 0x3E;
    static constexpr uint8_t kSite = 0x64;
    static constexpr uint8_t kSiteOrPositionWrite = 0x65;

    struct Config {
        // Identity. Five-byte form: reply code, then the 32-bit hardware version, whose upper 16
        // bits are the hardware type. Three-byte form: the two version bytes.
        bool threeByteIdentity = false;
        uint8_t identityReplyCode = 0x01;
        uint32_t hardwareVersion = 0x00010203;
        uint8_t shortVersion[2] = {0x02, 0x01};
        // Whole payload of the port-type reply (its byte 1 is the port type).
        Bytes portTypePayload = {kPortType, 0x07};
        uint32_t firmware = 0x0100000A;
        // Axis block, settings block, meridian flip and site values are taken from this record's
        // fields of the same names; the identity and derived fields are not used.
        MountSettings values;
        uint16_t voltage = 1234;
    };

    explicit ScriptedController(FakeSerialPort& port);
    ScriptedController(FakeSerialPort& port, Config config);

    ScriptedController(const ScriptedController&) = delete;
    ScriptedController& operator=(const ScriptedController&) = delete;

    // Replaces the configuration (the values a later read reports).
    void setConfig(const Config& config);
    [[nodiscard]] Config config() const;
    // What a reloadDefaults request turns the configuration into (unset: unchanged).
    void setDefaults(const Config& defaults);

    // Requests with this code get no answer until answer() is called.
    void silence(uint8_t code);
    void answer(uint8_t code);
    // Each reply is injected in chunks of at most this many bytes (0: whole).
    void setChunkSize(size_t size);
    // Bytes injected before every reply, as line noise the link must skip.
    void setNoise(const Bytes& noise);

    // The reply frame (55 N payload) the peer would send now to a request with this code.
    [[nodiscard]] Bytes replyFor(uint8_t code) const;

    // How many writes were not one whole request frame.
    [[nodiscard]] size_t malformedRequests() const;

    // Encoders, from the controller's reply layouts.
    [[nodiscard]] static Bytes frame(const Bytes& payload);
    [[nodiscard]] static Bytes identityPayload(const Config& config);
    [[nodiscard]] static Bytes axisBlockPayload(const MountSettings& values);
    [[nodiscard]] static Bytes settingsBlockPayload(const MountSettings& values);
    [[nodiscard]] static Bytes meridianFlipPayload(const MountSettings& values);
    [[nodiscard]] static Bytes sitePayload(const MountSettings& values);
    [[nodiscard]] static Bytes voltagePayload(uint16_t voltage);

  private:
    struct State {
        mutable std::mutex mutex;
        Config config;
        bool haveDefaults = false;
        Config defaults;
        std::set<uint8_t> silenced;
        size_t chunkSize = 0;
        Bytes noise;
        size_t malformed = 0;
    };

    static void onRequest(State& state, FakeSerialPort& port, const Bytes& request);
    // Under the state's lock.
    static Bytes replyLocked(const State& state, uint8_t code);
    static void applyWriteLocked(State& state, const Bytes& request);

    std::shared_ptr<State> state_;
};

}  // namespace vornic::test
