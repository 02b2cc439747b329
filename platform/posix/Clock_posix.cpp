#include "platform/Clock.h"

namespace vornic::platform {

void utcTime(std::time_t time, std::tm& out) {
    gmtime_r(&time, &out);
}

}  // namespace vornic::platform
