#include "platform/PortTable.h"

#include <algorithm>
#include <cstring>

namespace vornic::platform {

void PortTable::set(uint32_t number, const std::string& path) {
    if (number < 1 || number > kMaxPort) {
        return;
    }
    std::lock_guard lock(lock_);
    for (auto& entry : entries_) {
        if (entry.first == number) {
            entry.second = path;
            return;
        }
    }
    entries_.emplace_back(number, path);
}

void PortTable::clear() {
    std::lock_guard lock(lock_);
    entries_.clear();
}

bool PortTable::pathFor(uint32_t number, char* out, size_t size) const {
    if (out == nullptr || size == 0) {
        return false;
    }
    out[0] = '\0';
    if (number < 1 || number > kMaxPort) {
        return false;
    }
    {
        // Runs on the worker during connect: copies into the caller's buffer, no allocation.
        std::lock_guard lock(lock_);
        for (const auto& entry : entries_) {
            if (entry.first == number) {
                const size_t n = std::min(entry.second.size(), size - 1);
                std::memcpy(out, entry.second.data(), n);
                out[n] = '\0';
                return true;
            }
        }
    }
    defaultPortPath(number, out, size);
    return true;
}

}  // namespace vornic::platform
