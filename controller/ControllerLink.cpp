#include "controller/ControllerLink.h"

#include <cmath>
#include <type_traits>

namespace vornic {

namespace {

// ---------------------------------------------------------------------------------------------
// Request frames: 0xAA, N, code, parameters. Each field is cut to its width and written least
// significant byte first; the whole frame is built on the stack and written in one piece so that
// the transport never sees half a request.

struct B {
    uint32_t value;
};
struct W {
    uint32_t value;
};
struct L {
    uint32_t value;
};

inline constexpr size_t kMaxRequestFrame = 13;

template <typename Field>
constexpr size_t fieldWidth() {
    if constexpr (std::is_same_v<Field, B>) {
        return 1;
    } else if constexpr (std::is_same_v<Field, W>) {
        return 2;
    } else {
        static_assert(std::is_same_v<Field, L>, "request fields are B, W or L");
        return 4;
    }
}

template <typename Field>
void putField(uint8_t* frame, size_t& position, Field field) {
    for (size_t i = 0; i < fieldWidth<Field>(); ++i) {
        frame[position++] = static_cast<uint8_t>(field.value >> (8 * i));
    }
}

template <typename... Fields>
bool buildAndWrite(LinkPort& port, uint8_t code, Fields... fields) {
    constexpr size_t payload = 1 + (fieldWidth<Fields>() + ... + 0);
    constexpr size_t total = payload + 2;
    static_assert(total <= kMaxRequestFrame, "request frames are at most 13 bytes");
    uint8_t frame[total];
    frame[0] = 0xAA;
    frame[1] = static_cast<uint8_t>(payload);
    frame[2] = code;
    [[maybe_unused]] size_t position = 3;
    (putField(frame, position, fields), ...);
    return port.writeBytes(frame, total);
}

// The builder family, named by the widest field they carry.
template <typename... Bytes>
bool sendRequest(LinkPort& port, uint8_t code, Bytes... bytes) {
    static_assert((std::is_same_v<Bytes, B> && ...), "sendRequest carries bytes only");
    return buildAndWrite(port, code, bytes...);
}

template <typename... Fields>
bool sendRequestWord(LinkPort& port, uint8_t code, Fields... fields) {
    static_assert((std::is_same_v<Fields, W> || ...), "sendRequestWord carries a 16-bit field");
    return buildAndWrite(port, code, fields...);
}

template <typename... Fields>
bool sendRequestLong(LinkPort& port, uint8_t code, Fields... fields) {
    static_assert((std::is_same_v<Fields, L> || ...), "sendRequestLong carries a 32-bit field");
    return buildAndWrite(port, code, fields...);
}

// Request codes.
namespace request {
inline constexpr uint8_t kIdentity = 0x01;
inline constexpr uint8_t kFirmware = 0x02;
inline constexpr uint8_t kPortType = 0x03;
inline constexpr uint8_t kCode22 = 0x0B;
inline constexpr uint8_t kReloadDefaults = 0x0C;
inline constexpr uint8_t kStoreSettings = 0x0D;
inline constexpr uint8_t kAxisBlock = 0x14;
inline constexpr uint8_t kSettingsBlock = 0x15;
inline constexpr uint8_t kParkLegacy = 0x1D;
inline constexpr uint8_t kMountType = 0x1B;
inline constexpr uint8_t kGearRatios = 0x1A;
inline constexpr uint8_t kSetPosition = 0x20;
inline constexpr uint8_t kStopMove = 0x21;
inline constexpr uint8_t kStartMove = 0x23;
inline constexpr uint8_t kTracking = 0x24;
inline constexpr uint8_t kExp = 0x28;
inline constexpr uint8_t kVoltage = 0x2B;
inline constexpr uint8_t kReverseFlags = 0x32;
inline constexpr uint8_t kMotorCurrent = 0x33;
inline constexpr uint8_t kDecay = 0x34;
inline constexpr uint8_t kMaxSpeeds = 0x35;
inline constexpr uint8_t kGuidingRates = 0x36;
inline constexpr uint8_t kAccelerations = 0x37;
inline constexpr uint8_t kDecelerations = 0x38;
inline constexpr uint8_t kOvertone = 0x3B;
inline constexpr uint8_t kCurrentBoost = 0x3C;
inline constexpr uint8_t kMeridianFlip = 0x3D;
inline constexpr uint8_t kHysteresis = 0x3E;
inline constexpr uint8_t kSite = 0x64;
inline constexpr uint8_t kPositionPair = 0x65;
inline constexpr uint8_t kPark = 0x69;
inline constexpr uint8_t kReferencePosition = 0x6A;
}  // namespace request

inline constexpr uint8_t kBothAxes = 0xC0;
// Every request that waits for a reply gives up after 32 ticks (8 s at the heartbeat's 250 ms).
inline constexpr uint32_t kReplyTimeoutTicks = 32;
inline constexpr uint32_t kPauseTicks = 2;
inline constexpr uint32_t kPierEast = 7;
inline constexpr uint32_t kPierWest = 6;

// Payload bytes that each block reply's layout reads (its N must be at least this).
inline constexpr uint32_t kIdentityBytes = 5;
inline constexpr uint32_t kOldIdentityBytes = 3;
inline constexpr uint32_t kFirmwareBytes = 5;
inline constexpr uint32_t kAxisBlockBytes = 29;
inline constexpr uint32_t kSettingsBlockBytes = 58;
inline constexpr uint32_t kMeridianFlipBytes = 5;
inline constexpr uint32_t kSiteBytes = 9;
inline constexpr uint32_t kVoltageBytes = 5;
// An acknowledgement carries only the code of the request it answers.
inline constexpr uint32_t kAcknowledgementBytes = 1;

// ---------------------------------------------------------------------------------------------
// A reply frame as the handler reads it: payload offsets from the byte after N. Only the bytes
// this frame really carried are visible; everything past min(frame length, N + 2) reads as 0,
// because the reassembler's buffer still holds the tail of earlier, longer frames there.

class ReplyView {
  public:
    ReplyView(const uint8_t* frame, size_t length) {
        if (frame == nullptr || length < 2) {
            return;
        }
        const size_t held =
            length < ReplyReassembler::kBufferSize ? length : ReplyReassembler::kBufferSize;
        announced_ = frame[1];
        const size_t end = static_cast<size_t>(announced_) + 2;
        available_ = held < end ? held : end;
        frame_ = frame;
    }

