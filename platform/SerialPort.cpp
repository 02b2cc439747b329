#include "platform/SerialPort.h"

namespace vornic::platform {

const char* openErrorText(OpenError error) {
    switch (error) {
        case OpenError::None:
            return "no error";
        case OpenError::NoSuchDevice:
            return "no such serial port";
        case OpenError::PermissionDenied:
            return "no permission to open the serial port";
        case OpenError::Busy:
            return "the serial port is in use by another program";
        case OpenError::NotATerminal:
            return "not a serial port";
        case OpenError::BadBaudRate:
            return "unsupported baud rate";
        case OpenError::Other:
            break;
    }
    return "cannot open the serial port";
}

}  // namespace vornic::platform
