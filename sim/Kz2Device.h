// The KZ2 controller as a pure state machine: request bytes in, reply frames out, no I/O and no
// clock of its own.
//
// Design note. The device keeps three configuration images, the way the real controller keeps its
// settings: `factory` (burnt in, never changes), `stored` (the non-volatile copy that "store"
// writes and that power-up loads) and `live` (what every read shows and every write changes).
// Requests arrive as AA N payload frames; the reassembler skips anything before a start byte and
// gives up on a frame whose length byte is implausible or whose bytes stop coming, so a burst of
// line noise costs at most the frames it overlaps. Each complete request is handed to the sink
// (for tracing and for fault injection), then answered through the sink with one whole reply frame.
//
// What the device answers: every request the host program sends, with the reply layouts the host
// reads; every write and action with a short acknowledgement 55 01 <code>. Requests it does not
// understand, malformed ones (wrong length) and requests newer than its firmware get no reply at
// all: a real controller ignores what it cannot parse, and the host notices the silence through
// its own time-outs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vornic::sim {

inline constexpr int kRa = 0;
inline constexpr int kDe = 1;

// Index into the three motor-current and decay settings of an axis.
inline constexpr int kIdle = 0;
inline constexpr int kTrack = 1;
inline constexpr int kRun = 2;

// One axis' share of the configuration, in the controller's own units.
struct AxisImage {
    uint8_t axisBlockReserved = 0;
    uint32_t gearRatio = 0;
    uint32_t countsPerRevolution = 0;
    int32_t siderealRate = 0;
    uint16_t maxSpeed = 0;
    uint8_t guidingRate = 0;
    uint16_t maxCurrent = 0;
    std::array<uint16_t, 3> motorCurrent{};
    std::array<uint8_t, 3> decay{};
    int8_t thirdOvertone = 0;
    uint8_t overtoneReserved = 0;
    uint8_t acceleration = 0;
    uint8_t deceleration = 0;
    uint16_t incCurrentAt = 0;
    uint16_t incCurrentReserved = 0;
    uint8_t settingsReservedByte = 0;
    uint32_t settingsReservedWord = 0;

    bool operator==(const AxisImage&) const = default;
};

// Which side of the pier the telescope is on.
enum class PierSide : uint8_t { east = 0, west = 1 };

// Everything the controller keeps in non-volatile memory.
struct ConfigImage {
    std::array<AxisImage, 2> axis{};
    uint8_t mountType = 0;             // 0 German equatorial, 1 fork, 2 alt-azimuth
    uint8_t reverseRotation = 0;       // bit 0 RA, bit 1 DE
    uint8_t reverseAutoguiding = 0;    // bit 0 RA, bit 1 DE
    uint8_t reverseLimitSwitches = 0;  // bit 0 RA, bit 1 DE
    uint8_t meridianFlipParamA = 0;
    uint8_t meridianFlipParamB = 0;
    uint8_t meridianFlipHysteresis = 0;  // degrees
    int32_t latitude = 0;                // 1/24 arc-second, north positive
    int32_t longitude = 0;               // 1/24 arc-second, east positive
    bool parkValid = false;
    std::array<int32_t, 2> parkPosition{};
    PierSide parkPierSide = PierSide::east;

    bool operator==(const ConfigImage&) const = default;
};

// Angle units: 1/24 arc-second, 86400 per degree.
inline constexpr int32_t kUnitsPerDegree = 86400;
inline constexpr int32_t kMaxLatitude = 90 * kUnitsPerDegree;
inline constexpr int32_t kMaxLongitude = 180 * kUnitsPerDegree;

// Position counts per motor step: the drive microsteps each full step eight times.
inline constexpr uint32_t kCountsPerStep = 8;
// Largest gear ratio whose position count per revolution still fits 32 bits.
inline constexpr uint32_t kMaxGearRatio = 0xFFFFFFFFu / kCountsPerStep;

// The configuration a new controller leaves the factory with: a German equatorial mount with
// 172800 motor steps per axis revolution in Munich.
[[nodiscard]] ConfigImage factoryImage();

// What the controller says about itself in the identity, port-type and firmware replies.
struct DeviceIdentity {
    // An old controller answers the identity request with two version bytes only.
    bool oldForm = false;
    uint8_t oldLow = 1;
    uint8_t oldHigh = 1;
    // Upper 16 bits: hardware type; lower 16 bits: board revision.
    uint32_t hardwareVersion = 0x00010001;
    uint32_t firmwareVersion = 0x0100000A;
    uint8_t portType = 1;
};

// The identity of a controller whose firmware has the given capability level (0..6): level 0 is a
// controller too old to be served at all. Returns false for any other level.
[[nodiscard]] bool identityForLevel(int level, DeviceIdentity& identity);

// The capability level of a controller's firmware, read from its identity. It decides which of the
// newer requests the device understands.
[[nodiscard]] int firmwareLevel(const DeviceIdentity& identity);

// Longest request payload the controller accepts; a length byte above it cannot start a frame.
inline constexpr size_t kMaxRequestPayload = 32;
// Longest reply frame the controller ever sends (start byte, length byte, 58-byte settings block).
inline constexpr size_t kMaxReplyFrame = 2 + 58;
// A request frame whose bytes stop coming for this long is dropped.
inline constexpr uint32_t kPartialFrameTimeoutMs = 200;

