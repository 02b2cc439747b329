#include "platform/PortTable.h"

namespace vornic::platform {

// A device path is a path here; there is no short form to expand.
std::string devicePathForName(const std::string& name) {
    return name;
}

}  // namespace vornic::platform
