#include <cstring>

#include "platform/SystemText.h"

namespace vornic::platform {

std::string systemErrorText(int code) {
    return std::strerror(code);
}

const char* openErrorAdvice(OpenError error) {
    switch (error) {
        case OpenError::NoSuchDevice:
            return "Check the name and the cable; `vornic-cli ports` lists the ports present.";
        case OpenError::PermissionDenied:
            return "Your user must be in the dialout group: sudo usermod -aG dialout $USER, then "
                   "log out and in again.";
        case OpenError::Busy:
            return "Close the other program and try again.";
        case OpenError::NotATerminal:
            return "Name the serial device of the controller, e.g. /dev/ttyUSB0.";
        default:
            return "";
    }
}

}  // namespace vornic::platform