// Receives what the device does, in order.
class DeviceSink {
  public:
    virtual ~DeviceSink() = default;
    // A complete request frame (AA N payload), whether or not the device understands it.
    virtual void onRequest(const uint8_t* frame, size_t size) = 0;
    // The reply to the request whose first payload byte was `requestCode`: a whole frame.
    virtual void onReply(uint8_t requestCode, const uint8_t* frame, size_t size) = 0;
    // The last request was not understood and gets no reply.
    virtual void onIgnored(uint8_t requestCode) { (void)requestCode; }
    // The live configuration is to be written to non-volatile memory. False when it could not
    // be kept: the device then keeps its earlier stored settings and does not acknowledge.
    virtual bool onStore(const ConfigImage& stored) {
        (void)stored;
        return true;
    }
};

class Kz2Device {
  public:
    // `stored` is what the non-volatile memory holds at power-up; the live configuration starts
    // as a copy of it.
    Kz2Device(const DeviceIdentity& identity, const ConfigImage& factory,
              const ConfigImage& stored);

    // Takes received bytes in order; every request they complete is handled before this returns.
    //
    // Guarantees for hostile input (asserted by the sim fuzz target): any byte stream, cut
    // anywhere, is taken without reading past what was given; every request handed to the sink
    // is a whole frame as its length byte announces, and every reply is a whole frame of at most
    // kMaxReplyFrame bytes.
    void feed(const uint8_t* data, size_t size, DeviceSink& sink);

    // Lets `ms` milliseconds of device time pass: axes move, a stalled partial frame expires.
    void advance(uint32_t ms);

    [[nodiscard]] const DeviceIdentity& identity() const { return identity_; }
    [[nodiscard]] int level() const { return level_; }
    [[nodiscard]] const ConfigImage& factory() const { return factory_; }
    [[nodiscard]] const ConfigImage& stored() const { return stored_; }
    [[nodiscard]] const ConfigImage& live() const { return live_; }

    // Axis positions in counts, wrapping at 32 bits like the controller's registers.
    [[nodiscard]] int32_t position(int axis) const;
    // The speed an axis is currently moving at, in the controller's speed units.
    [[nodiscard]] int32_t speed(int axis) const;
    [[nodiscard]] bool tracking() const { return tracking_; }
    [[nodiscard]] bool expMode() const { return expMode_; }
    [[nodiscard]] PierSide pierSide() const { return pierSide_; }

    // Supply voltage in hundredths of a volt.
    void setSupplyVoltage(uint16_t centivolts) { supplyVoltage_ = centivolts; }
    [[nodiscard]] uint16_t supplyVoltage() const { return supplyVoltage_; }

  private:
    enum class RxState : uint8_t { hunting, length, payload };

    void takeByte(uint8_t b, DeviceSink& sink);
    void handleRequest(DeviceSink& sink);
    void dispatch(const uint8_t* p, size_t n, DeviceSink& sink);

    // Reply builders: each sends one whole frame through the sink.
    void reply(DeviceSink& sink, uint8_t code, const uint8_t* payload, size_t size);
    void acknowledge(DeviceSink& sink, uint8_t code);
    void replyIdentity(DeviceSink& sink);
    void replyAxisBlock(DeviceSink& sink);
    void replySettingsBlock(DeviceSink& sink);

    // Request handlers: return false when the request is malformed and gets no reply.
    [[nodiscard]] bool setGearRatios(const uint8_t* p, size_t n);
    [[nodiscard]] bool setReverseFlags(const uint8_t* p, size_t n);
    [[nodiscard]] bool setMotorCurrent(const uint8_t* p, size_t n);
    [[nodiscard]] bool setDecay(const uint8_t* p, size_t n);
    [[nodiscard]] bool setOvertone(const uint8_t* p, size_t n);
    [[nodiscard]] bool setCurrentBoost(const uint8_t* p, size_t n);
    [[nodiscard]] bool setMaxSpeeds(const uint8_t* p, size_t n);
    [[nodiscard]] bool setAxisBytes(const uint8_t* p, size_t n, uint8_t AxisImage::*field);
    [[nodiscard]] bool setPositions(const uint8_t* p, size_t n);
    [[nodiscard]] bool goToReference(const uint8_t* p, size_t n);
    [[nodiscard]] bool setSiteOrPositions(const uint8_t* p, size_t n);
    [[nodiscard]] bool move(const uint8_t* p, size_t n);
    [[nodiscard]] bool stop(const uint8_t* p, size_t n);

    void markPark(PierSide side);

    DeviceIdentity identity_;
    int level_;
    ConfigImage factory_;
    ConfigImage stored_;
    ConfigImage live_;

    // Request reassembly.
    RxState rxState_ = RxState::hunting;
    uint8_t rxExpected_ = 0;
    size_t rxCount_ = 0;
    bool answered_ = false;
    uint32_t rxIdleMs_ = 0;
    std::array<uint8_t, 2 + kMaxRequestPayload> rxFrame_{};

    // Motion: positions in counts, with the fraction of a count carried between steps.
    std::array<int64_t, 2> position_{};
    std::array<double, 2> fraction_{};
    std::array<int32_t, 2> manualSpeed_{};
    bool tracking_ = false;
    bool expMode_ = false;
    PierSide pierSide_ = PierSide::east;
    uint16_t supplyVoltage_ = 1234;
};

}  // namespace vornic::sim