    [[nodiscard]] uint32_t announced() const { return announced_; }

    [[nodiscard]] uint8_t u8(size_t offset) const {
        const size_t index = offset + 2;
        return index < available_ ? frame_[index] : 0;
    }
    [[nodiscard]] uint32_t le16(size_t offset) const {
        return static_cast<uint32_t>(u8(offset)) | (static_cast<uint32_t>(u8(offset + 1)) << 8);
    }
    [[nodiscard]] uint32_t le32(size_t offset) const {
        return le16(offset) | (le16(offset + 2) << 16);
    }

  private:
    const uint8_t* frame_ = nullptr;
    size_t available_ = 0;
    uint32_t announced_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Operation messages: header, code, arguments. Arguments are read only from the bytes the message
// holds (bounded by both the given length and the header's own length field).

class OperationArgs {
  public:
    OperationArgs(const uint8_t* arguments, size_t count) : arguments_(arguments), count_(count) {}

    [[nodiscard]] size_t count() const { return count_; }
    [[nodiscard]] uint32_t u8(size_t offset) const {
        return offset < count_ ? arguments_[offset] : 0;
    }
    [[nodiscard]] uint32_t le16(size_t offset) const { return u8(offset) | (u8(offset + 1) << 8); }
    [[nodiscard]] uint32_t le32(size_t offset) const {
        return le16(offset) | (le16(offset + 2) << 16);
    }

