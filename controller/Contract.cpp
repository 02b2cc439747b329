#include "controller/Contract.h"

#include <cstring>

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
        "Error: No answer from the controller",
        "Error: Connection lost (cable or adapter unplugged?)",
        "Error: Communication error: the request did not reach the controller",
    };
    static_assert(sizeof(kTexts) / sizeof(kTexts[0]) == status::kLast + 1);
    if (code > status::kLast) {
        return nullptr;
    }
    return kTexts[code];
}

bool isErrorStatus(StatusCode code) {
    const char* text = statusText(code);
    return text != nullptr && std::strncmp(text, "Error:", 6) == 0;
}

bool endsConnection(StatusCode code) {
    switch (code) {
        case status::kConnectionClosed:
        case status::kCannotOpenPort:
        case status::kTimeout:
        case status::kUnknownDevice:
        case status::kIncompatibleDevice:
        case status::kNoAnswer:
        case status::kConnectionLost:
        case status::kSendFailed:
            return true;
        default:
            return false;
    }
}

}  // namespace vornic
