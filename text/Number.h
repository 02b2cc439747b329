#pragma once
// Whole numbers as people type them on a command line or in an option: decimal, or hexadecimal
// after "0x" / "0X", with a leading "-" where the caller allows one.

#include <cstdint>
#include <string_view>

namespace vornic {

// Reads all of `text` as one whole number. False for an empty text, any character that is not a
// digit of the number's base, a "-" where `allowMinus` is false, or a magnitude above
// `maxMagnitude` (checked digit by digit, so no length of input can overflow). On success the
// sign goes to `negative` and the size to `magnitude`; callers bound the negative side themselves.
[[nodiscard]] bool readWholeNumber(std::string_view text, bool allowMinus, uint64_t maxMagnitude,
                                   bool& negative, uint64_t& magnitude);

}  // namespace vornic
