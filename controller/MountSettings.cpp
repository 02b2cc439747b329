#include "controller/MountSettings.h"

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

}  // namespace vornic
