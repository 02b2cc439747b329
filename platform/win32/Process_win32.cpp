#include <windows.h>

#include "platform/Process.h"

namespace vornic::platform {

uint32_t currentProcessId() {
    return static_cast<uint32_t>(GetCurrentProcessId());
}

}  // namespace vornic::platform
