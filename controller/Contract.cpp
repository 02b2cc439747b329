#include "controller/Contract.h"

namespace vornic {

const char* statusText(StatusCode code) {
    static const char* const kTexts[] = {
        "Not connected",
        "Opening port, please wait...",
        "Connecting...",
        "Connection established.",
        "Connection closed",
        "Default settings reloaded",
        "Error: Cannot open port.",
        "Error: Cannot connect: Timeout error",
        "Error: Cannot connect: Unknown device",
        "Error: Cannot connect: Incompatible device",
        "Error: Communication error",
        "Error: Already connected",
        "Error: Not connected yet",
        "Error: The connected KZ2 is too old. Use Vornic 1.0.",
        "Error: The connected KZ2 does not support parking",
        "Ready",
        "Fast movement",
        "Slow movement",
        "Manual movement",
        "Positioning...",
        "Telescope synchronized to the given position.",
        "Current position marked as park position.",
        "Parameters stored...",
        "Default settings reloaded...",
        "Settings done.",
    };
    static_assert(sizeof(kTexts) / sizeof(kTexts[0]) == status::kLast + 1);
    if (code > status::kLast) {
        return nullptr;
    }
    return kTexts[code];
}

}  // namespace vornic
