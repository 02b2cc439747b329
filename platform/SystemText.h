#pragma once
// Messages to people about what the OS refused, in the OS's own words and naming its ports the
// way it does. One file per OS implements them.

#include <string>

#include "platform/SerialPort.h"

namespace vornic::platform {

// The system's text for an error code from the platform layer (an errno value on POSIX systems,
// a GetLastError value on Windows), as UTF-8 without a line end or a final full stop.
[[nodiscard]] std::string systemErrorText(int code);

// What to do about a port that cannot be opened for `error`, as a sentence; "" when there is
// nothing to advise.
[[nodiscard]] const char* openErrorAdvice(OpenError error);

}  // namespace vornic::platform