  private:
    const uint8_t* arguments_;
    size_t count_;
};

// Argument bytes each operation needs after its code; a message with fewer is dropped.
size_t argumentBytes(uint8_t code) {
    switch (code) {
        case op::kStartMove:
            return 2;
        case op::kStopMove:
        case op::kSetTracking:
        case op::kSetExp:
        case op::kInitScope:
            return 1;
        case op::kSetGearRatios:
        case op::kSetPositionPair:
            return 8;
        case op::kSetReverseFlags:
        case op::kSetMotorCurrent:
        case op::kSetDecay:
            return 3;
        case op::kSetOvertone:
        case op::kSetAccelerations:
        case op::kSetDecelerations:
        case op::kSetGuidingRates:
            return 2;
        case op::kSetCurrentBoost:
            return 5;
        case op::kSetMaxSpeeds:
            return 4;
        default:
            return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Arithmetic of the controller's speed units: 32-bit wrapping, done in unsigned to stay defined.

int32_t wrappingProduct(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

int32_t wrappingNegate(int32_t value) {
    return static_cast<int32_t>(0u - static_cast<uint32_t>(value));
}

// Drops the fraction; values outside the 32-bit range (only reachable through rounding at the
// very ends of the range) are pinned to it instead of being undefined.
int32_t truncateToInt32(double value) {
    if (!(value > -2147483649.0)) {
        return INT32_MIN;
    }
    if (value >= 2147483648.0) {
        return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

// Manual speeds for indices 0..6 in 64ths of the sidereal rate.
inline constexpr int32_t kSpeedTable[7] = {21, 42, 64, 85, 106, 128, 256};
inline constexpr uint32_t kTopSpeedIndex = 31;

uint8_t deriveFeatureLevel(uint32_t hardwareType, uint32_t firmware) {
    switch (hardwareType) {
        case 1:
            if (firmware <= 0x01000000u) {
                return 1;
            }
            if (firmware == 0x01000001u) {
                return 2;
            }
            if (firmware <= 0x01000003u) {
                return 3;
            }
            if (firmware <= 0x01000008u) {
                return 4;
            }
            if (firmware == 0x01000009u) {
                return 5;
            }
            return 6;
        case 3:
        case 4:
            return 4;
        case 5:
            return firmware <= 0x01000004u ? 4 : 6;
        default:
            return 1;
    }
}

bool isSupportedHardware(uint32_t hardwareType) {
    return hardwareType == 1 || hardwareType == 3 || hardwareType == 4 || hardwareType == 5;
}

void takeAxisBlock(MountSettings& s, const ReplyView& r, bool withMountType) {
    s.axisBlockReserved[kRa] = r.u8(2);
    s.gearRatio[kRa] = r.le32(3);
    s.countsPerRevolution[kRa] = r.le32(7);
    s.siderealRate[kRa] = static_cast<int32_t>(r.le32(11));
    s.axisBlockReserved[kDe] = r.u8(15);
    s.gearRatio[kDe] = r.le32(16);
    s.countsPerRevolution[kDe] = r.le32(20);
    s.siderealRate[kDe] = static_cast<int32_t>(r.le32(24));
    if (withMountType) {
        s.mountType = r.u8(28);
    }
}

void takeSettingsBlock(MountSettings& s, const ReplyView& r) {
    s.reverseRotation = r.u8(2);
    s.reverseAutoguiding = static_cast<uint8_t>(r.u8(3) & 0x0F);
    s.reverseLimitSwitches = static_cast<uint8_t>(r.u8(3) >> 4);
    // One 27-byte part per axis, RA first.
    constexpr size_t kAxisPart = 27;
    for (int a = 0; a < 2; ++a) {
        const size_t o = 4 + kAxisPart * static_cast<size_t>(a);
        s.maxSpeed[a] = r.le16(o);
        s.guidingRate[a] = r.u8(o + 2);
        s.maxCurrent[a] = static_cast<uint16_t>(r.le16(o + 3));
        for (int m = 0; m < 3; ++m) {
            s.motorCurrent[a][m] =
                static_cast<uint16_t>(r.le16(o + 5 + 2 * static_cast<size_t>(m)));
            s.decay[a][m] = r.u8(o + 11 + static_cast<size_t>(m));
        }
        s.thirdOvertone[a] = static_cast<int8_t>(r.u8(o + 14));
        s.overtoneReserved[a] = r.u8(o + 15);
        s.acceleration[a] = r.u8(o + 16);
        s.deceleration[a] = r.u8(o + 17);
        s.incCurrentAt[a] = static_cast<uint16_t>(r.le16(o + 18));
        s.incCurrentReserved[a] = static_cast<uint16_t>(r.le16(o + 20));
        s.settingsReservedByte[a] = r.u8(o + 22);
        s.settingsReservedWord[a] = r.le32(o + 23);
    }
}

}  // namespace

ControllerLink::ControllerLink(LinkPort& port, TelescopeListener& listener)
    : port_(port), listener_(listener) {}

// ---------------------------------------------------------------------------------------------
// Handshake and ticks

int ControllerLink::handshakeStart() {
    settings_ = MountSettings{};
    // A partial frame from an earlier connection must not swallow the first reply of this one.
    reassembler_.reset();
    pierSide_ = kPierEast;
    reloadMarker_ = 1;
    movingAxes_ = 0;
    (void)port_.takeFailure();
    awaitReply(link::kIdentity);
    nextState_ = link::kIdle;
    sendRequest(port_, request::kIdentity);
    return takeSendFailure();
}

int ControllerLink::tickHandler() {
    bool timedOut = false;
    if (timeoutCounter_ != 0) {
        --timeoutCounter_;
        if (timeoutCounter_ == 0) {
            // While connecting the user hears that the connect failed; once connected, that the
            // controller stopped answering a command (or the read-back of reloaded defaults).
            const bool connecting = linkState_ <= link::kSite && reloadMarker_ == 1;
            listener_.onStatus(connecting ? status::kTimeout : status::kNoAnswer);
            timedOut = true;
        }
    }
    if (linkState_ == link::kPause) {
        if (delayCounter_ != 0) {
            --delayCounter_;
        }
        if (delayCounter_ == 0) {
            linkState_ = nextState_;
            nextState_ = link::kIdle;
            (void)replyHandler(ReplyMode::Enter, nullptr, 0);
        }
    }
    if (timedOut) {
        return kResultLinkFailed;
    }
    return takeSendFailure();
}

int ControllerLink::takeReplyBytes(const uint8_t* bytes, size_t count) {
    int result = kResultNothing;
    if (bytes == nullptr) {
        return result;
    }
    for (size_t i = 0; i < count; ++i) {
        if (reassembler_.feed(bytes[i])) {
            // A later frame of the same chunk (an acknowledgement that is dropped while idle, say)
            // must not hide that the handshake finished or that the link failed: the dispatcher
            // acts on the last result that asked for something.
            const int frameResult =
                replyHandler(ReplyMode::Reply, reassembler_.frame(), reassembler_.frameLength());
            if (frameResult != kResultNothing) {
                result = frameResult;
            }
            if (takeSendFailure() == kResultLinkFailed) {
                return kResultLinkFailed;
            }
        }
    }
    return result;
}

int ControllerLink::takeSendFailure() {
    if (!port_.takeFailure()) {
        return kResultNothing;
    }
    // The controller did not get the request; the line is stalled or gone, and nothing said
    // afterwards could be trusted to arrive either.
    listener_.onStatus(status::kSendFailed);
    return kResultLinkFailed;
}

bool ControllerLink::stopHandMove() {
    if (movingAxes_ == 0) {
        return false;
    }
    movingAxes_ = 0;
    (void)sendRequest(port_, request::kStopMove, B{0}, B{axis::kBoth});
    (void)port_.takeFailure();  // the port closes next, whatever became of it
    return true;
}

void ControllerLink::awaitReply(uint32_t state) {
    linkState_ = state;
    timeoutCounter_ = kReplyTimeoutTicks;
}

void ControllerLink::becomeIdle() {
    linkState_ = link::kIdle;
    // The awaited reply has come (or nothing is awaited): there is nothing left to time out, and
    // an idle link needs no ticks.
    timeoutCounter_ = 0;
}

void ControllerLink::pauseTo(uint32_t state) {
    // The reply that ends a request starts the pause; the next request arms its own time-out.
    timeoutCounter_ = 0;
    linkState_ = link::kPause;
    nextState_ = state;
    delayCounter_ = kPauseTicks;
}

int ControllerLink::replyHandler(ReplyMode mode, const uint8_t* frame, size_t length) {
    if (mode == ReplyMode::Enter) {
        return enterState();
    }
    return handleReply(frame, length);
}

int ControllerLink::enterState() {
    uint8_t code = 0;
    switch (linkState_) {
        case link::kPortType:
            code = request::kPortType;
            break;
        case link::kFirmware:
            code = request::kFirmware;
            break;
        case link::kAxisBlock:
            code = request::kAxisBlock;
            break;
        case link::kSettingsBlock:
            code = request::kSettingsBlock;
            break;
        default:
            return kResultNothing;
    }
    timeoutCounter_ = kReplyTimeoutTicks;
    sendRequest(port_, code);
    return kResultNothing;
}

int ControllerLink::handleIdentity(const uint8_t* frame, size_t length) {
    const ReplyView r(frame, length);
    if (r.announced() == 5) {
        if (r.u8(0) != 0x01) {
            return kResultNothing;
        }
        settings_.hardwareVersion = r.le32(1);
        settings_.hardwareType = settings_.hardwareVersion >> 16;
        if (!isSupportedHardware(settings_.hardwareType)) {
            listener_.onStatus(status::kIncompatibleDevice);
            return kResultLinkFailed;
        }
        pauseTo(link::kPortType);
        return kResultNothing;
    }
    if (r.announced() == 3) {
        const uint32_t low = r.u8(1);
        const uint32_t second = r.u8(2);
        settings_.hardwareVersion = 0x00010000u + 256u * second + low;
        settings_.hardwareType = 0;
        if (low == 0 || (low == 1 && second <= 1)) {
            // Too old to be served: say who it is and stop; the port stays open.
            linkState_ = link::kNoLink;
            timeoutCounter_ = 0;
            listener_.onSettings(settings_, report::kTooOld);
            return kResultNothing;
        }
        pauseTo(link::kPortType);
    }
    return kResultNothing;
}

int ControllerLink::finishSettingsRead() {
    becomeIdle();
    listener_.onSettings(settings_,
                         reloadMarker_ == 2 ? report::kDefaultsReloaded : report::kConnected);
    return kResultHandshakeDone;
}

uint32_t ControllerLink::awaitedBlockBytes() const {
    switch (linkState_) {
        case link::kIdentity:
            return kIdentityBytes;
        case link::kFirmware:
            return kFirmwareBytes;
        case link::kAxisBlock:
        case link::kAxisBlockReread:
            return kAxisBlockBytes;
        case link::kSettingsBlock:
            // Below level 3 nothing of the block is read, so no length can be wrong.
            return settings_.featureLevel >= 3 ? kSettingsBlockBytes : 0;
        case link::kMeridianFlip:
            return kMeridianFlipBytes;
        case link::kSite:
            return kSiteBytes;
        case link::kVoltage:
            return kVoltageBytes;
        default:
            return 0;
    }
}

int ControllerLink::refuseShortBlock() {
    // During the connection the controller is not the device it claims to be; afterwards a cut
    // reply must not become settings that a later edit writes back, so the record keeps what it
    // had and the link is free again.
    const bool readBack =
        linkState_ == link::kAxisBlockReread || linkState_ == link::kVoltage || reloadMarker_ == 2;
    if (!readBack) {
        listener_.onStatus(status::kUnknownDevice);
        return kResultLinkFailed;
    }
    becomeIdle();
    listener_.onStatus(status::kCommunicationError);
    return kResultNothing;
}

int ControllerLink::handleReply(const uint8_t* frame, size_t length) {
    const ReplyView r(frame, length);
    if (const uint32_t needed = awaitedBlockBytes(); needed != 0) {
        if (r.announced() == kAcknowledgementBytes) {
            // The late acknowledgement of an earlier write, not the block: keep waiting.
            return kResultNothing;
        }
        // The identity has a three-byte form of its own; longer identities stay ignored.
        const bool oldIdentity =
            linkState_ == link::kIdentity && r.announced() == kOldIdentityBytes;
        if (r.announced() < needed && !oldIdentity) {
            return refuseShortBlock();
        }
    }
    switch (linkState_) {
        case link::kIdentity:
            return handleIdentity(frame, length);
        case link::kPortType:
            settings_.portType = r.announced() >= 2 ? r.u8(1) : 0;
            pauseTo(link::kFirmware);
            return kResultNothing;
        case link::kFirmware:
            settings_.firmwareVersion = r.le32(1);
            settings_.featureLevel =
                deriveFeatureLevel(settings_.hardwareType, settings_.firmwareVersion);
            pauseTo(link::kAxisBlock);
            return kResultNothing;
        case link::kAxisBlock:
            takeAxisBlock(settings_, r, true);
            // A manual move during a read-back must not combine the new sidereal rate with
            // a top speed worked out from the old one.
            recomputeMaxRates(settings_);
            pauseTo(link::kSettingsBlock);
            return kResultNothing;
        case link::kSettingsBlock:
            if (settings_.featureLevel >= 3) {
                takeSettingsBlock(settings_, r);
            }
            recomputeMaxRates(settings_);
            if (settings_.featureLevel <= 4) {
                return finishSettingsRead();
            }
            awaitReply(link::kMeridianFlip);
            sendRequest(port_, request::kMeridianFlip);
            return kResultNothing;
        case link::kMeridianFlip:
            settings_.meridianFlipParamA = r.u8(2);
            settings_.meridianFlipParamB = r.u8(3);
            settings_.meridianFlipHysteresis = r.u8(4);
            awaitReply(link::kSite);
            sendRequest(port_, request::kSite);
            return kResultNothing;
        case link::kSite:
            settings_.latitude = static_cast<int32_t>(r.le32(1));
            settings_.longitude = static_cast<int32_t>(r.le32(5));
            return finishSettingsRead();
        case link::kGearRatiosWritten:
            awaitReply(link::kAxisBlockReread);
            sendRequest(port_, request::kAxisBlock);
            return kResultNothing;
        case link::kAxisBlockReread:
            // The mount type is the site settings' business, not the gear ratios'.
            takeAxisBlock(settings_, r, false);
            becomeIdle();
            recomputeMaxRates(settings_);
            listener_.onSettings(settings_, report::kGearRatios);
            return kResultNothing;
        case link::kPositionPair:
            becomeIdle();
            return kResultNothing;
        case link::kVoltage:
            becomeIdle();
            listener_.onVoltage(r.le16(3));
            return kResultNothing;
        case link::kReferencePosition:
            becomeIdle();
            listener_.onStatus(status::kSynchronized);
            return kResultNothing;
        case link::kParkPosition:
            becomeIdle();
            listener_.onStatus(status::kParkMarked);
            return kResultNothing;
        case link::kStoreSettings:
            becomeIdle();
            listener_.onStatus(status::kParametersStored);
            return kResultNothing;
        case link::kReloadDefaults:
            // The read-back runs through the handshake's settings states; the marker makes its
            // report say "defaults reloaded".
            reloadMarker_ = 2;
            awaitReply(link::kAxisBlock);
            sendRequest(port_, request::kAxisBlock);
            return kResultNothing;
        case link::kSiteCoordinates:
        case link::kMountTypeWritten:
        case link::kHysteresisWritten:
            siteChainNext(linkState_);
            return kResultNothing;
        default:
            // Nothing pending (no link, idle, pause): an unasked-for frame, such as the
            // acknowledgement of a fire-and-forget request.
            return kResultNothing;
    }
}

// ---------------------------------------------------------------------------------------------
// The site chain: coordinates, then mount type, then hysteresis, one acknowledged request at a
// time, each step only when its bit of the change mask is set.

void ControllerLink::siteChainNext(uint32_t fromState) {
    const uint32_t mask = siteCopy_.changeMask;
    if (fromState == link::kSiteCoordinates && (mask & site::kMountTypeChanged) != 0) {
        mountTypeWrite();
        return;
    }
    if (fromState != link::kHysteresisWritten && (mask & site::kHysteresisChanged) != 0) {
        hysteresisWrite();
        return;
    }
    becomeIdle();
    listener_.onStatus(status::kSettingsDone);
}

void ControllerLink::mountTypeWrite() {
    awaitReply(link::kMountTypeWritten);
    settings_.mountType = static_cast<uint8_t>(siteCopy_.mountType);
    sendRequest(port_, request::kMountType, B{1}, B{settings_.mountType});
}

void ControllerLink::hysteresisWrite() {
    awaitReply(link::kHysteresisWritten);
    settings_.meridianFlipHysteresis = static_cast<uint8_t>(siteCopy_.hysteresis);
    // The two flip parameters go back unchanged; only the hysteresis is the user's.
    sendRequest(port_, request::kHysteresis, B{1}, B{1}, B{settings_.meridianFlipParamA},
                B{settings_.meridianFlipParamB}, B{settings_.meridianFlipHysteresis});
}

// ---------------------------------------------------------------------------------------------
// Command execution

bool ControllerLink::requireIdle() {
    if (linkState_ == link::kIdle) {
        return true;
    }
    listener_.onStatus(status::kCommunicationError);
    return false;
}

int ControllerLink::executeOperation(const uint8_t* message, size_t length, bool handshakeDone) {
    if (message == nullptr || length < 1) {
        return kResultNothing;
    }
    const size_t declared = message[0] & 0x1Fu;
    if (declared == 0 || length < 2) {
        return kResultNothing;  // no operation code
    }
    if (!handshakeDone) {
        listener_.onStatus(status::kNotConnectedYet);
        return kResultNothing;
    }
    const uint8_t code = message[1];
    const size_t held = length < declared + 1 ? length : declared + 1;
    const OperationArgs a(message + 2, held - 2);
    if (a.count() < argumentBytes(code)) {
        // Cut short on its way here; sending guessed values would be worse than nothing.
        return kResultNothing;
    }

    switch (code) {
        case op::kStartMove:
            startMove(a.u8(0), a.u8(1));
            break;
        case op::kStopMove:
            stopMove(a.u8(0));
            break;
        case op::kSetTracking:
            sendRequest(port_, request::kTracking, B{0}, B{a.u8(0)});
            break;
        case op::kSetExp:
            sendRequest(port_, request::kExp, B{0}, B{a.u8(0)});
            break;
        case op::kSendCode20:
            break;
        case op::kStoreSettings:
            if (requireIdle()) {
                awaitReply(link::kStoreSettings);
                sendRequest(port_, request::kStoreSettings, B{1});
            }
            break;
        case op::kSendCode22:
            if (requireIdle()) {
                sendRequest(port_, request::kCode22);
            }
            break;
        case op::kReloadDefaults:
            // Unguarded: it also serves to bring a link stuck on a lost reply back to life.
            awaitReply(link::kReloadDefaults);
            sendRequest(port_, request::kReloadDefaults, B{1});
            break;
        case op::kSetGearRatios:
            if (requireIdle()) {
                awaitReply(link::kGearRatiosWritten);
                sendRequestLong(port_, request::kGearRatios, B{1}, B{kBothAxes}, L{a.le32(0)},
                                L{a.le32(4)});
            }
            break;
        case op::kSetReverseFlags:
            if (requireIdle()) {
                sendRequest(port_, request::kReverseFlags, B{0}, B{kBothAxes}, B{a.u8(0)},
                            B{a.u8(1)}, B{a.u8(2)});
            }
            break;
        case op::kSetMotorCurrent:
            if (requireIdle()) {
                sendRequestWord(port_, request::kMotorCurrent, B{0}, B{a.u8(0)}, W{a.le16(1)});
            }
            break;
        case op::kSetDecay:
            // The decay travels as 16 bits on the pipe but the controller takes one byte.
            if (requireIdle()) {
                sendRequest(port_, request::kDecay, B{0}, B{a.u8(0)}, B{a.u8(1)});
            }
            break;
        case op::kSetOvertone:
            if (requireIdle()) {
                sendRequest(port_, request::kOvertone, B{0}, B{a.u8(0)}, B{a.u8(1)});
            }
            break;
        case op::kSetCurrentBoost:
            if (requireIdle()) {
                sendRequestWord(port_, request::kCurrentBoost, B{0}, B{a.u8(0)}, W{a.le16(1)},
                                W{a.le16(3)});
            }
            break;
        case op::kSetMaxSpeeds:
            if (requireIdle()) {
                setMaxSpeeds(a.le16(0), a.le16(2));
            }
            break;
        case op::kSetAccelerations:
            if (requireIdle()) {
                sendRequest(port_, request::kAccelerations, B{0}, B{kBothAxes}, B{a.u8(0)},
                            B{a.u8(1)});
            }
            break;
        case op::kSetDecelerations:
            if (requireIdle()) {
                sendRequest(port_, request::kDecelerations, B{0}, B{kBothAxes}, B{a.u8(0)},
                            B{a.u8(1)});
            }
            break;
        case op::kSetGuidingRates:
            if (requireIdle()) {
                sendRequest(port_, request::kGuidingRates, B{0}, B{kBothAxes}, B{a.u8(0)},
                            B{a.u8(1)});
            }
            break;
        case op::kSetPositionPair:
            awaitReply(link::kPositionPair);
            sendRequestLong(port_, request::kPositionPair, B{0}, L{a.le32(0)}, L{a.le32(4)});
            break;
        case op::kApplySiteSettings:
            applySiteSettings();
            break;
        case op::kMeasureVoltage:
            awaitReply(link::kVoltage);
            sendRequest(port_, request::kVoltage, B{0}, B{0});
            break;
        case op::kInitScope:
            initScope(a.u8(0));
            break;
        case op::kDefineParkPosition:
            defineParkPosition();
            break;
        default:
            break;
    }
    return takeSendFailure();
}

int32_t ControllerLink::manualSpeed(uint32_t directionCode, uint32_t speedIndex,
                                    uint8_t* maskOut) const {
    uint8_t mask = 0x00;
    int32_t base = 200;
    int32_t top = 200000;
    if (directionCode == direction::kNorth || directionCode == direction::kSouth) {
        mask = axis::kDe;
        base = settings_.siderealRate[kDe];
        top = settings_.maxRate[kDe];
    } else if (directionCode == direction::kWest || directionCode == direction::kEast) {
        mask = axis::kRa;
        base = settings_.siderealRate[kRa];
        top = settings_.maxRate[kRa];
    }
    // Past 31 the curve would overshoot maxRate.
    const uint32_t index = speedIndex > kTopSpeedIndex ? kTopSpeedIndex : speedIndex;

    int32_t speed = 0;
    if (index <= 6) {
        speed = wrappingProduct(base, kSpeedTable[index]) / 64;
    } else {
        // A 1.5-power curve from four times the sidereal rate at index 6 up to maxRate at 31.
        const double x = std::pow(static_cast<double>(index - 6) / 25.0, 1.5);
        const int32_t fourTimesBase = wrappingProduct(base, 256) / 64;
        const double value = static_cast<double>(top) * x + (1.0 - x) * fourTimesBase;
        speed = truncateToInt32(value);
    }

    if (directionCode == direction::kSouth || directionCode == direction::kEast) {
        speed = wrappingNegate(speed);
    }
    // With the telescope on the eastern side of the pier, declination runs the other way.
    if ((directionCode == direction::kNorth || directionCode == direction::kSouth) &&
        pierSide_ == kPierEast) {
        speed = wrappingNegate(speed);
    }
    if (maskOut != nullptr) {
        *maskOut = mask;
    }
    return speed;
}

void ControllerLink::startMove(uint32_t directionCode, uint32_t speedIndex) {
    uint8_t mask = 0;
    const int32_t speed = manualSpeed(directionCode, speedIndex, &mask);
    // Counted as moving even if the write fails: part of it may have reached the controller.
    movingAxes_ = static_cast<uint8_t>(movingAxes_ | mask);
    if (sendRequestLong(port_, request::kStartMove, B{0}, B{mask},
                        L{static_cast<uint32_t>(speed)})) {
        listener_.onStatus(status::kManualMovement);
    }
}

void ControllerLink::stopMove(uint32_t directionCode) {
    uint8_t mask = 0x00;
    if (directionCode == direction::kBoth) {
        mask = axis::kBoth;
    } else if (directionCode == direction::kWest || directionCode == direction::kEast) {
        mask = axis::kRa;
    } else if (directionCode == direction::kNorth || directionCode == direction::kSouth) {
        mask = axis::kDe;
    }
    // "Ready" only once the stop has left; a stop that did not is reported as such.
    if (sendRequest(port_, request::kStopMove, B{0}, B{mask})) {
        movingAxes_ = static_cast<uint8_t>(movingAxes_ & ~mask);
        listener_.onStatus(status::kReady);
    }
}

void ControllerLink::setMaxSpeeds(uint32_t ra, uint32_t de) {
    // Takes effect for the next manual move at once, without waiting for a settings report.
    settings_.maxSpeed[kRa] = ra & 0xFFFFu;
    settings_.maxSpeed[kDe] = de & 0xFFFFu;
    recomputeMaxRates(settings_);
    sendRequestWord(port_, request::kMaxSpeeds, B{0}, B{kBothAxes}, W{settings_.maxSpeed[kRa]},
                    W{settings_.maxSpeed[kDe]});
}

void ControllerLink::applySiteSettings() {
    siteCopy_ = port_.pendingSiteSettings();
    const uint32_t mask = siteCopy_.changeMask;
    if ((mask & (site::kLatitudeChanged | site::kLongitudeChanged)) != 0) {
        // The record keeps the controller's coordinates until it is read again.
        awaitReply(link::kSiteCoordinates);
        sendRequestLong(port_, request::kPositionPair, B{1},
                        L{static_cast<uint32_t>(siteCopy_.latitude)},
                        L{static_cast<uint32_t>(siteCopy_.longitude)});
    } else if ((mask & site::kMountTypeChanged) != 0) {
        mountTypeWrite();
    } else if ((mask & site::kHysteresisChanged) != 0) {
        hysteresisWrite();
    }
}

void ControllerLink::initScope(uint32_t positionCode) {
    if (settings_.featureLevel >= 6) {
        // The controller knows the positions itself; it is told which by three letters.
        struct Position {
            uint8_t code;
            char letters[3];
        };
        static constexpr Position kPositions[] = {
            {2, {'A', 'E', ' '}},  {4, {'E', 'E', ' '}},  {5, {'E', 'W', ' '}},
            {6, {'Z', 'E', ' '}},  {7, {'Z', 'W', ' '}},  {8, {'S', 'H', 'E'}},
            {9, {'S', 'H', 'W'}},  {10, {'N', 'H', 'E'}}, {11, {'N', 'H', 'W'}},
            {12, {'E', 'H', ' '}}, {13, {'W', 'H', ' '}},
        };
        for (const Position& p : kPositions) {
            if (p.code == positionCode) {
                awaitReply(link::kReferencePosition);
                sendRequest(
                    port_, request::kReferencePosition, B{1}, B{static_cast<uint8_t>(p.letters[0])},
                    B{static_cast<uint8_t>(p.letters[1])}, B{static_cast<uint8_t>(p.letters[2])});
                return;
            }
        }
        becomeIdle();
        return;
    }

    // Older firmware: set both axis positions directly, a quarter turn from the pole.
    const uint32_t quarterRa = settings_.countsPerRevolution[kRa] / 4;
    const uint32_t quarterDe = settings_.countsPerRevolution[kDe] / 4;
    uint32_t ra = 0;
    uint32_t de = 0;
    switch (positionCode) {
        case 4:
            ra = 0u - quarterRa;
            de = quarterDe;
            pierSide_ = kPierEast;
            break;
        case 5:
            ra = quarterRa;
            de = 0u - quarterDe;
            pierSide_ = kPierWest;
            break;
        case 12:
            de = 0u - quarterDe;
            pierSide_ = kPierWest;
            break;
        case 13:
            de = quarterDe;
            pierSide_ = kPierEast;
            break;
        default:
            return;
    }
    becomeIdle();
    sendRequestLong(port_, request::kSetPosition, B{1}, B{kBothAxes}, L{ra}, L{de});
}

void ControllerLink::defineParkPosition() {
    if (settings_.featureLevel >= 6) {
        awaitReply(link::kParkPosition);
        sendRequest(port_, request::kPark, B{1}, B{1});
    } else if (settings_.featureLevel >= 4) {
        awaitReply(link::kParkPosition);
        sendRequest(port_, request::kParkLegacy, B{1}, B{0}, B{pierSide_ == kPierWest ? 1u : 0u});
    } else {
        listener_.onStatus(status::kNoParking);
    }
}

}  // namespace vornic
