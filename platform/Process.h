#pragma once
#include <cstdint>

namespace vornic::platform {

uint32_t currentProcessId();

}  // namespace vornic::platform
