#include "ui/FieldNumber.h"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace vornic::ui {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

IntRead readFieldNumber(const std::string& text, bool isSigned) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && isBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (isSigned && i < n && text[i] == '-') {
        negative = true;
        ++i;
    }
    const uint64_t limit = isSigned ? (negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1)
                                    : uint64_t{std::numeric_limits<uint32_t>::max()};
    uint64_t value = 0;
    size_t digits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > limit) {
            return {};
        }
        ++digits;
        ++i;
    }
    while (i < n && isBlank(text[i])) {
        ++i;
    }
    if (digits == 0 || i != n) {
        return {};
    }
    const uint32_t bits = static_cast<uint32_t>(value);
    return {true, negative ? 0u - bits : bits};
}

}  // namespace vornic::ui
