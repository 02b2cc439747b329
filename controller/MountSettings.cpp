#include "controller/MountSettings.h"

#include <cstdio>

#include "text/Text.h"

namespace vornic {

int32_t computeMaxRate(uint32_t maxSpeed, int32_t siderealRate) {
    // The controller's own arithmetic wraps at 32 bits; unsigned multiplication gives the same
    // bits without signed overflow.
    const uint32_t product = maxSpeed * static_cast<uint32_t>(siderealRate);
    return static_cast<int32_t>(product);
}

void recomputeMaxRates(MountSettings& settings) {
    for (int a = 0; a < 2; ++a) {
        settings.maxRate[a] = computeMaxRate(settings.maxSpeed[a], settings.siderealRate[a]);
    }
}

uint32_t buildIdentityLine(const MountSettings& settings, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    buffer[0] = '\0';
    auto appendVersion = [&](uint32_t pos, uint32_t version) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            pos =
                appendDecimal(buffer, size, pos, static_cast<int32_t>((version >> shift) & 0xFFu));
            if (shift > 0 && pos < size - 1) {
                buffer[pos++] = '.';
                buffer[pos] = '\0';
            }
        }
        return pos;
    };
    uint32_t pos = appendText(buffer, size, 0, "HW:");
    pos = appendVersion(pos, settings.hardwareVersion);
    pos = appendText(buffer, size, pos, " | FW:");
    pos = appendVersion(pos, settings.firmwareVersion);
    pos = appendText(buffer, size, pos, " | Port type:");
    pos = appendDecimal(buffer, size, pos, settings.portType);
    return pos;
}

void formatVoltage(uint32_t hundredthsOfVolt, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    std::snprintf(buffer, size, "%2u.%02uV", hundredthsOfVolt / 100, hundredthsOfVolt % 100);
}

}  // namespace vornic
