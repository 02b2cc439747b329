#pragma once
// Snapshot of a KZ2 controller's identity and configuration.
//
// A plain value record, written only by the worker thread of TelescopeControl and handed by
// reference to TelescopeListener::onSettings, whose implementation copies it whole. Axis pairs are
// indexed 0 = right ascension (RA), 1 = declination (DE). Bit-pair bytes hold bit 0 for RA and
// bit 1 for DE.

#include <cstdint>

namespace vornic {

inline constexpr int kRa = 0;
inline constexpr int kDe = 1;
inline constexpr int kIdle = 0;
inline constexpr int kTrack = 1;
inline constexpr int kRun = 2;

struct MountSettings {
    uint8_t mountType = 0;  // 0 equatorial german, 1 equatorial fork, 2 alt-azimuth
    uint8_t featureLevel = 0;
    uint32_t hardwareVersion = 0;
    uint32_t hardwareType = 0;  // upper 16 bits of hardwareVersion (0 after a three-byte identity)
    uint32_t firmwareVersion = 0;
    uint8_t portType = 0;
    uint8_t axisBlockReserved[2] = {};
    uint32_t gearRatio[2] = {};
    uint32_t countsPerRevolution[2] = {};
    int32_t siderealRate[2] = {};
    uint32_t maxSpeed[2] = {};  // 0..65535
    uint8_t reverseRotation = 0;
    uint8_t reverseAutoguiding = 0;
    uint8_t reverseLimitSwitches = 0;
    uint16_t maxCurrent[2] = {};
    uint16_t motorCurrent[2][3] = {};  // idle, track, run
    uint8_t decay[2][3] = {};          // idle, track, run
    uint8_t acceleration[2] = {};
    uint8_t deceleration[2] = {};
    int8_t thirdOvertone[2] = {};
    uint8_t overtoneReserved[2] = {};
    uint16_t incCurrentAt[2] = {};
    uint16_t incCurrentReserved[2] = {};
    uint16_t guidingRate[2] = {};  // one wire byte, zero-extended
    uint8_t settingsReservedByte[2] = {};
    uint32_t settingsReservedWord[2] = {};
    uint8_t meridianFlipParamA = 0;
    uint8_t meridianFlipParamB = 0;
    uint8_t meridianFlipHysteresis = 0;
    int32_t latitude = 0;     // angle units
    int32_t longitude = 0;    // angle units
    int32_t maxRate[2] = {};  // maxSpeed * siderealRate, 32-bit wrapping product

    bool operator==(const MountSettings&) const = default;
};

// maxSpeed * siderealRate of one axis as a 32-bit wrapping product (done unsigned: no UB).
int32_t computeMaxRate(uint32_t maxSpeed, int32_t siderealRate);

// Recomputes maxRate of both axes from maxSpeed and siderealRate.
void recomputeMaxRates(MountSettings& settings);

// Size of the identity line buffer: at most 254 characters and the terminator.
inline constexpr uint32_t kIdentityLineSize = 255;

// Writes "HW:a.b.c.d | FW:a.b.c.d | Port type:n" into `buffer` (cut to `size`, always
// zero-terminated when size > 0). Returns the length written.
uint32_t buildIdentityLine(const MountSettings& settings, char* buffer, uint32_t size);

// Writes the supply voltage as "%2u.%02uV" ("12.34V", " 9.05V") into `buffer`.
void formatVoltage(uint32_t hundredthsOfVolt, char* buffer, uint32_t size);

}  // namespace vornic
