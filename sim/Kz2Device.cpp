#include "sim/Kz2Device.h"

#include <cmath>
#include <cstring>

namespace vornic::sim {

namespace {

constexpr uint8_t kRequestStart = 0xAA;
constexpr uint8_t kReplyStart = 0x55;

constexpr uint8_t kAxisRa = 0x80;
constexpr uint8_t kAxisDe = 0x40;

// One sidereal day in milliseconds: an axis driven at its sidereal rate turns once in this time.
constexpr double kSiderealDayMs = 86164090.5;

// The factory gearing of 172800 steps per revolution tracks at speed value 1000; other gearings
// scale the sidereal speed value with the number of steps.
constexpr uint64_t kReferenceGearRatio = 172800;
constexpr uint64_t kReferenceSiderealRate = 1000;

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

int32_t wrap32(int64_t v) {
    return static_cast<int32_t>(static_cast<uint32_t>(v));
}

// Calls f(axis) for each axis named in an axis mask byte.
template <typename F>
void forAxes(uint8_t mask, F f) {
    if ((mask & kAxisRa) != 0) {
        f(kRa);
    }
    if ((mask & kAxisDe) != 0) {
        f(kDe);
    }
}

int32_t siderealRateFor(uint32_t gearRatio) {
    const uint64_t rate =
        (gearRatio * kReferenceSiderealRate + kReferenceGearRatio / 2) / kReferenceGearRatio;
    return rate == 0 ? 1 : static_cast<int32_t>(rate);
}

// Polar distance, scaled so that 90 degrees is `quarter` counts.
int32_t polarCounts(uint32_t quarter, int64_t polarUnits) {
    return wrap32(static_cast<int64_t>(quarter) * polarUnits / (90LL * kUnitsPerDegree));
}

}  // namespace

ConfigImage factoryImage() {
    ConfigImage c;
    for (AxisImage& a : c.axis) {
        a.axisBlockReserved = 0;
        a.gearRatio = 172800;
        a.countsPerRevolution = 172800 * kCountsPerStep;
        a.siderealRate = 1000;
        a.maxSpeed = 800;
        a.guidingRate = 8;
        a.maxCurrent = 1500;
        a.motorCurrent = {300, 600, 1200};
        a.decay = {0, 1, 2};
        a.thirdOvertone = 0;
        a.overtoneReserved = 0;
        a.acceleration = 64;
        a.deceleration = 64;
        a.incCurrentAt = 120;
        a.incCurrentReserved = 120;
        a.settingsReservedByte = 0;
        a.settingsReservedWord = 0;
    }
    c.mountType = 0;
    c.meridianFlipParamA = 5;
    c.meridianFlipParamB = 15;
    c.meridianFlipHysteresis = 10;
    // 48°08'14" N, 11°34'31" E.
    c.latitude = 48 * kUnitsPerDegree + 8 * 1440 + 14 * 24;
    c.longitude = 11 * kUnitsPerDegree + 34 * 1440 + 31 * 24;
    return c;
}

bool identityForLevel(int level, DeviceIdentity& identity) {
    static constexpr uint32_t kFirmware[] = {0,          0x01000000, 0x01000001, 0x01000002,
                                             0x01000004, 0x01000009, 0x0100000A};
    if (level < 0 || level > 6) {
        return false;
    }
    identity = DeviceIdentity{};
    if (level == 0) {
        identity.oldForm = true;
        identity.oldLow = 1;
        identity.oldHigh = 1;
        identity.firmwareVersion = 0x01000000;
        return true;
    }
    identity.hardwareVersion = 0x00010001;
    identity.firmwareVersion = kFirmware[level];
    return true;
}

int firmwareLevel(const DeviceIdentity& identity) {
    if (identity.oldForm) {
        const bool tooOld = identity.oldLow == 0 || (identity.oldLow == 1 && identity.oldHigh <= 1);
        return tooOld ? 0 : 1;
    }
    const uint32_t type = identity.hardwareVersion >> 16;
    const uint32_t fw = identity.firmwareVersion;
    switch (type) {
        case 1:
            if (fw <= 0x01000000) {
                return 1;
            }
            if (fw == 0x01000001) {
                return 2;
            }
            if (fw <= 0x01000003) {
                return 3;
            }
            if (fw <= 0x01000008) {
                return 4;
            }
            return fw == 0x01000009 ? 5 : 6;
        case 3:
        case 4:
            return 4;
        case 5:
            return fw <= 0x01000004 ? 4 : 6;
        default:
            return 1;
    }
}

Kz2Device::Kz2Device(const DeviceIdentity& identity, const ConfigImage& factory,
                     const ConfigImage& stored)
    : identity_(identity),
      level_(firmwareLevel(identity)),
      factory_(factory),
      stored_(stored),
      live_(stored) {}

void Kz2Device::feed(const uint8_t* data, size_t size, DeviceSink& sink) {
    if (data == nullptr) {
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        takeByte(data[i], sink);
    }
}

void Kz2Device::takeByte(uint8_t b, DeviceSink& sink) {
    rxIdleMs_ = 0;
    switch (rxState_) {
        case RxState::hunting:
            if (b == kRequestStart) {
                rxFrame_[0] = b;
                rxState_ = RxState::length;
            }
            return;
        case RxState::length:
            if (b == 0 || b > kMaxRequestPayload) {
                // Not a frame after all; the byte may itself be the start of the real one.
                rxState_ = RxState::hunting;
                if (b == kRequestStart) {
                    rxState_ = RxState::length;
                }
                return;
            }
            rxFrame_[1] = b;
            rxExpected_ = b;
            rxCount_ = 0;
            rxState_ = RxState::payload;
            return;
        case RxState::payload:
            // rxExpected_ <= kMaxRequestPayload, so the index stays inside the frame buffer.
            rxFrame_[2 + rxCount_] = b;
            ++rxCount_;
            if (rxCount_ >= rxExpected_) {
                rxState_ = RxState::hunting;
                handleRequest(sink);
            }
            return;
    }
}

void Kz2Device::advance(uint32_t ms) {
    if (rxState_ != RxState::hunting) {
        rxIdleMs_ = ms >= kPartialFrameTimeoutMs ? kPartialFrameTimeoutMs : rxIdleMs_ + ms;
        if (rxIdleMs_ >= kPartialFrameTimeoutMs) {
            rxState_ = RxState::hunting;
        }
    }
    for (int axis = kRa; axis <= kDe; ++axis) {
        const AxisImage& a = live_.axis[axis];
        const int32_t v = speed(axis);
        if (v == 0 || a.siderealRate <= 0 || a.countsPerRevolution == 0) {
            continue;
        }
        const double countsPerMs = static_cast<double>(v) * a.countsPerRevolution /
                                   (static_cast<double>(a.siderealRate) * kSiderealDayMs);
        const double delta = countsPerMs * ms + fraction_[axis];
        const double whole = std::trunc(delta);
        fraction_[axis] = delta - whole;
        // Registers wrap at 32 bits; reducing first keeps the conversion in range.
        const auto step = static_cast<int64_t>(std::fmod(whole, 4294967296.0));
        position_[axis] = wrap32(position_[axis] + step);
    }
}

int32_t Kz2Device::position(int axis) const {
    return wrap32(position_[axis & 1]);
}

int32_t Kz2Device::speed(int axis) const {
    axis &= 1;
    if (manualSpeed_[axis] != 0) {
        return manualSpeed_[axis];
    }
    if (axis == kRa && tracking_) {
        return live_.axis[kRa].siderealRate;
    }
    return 0;
}

void Kz2Device::reply(DeviceSink& sink, uint8_t code, const uint8_t* payload, size_t size) {
    std::array<uint8_t, kMaxReplyFrame> frame{};
    if (size > kMaxReplyFrame - 2) {
        size = kMaxReplyFrame - 2;
    }
    frame[0] = kReplyStart;
    frame[1] = static_cast<uint8_t>(size);
    std::memcpy(frame.data() + 2, payload, size);
    answered_ = true;
    sink.onReply(code, frame.data(), size + 2);
}

void Kz2Device::acknowledge(DeviceSink& sink, uint8_t code) {
    reply(sink, code, &code, 1);
}

void Kz2Device::replyIdentity(DeviceSink& sink) {
    uint8_t p[5] = {0x01};
    if (identity_.oldForm) {
        p[1] = identity_.oldLow;
        p[2] = identity_.oldHigh;
        reply(sink, 0x01, p, 3);
        return;
    }
    put32(p + 1, identity_.hardwareVersion);
    reply(sink, 0x01, p, 5);
}

void Kz2Device::replyAxisBlock(DeviceSink& sink) {
    uint8_t p[29] = {0x14};
    for (int axis = kRa; axis <= kDe; ++axis) {
        const AxisImage& a = live_.axis[axis];
        uint8_t* q = p + 2 + 13 * axis;
        q[0] = a.axisBlockReserved;
        put32(q + 1, a.gearRatio);
        put32(q + 5, a.countsPerRevolution);
        put32(q + 9, static_cast<uint32_t>(a.siderealRate));
    }
    p[28] = live_.mountType;
    reply(sink, 0x14, p, sizeof p);
}

void Kz2Device::replySettingsBlock(DeviceSink& sink) {
    uint8_t p[58] = {0x15};
    p[2] = live_.reverseRotation;
    p[3] = static_cast<uint8_t>((live_.reverseAutoguiding & 0x0F) |
                                ((live_.reverseLimitSwitches & 0x0F) << 4));
    for (int axis = kRa; axis <= kDe; ++axis) {
        const AxisImage& a = live_.axis[axis];
        uint8_t* q = p + 4 + 27 * axis;
        put16(q + 0, a.maxSpeed);
        q[2] = a.guidingRate;
        put16(q + 3, a.maxCurrent);
        for (int i = 0; i < 3; ++i) {
            put16(q + 5 + 2 * i, a.motorCurrent[i]);
            q[11 + i] = a.decay[i];
        }
        q[14] = static_cast<uint8_t>(a.thirdOvertone);
        q[15] = a.overtoneReserved;
        q[16] = a.acceleration;
        q[17] = a.deceleration;
        put16(q + 18, a.incCurrentAt);
        put16(q + 20, a.incCurrentReserved);
        q[22] = a.settingsReservedByte;
        put32(q + 23, a.settingsReservedWord);
    }
    reply(sink, 0x15, p, sizeof p);
}

void Kz2Device::handleRequest(DeviceSink& sink) {
    const size_t n = rxFrame_[1];
    sink.onRequest(rxFrame_.data(), n + 2);
    answered_ = false;
    dispatch(rxFrame_.data() + 2, n, sink);
    if (!answered_) {
        sink.onIgnored(rxFrame_[2]);
    }
}

void Kz2Device::dispatch(const uint8_t* p, size_t n, DeviceSink& sink) {
    // p[0] is the request code, n >= 1 the payload length.
    const uint8_t code = p[0];
    // Whether the request is understood and answered with an acknowledgement.
    bool ack = false;
    switch (code) {
        case 0x01:
            if (n == 1) {
                replyIdentity(sink);
            }
            return;
        case 0x02:
            if (n == 1) {
                uint8_t r[5] = {0x02};
                put32(r + 1, identity_.firmwareVersion);
                reply(sink, code, r, sizeof r);
            }
            return;
        case 0x03:
            if (n == 1) {
                const uint8_t r[2] = {0x03, identity_.portType};
                reply(sink, code, r, sizeof r);
            }
            return;
        case 0x14:
            if (n == 1) {
                replyAxisBlock(sink);
            }
            return;
        case 0x15:
            if (n == 1) {
                replySettingsBlock(sink);
            }
            return;
        case 0x2B:
            if (n == 3 && p[1] == 0 && p[2] == 0) {
                uint8_t r[5] = {0x2B, 0x00, 0x00};
                put16(r + 3, supplyVoltage_);
                reply(sink, code, r, sizeof r);
            }
            return;
        case 0x3D:
            if (n == 1 && level_ >= 5) {
                const uint8_t r[5] = {0x3D, 0x00, live_.meridianFlipParamA,
                                      live_.meridianFlipParamB, live_.meridianFlipHysteresis};
                reply(sink, code, r, sizeof r);
            }
            return;
        case 0x64:
            if (n == 1 && level_ >= 5) {
                uint8_t r[9] = {0x64};
                put32(r + 1, static_cast<uint32_t>(live_.latitude));
                put32(r + 5, static_cast<uint32_t>(live_.longitude));
                reply(sink, code, r, sizeof r);
            }
            return;
        case 0x0B:
            // Asks nothing of the configuration; the controller confirms that it is there.
            ack = n == 1;
            break;
        case 0x0C:
            ack = n == 2 && p[1] == 0x01;
            if (ack) {
                live_ = factory_;
            }
            break;
        case 0x0D:
            ack = n == 2 && p[1] == 0x01;
            // A store that could not be kept is not acknowledged, so the client does not take
            // for saved what would be gone at the next power-up.
            ack = ack && sink.onStore(live_);
            if (ack) {
                stored_ = live_;
            }
            break;
        case 0x1A:
            ack = setGearRatios(p, n);
            break;
        case 0x1B:
            ack = n == 3 && p[1] == 0x01 && level_ >= 5;
            if (ack && p[2] <= 2) {
                live_.mountType = p[2];
            }
            break;
        case 0x1D:
            ack = n == 4 && p[1] == 0x01 && p[2] == 0x00 && level_ >= 4;
            if (ack) {
                markPark(p[3] != 0 ? PierSide::west : PierSide::east);
            }
            break;
        case 0x20:
            ack = setPositions(p, n);
            break;
        case 0x21:
            ack = stop(p, n);
            break;
        case 0x23:
            ack = move(p, n);
            break;
        case 0x24:
            ack = n == 3 && p[1] == 0x00;
            if (ack) {
                tracking_ = p[2] != 0;
            }
            break;
        case 0x28:
            ack = n == 3 && p[1] == 0x00;
            if (ack) {
                expMode_ = p[2] != 0;
            }
            break;
        case 0x32:
            ack = setReverseFlags(p, n);
            break;
        case 0x33:
            ack = setMotorCurrent(p, n);
            break;
        case 0x34:
            ack = setDecay(p, n);
            break;
        case 0x35:
            ack = setMaxSpeeds(p, n);
            break;
        case 0x36:
            ack = setAxisBytes(p, n, &AxisImage::guidingRate);
            break;
        case 0x37:
            ack = setAxisBytes(p, n, &AxisImage::acceleration);
            break;
        case 0x38:
            ack = setAxisBytes(p, n, &AxisImage::deceleration);
            break;
        case 0x3B:
            ack = level_ >= 3 && setOvertone(p, n);
            break;
        case 0x3C:
            ack = level_ >= 3 && setCurrentBoost(p, n);
            break;
        case 0x3E:
            ack = n == 6 && p[1] == 0x01 && p[2] == 0x01 && level_ >= 5;
            if (ack) {
                live_.meridianFlipParamA = p[3];
                live_.meridianFlipParamB = p[4];
                live_.meridianFlipHysteresis = p[5];
            }
            break;
        case 0x65:
            ack = setSiteOrPositions(p, n);
            break;
        case 0x69:
            ack = n == 3 && p[1] == 0x01 && p[2] == 0x01 && level_ >= 6;
            if (ack) {
                markPark(pierSide_);
            }
            break;
        case 0x6A:
            ack = level_ >= 6 && goToReference(p, n);
            break;
        default:
            // Unknown request: ignored without an answer, as the controller does.
            break;
    }
    if (ack) {
        acknowledge(sink, code);
    }
}

bool Kz2Device::setGearRatios(const uint8_t* p, size_t n) {
    if (n != 11 || p[1] != 0x01) {
        return false;
    }
    forAxes(p[2], [&](int axis) {
        const uint32_t ratio = le32(p + 3 + 4 * axis);
        // A ratio whose counts would not fit the position registers is refused.
        if (ratio == 0 || ratio > kMaxGearRatio) {
            return;
        }
        AxisImage& a = live_.axis[axis];
        a.gearRatio = ratio;
        a.countsPerRevolution = ratio * kCountsPerStep;
        a.siderealRate = siderealRateFor(ratio);
    });
    return true;
}

bool Kz2Device::setReverseFlags(const uint8_t* p, size_t n) {
    if (n != 6 || p[1] != 0x00) {
        return false;
    }
    const auto apply = [&](uint8_t& flags, uint8_t requested) {
        forAxes(p[2], [&](int axis) {
            const auto bit = static_cast<uint8_t>(1u << axis);
            flags = static_cast<uint8_t>((flags & ~bit) | (requested & bit));
        });
    };
    apply(live_.reverseRotation, p[3]);
    apply(live_.reverseAutoguiding, p[4]);
    apply(live_.reverseLimitSwitches, p[5]);
    return true;
}

bool Kz2Device::setMotorCurrent(const uint8_t* p, size_t n) {
    if (n != 5 || p[1] != 0x00) {
        return false;
    }
    const int which = p[2] & 0x3F;
    if (which > kRun) {
        return true;  // understood, but names no current: nothing changes
    }
    const uint16_t mA = le16(p + 3);
    forAxes(p[2], [&](int axis) {
        AxisImage& a = live_.axis[axis];
        // The driver cannot deliver more than its rated maximum.
        a.motorCurrent[which] = mA > a.maxCurrent ? a.maxCurrent : mA;
    });
    return true;
}

bool Kz2Device::setDecay(const uint8_t* p, size_t n) {
    if (n != 4 || p[1] != 0x00) {
        return false;
    }
    const int which = p[2] & 0x3F;
    if (which > kRun || p[3] > 3) {
        return true;
    }
    forAxes(p[2], [&](int axis) { live_.axis[axis].decay[which] = p[3]; });
    return true;
}

bool Kz2Device::setOvertone(const uint8_t* p, size_t n) {
    if (n != 4 || p[1] != 0x00) {
        return false;
    }
    forAxes(p[2], [&](int axis) { live_.axis[axis].thirdOvertone = static_cast<int8_t>(p[3]); });
    return true;
}

bool Kz2Device::setCurrentBoost(const uint8_t* p, size_t n) {
    if (n != 7 || p[1] != 0x00) {
        return false;
    }
    forAxes(p[2], [&](int axis) {
        live_.axis[axis].incCurrentAt = le16(p + 3);
        live_.axis[axis].incCurrentReserved = le16(p + 5);
    });
    return true;
}

bool Kz2Device::setMaxSpeeds(const uint8_t* p, size_t n) {
    if (n != 7 || p[1] != 0x00) {
        return false;
    }
    forAxes(p[2], [&](int axis) { live_.axis[axis].maxSpeed = le16(p + 3 + 2 * axis); });
    return true;
}

bool Kz2Device::setAxisBytes(const uint8_t* p, size_t n, uint8_t AxisImage::*field) {
    if (n != 5 || p[1] != 0x00) {
        return false;
    }
    forAxes(p[2], [&](int axis) { live_.axis[axis].*field = p[3 + axis]; });
    return true;
}

bool Kz2Device::setPositions(const uint8_t* p, size_t n) {
    if (n != 11 || p[1] != 0x01) {
        return false;
    }
    forAxes(p[2], [&](int axis) {
        position_[axis] = static_cast<int32_t>(le32(p + 3 + 4 * axis));
        fraction_[axis] = 0.0;
    });
    return true;
}

bool Kz2Device::setSiteOrPositions(const uint8_t* p, size_t n) {
    if (n != 10) {
        return false;
    }
    const auto first = static_cast<int32_t>(le32(p + 2));
    const auto second = static_cast<int32_t>(le32(p + 6));
    if (p[1] == 0x00) {
        position_ = {first, second};
        fraction_ = {0.0, 0.0};
        return true;
    }
    if (p[1] != 0x01 || level_ < 5) {
        return false;
    }
    // Coordinates off the globe are acknowledged but not taken.
    if (first >= -kMaxLatitude && first <= kMaxLatitude && second >= -kMaxLongitude &&
        second <= kMaxLongitude) {
        live_.latitude = first;
        live_.longitude = second;
    }
    return true;
}

bool Kz2Device::goToReference(const uint8_t* p, size_t n) {
    if (n != 5 || p[1] != 0x01) {
        return false;
    }
    const uint32_t qRa = live_.axis[kRa].countsPerRevolution / 4;
    const uint32_t qDe = live_.axis[kDe].countsPerRevolution / 4;
    const int64_t lat = live_.latitude;
    const int64_t quarterTurn = 90LL * kUnitsPerDegree;
    // DE counts from the pole, positive with the telescope east of the pier; RA counts from the
    // counterweight-down position, a quarter turn to the meridian.
    int64_t polar = 0;  // angle from the pole, in angle units
    int32_t ra = 0;
    PierSide side = PierSide::east;
    const char a = static_cast<char>(p[2]);
    const char b = static_cast<char>(p[3]);
    const char c = static_cast<char>(p[4]);
    if (a == 'E' && b == 'H' && c == ' ') {
        // Eastern horizon: counterweight down, telescope on the west side.
        polar = quarterTurn;
        side = PierSide::west;
    } else if (a == 'W' && b == 'H' && c == ' ') {
        polar = quarterTurn;
        side = PierSide::east;
    } else if (a == 'A' && b == 'E' && c == ' ') {
        // Home: counterweight down, telescope at the pole.
        polar = 0;
        side = PierSide::east;
    } else if ((b == 'E' || b == 'W') && c == ' ' && (a == 'E' || a == 'Z')) {
        side = b == 'E' ? PierSide::east : PierSide::west;
        polar = a == 'E' ? quarterTurn : quarterTurn - lat;
        ra = 1;
    } else if ((a == 'S' || a == 'N') && b == 'H' && (c == 'E' || c == 'W')) {
        side = c == 'E' ? PierSide::east : PierSide::west;
        // The north horizon lies beyond the pole: the RA axis turns the other way.
        polar = a == 'S' ? 2 * quarterTurn - lat : lat;
        ra = a == 'S' ? 1 : -1;
    } else {
        return true;  // understood, but not a reference position this firmware knows
    }
    const int32_t sign = side == PierSide::east ? 1 : -1;
    position_[kRa] = wrap32(-static_cast<int64_t>(sign) * ra * static_cast<int64_t>(qRa));
    position_[kDe] = wrap32(sign * static_cast<int64_t>(polarCounts(qDe, polar)));
    fraction_ = {0.0, 0.0};
    pierSide_ = side;
    return true;
}

bool Kz2Device::move(const uint8_t* p, size_t n) {
    if (n != 7 || p[1] != 0x00) {
        return false;
    }
    const auto requested = static_cast<int32_t>(le32(p + 3));
    forAxes(p[2], [&](int axis) {
        const AxisImage& a = live_.axis[axis];
        // No axis runs faster than its configured top speed.
        int64_t limit = static_cast<int64_t>(a.maxSpeed) * a.siderealRate;
        if (limit < 0) {
            limit = -limit;
        }
        int64_t v = requested;
        if (v > limit) {
            v = limit;
        } else if (v < -limit) {
            v = -limit;
        }
        if (v > INT32_MAX) {
            v = INT32_MAX;
        } else if (v < -INT32_MAX) {
            v = -INT32_MAX;
        }
        manualSpeed_[axis] = static_cast<int32_t>(v);
    });
    return true;
}

bool Kz2Device::stop(const uint8_t* p, size_t n) {
    if (n != 3 || p[1] != 0x00) {
        return false;
    }
    forAxes(p[2], [&](int axis) { manualSpeed_[axis] = 0; });
    return true;
}

void Kz2Device::markPark(PierSide side) {
    live_.parkValid = true;
    live_.parkPosition = {position(kRa), position(kDe)};
    live_.parkPierSide = side;
}

}  // namespace vornic::sim
