#include "text/Number.h"

namespace vornic {

bool readWholeNumber(std::string_view text, bool allowMinus, uint64_t maxMagnitude, bool& negative,
                     uint64_t& magnitude) {
    bool minus = false;
    if (!text.empty() && text[0] == '-') {
        if (!allowMinus) {
            return false;
        }
        minus = true;
        text.remove_prefix(1);
    }
    uint64_t base = 10;
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    uint64_t value = 0;
    for (const char c : text) {
        uint64_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint64_t>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<uint64_t>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<uint64_t>(c - 'A' + 10);
        } else {
            return false;
        }
        if (digit > maxMagnitude || value > (maxMagnitude - digit) / base) {
            return false;
        }
        value = value * base + digit;
    }
    negative = minus;
    magnitude = value;
    return true;
}

}  // namespace vornic
