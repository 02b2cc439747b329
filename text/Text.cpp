#include "text/Text.h"

// Every routine here works only in the caller's buffer plus a few bytes of stack. Arithmetic that
// is meant to wrap (long digit runs, the most negative value, degree overflow) is done on uint32_t
// and converted back at the end, so that it wraps by definition instead of overflowing a signed
// type.
//
// Positions beyond the buffer are outside what callers may pass; rather than write there, every
// append then writes nothing and hands the position back unchanged (a size of 0 still gives 0
// where that is the rule).

namespace vornic {

namespace {

// Enough for "-2147483648" and its terminator.
constexpr uint32_t kDecimalBufferSize = 12;

constexpr bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Hemisphere letters are accepted in either case: clearing bit 5 upper-cases an ASCII letter.
constexpr char foldCase(char c) {
    return static_cast<char>(static_cast<unsigned char>(c) & 0xDFu);
}

// True when no character fits at position ahead of the terminator (a size of 0 has no room at
// all).
constexpr bool atOrPastLast(uint32_t size, uint32_t position) {
    return size == 0 || position >= size - 1;
}

// Writes the digits of a magnitude, most significant first, into out (at least 10 bytes).
// Returns the number of digits written.
uint32_t formatUnsigned(char* out, uint32_t value) {
    char reversed[10];
    uint32_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10u);
        value /= 10u;
    } while (value != 0 && count < sizeof(reversed));
    for (uint32_t i = 0; i < count; ++i) {
        out[i] = reversed[count - 1 - i];
    }
    return count;
}

uint32_t skipSeparators(const char* text, uint32_t end, uint32_t position) {
    while (position < end && (text[position] == ':' || text[position] == '.')) {
        ++position;
    }
    return position;
}

}  // namespace

uint32_t appendText(char* buffer, uint32_t size, uint32_t position, const char* text) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    if (position >= size) {
        return position;
    }
    if (text != nullptr) {
        while (position < size - 1 && *text != '\0') {
            buffer[position++] = *text++;
        }
    }
    buffer[position] = '\0';
    return position;
}

uint32_t appendDecimal(char* buffer, uint32_t size, uint32_t position, int32_t value) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    char digits[kDecimalBufferSize];
    uint32_t length = 0;
    // The magnitude of INT32_MIN only exists as an unsigned value.
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        digits[length++] = '-';
        magnitude = 0u - magnitude;
    }
    length += formatUnsigned(digits + length, magnitude);
    digits[length] = '\0';
    return appendText(buffer, size, position, digits);
}

uint32_t appendTwoDigits(char* buffer, uint32_t size, uint32_t position, uint32_t value) {
    if (buffer == nullptr || atOrPastLast(size, position)) {
        return position;
    }
    const uint32_t v = value > 99u ? 99u : value;
    buffer[position] = static_cast<char>('0' + v / 10u);
    uint32_t end = position + 1;
    if (end < size - 1) {
        buffer[end++] = static_cast<char>('0' + v % 10u);
    }
    buffer[end] = '\0';
    return end;
}

uint32_t appendHex8(char* buffer, uint32_t size, uint32_t position, uint32_t value) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    if (position >= size) {
        return position;
    }
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    // Lowest nibble first: the pipe name has always been built this way and must stay so.
    for (int digit = 0; digit < 8 && position < size - 1; ++digit) {
        buffer[position++] = kHexDigits[value & 0xFu];
        value >>= 4;
    }
    buffer[position] = '\0';
    return position;
}

uint32_t appendAngle(char* buffer, uint32_t size, uint32_t position, int32_t angle) {
    if (buffer == nullptr || atOrPastLast(size, position)) {
        return position;
    }
    uint32_t magnitude = static_cast<uint32_t>(angle);
    if (angle < 0) {
        buffer[position++] = '-';
        magnitude = 0u - magnitude;
    }
    const uint32_t unitsPerDegree = static_cast<uint32_t>(kAngleUnitsPerDegree);
    const uint32_t unitsPerMinute = static_cast<uint32_t>(kAngleUnitsPerMinute);
    const uint32_t unitsPerSecond = static_cast<uint32_t>(kAngleUnitsPerSecond);
    // At most 2^31 / 86400 = 24855 degrees, so the degrees fit a signed value.
    const uint32_t degrees = magnitude / unitsPerDegree;
    const uint32_t rest = magnitude % unitsPerDegree;
    const uint32_t minutes = rest / unitsPerMinute;
    // Fractions of an arc-second are dropped, not rounded.
    const uint32_t seconds = (rest % unitsPerMinute) / unitsPerSecond;

    uint32_t end = appendDecimal(buffer, size, position, static_cast<int32_t>(degrees));
    if (end < size - 1) {
        buffer[end++] = ':';
    }
    end = appendTwoDigits(buffer, size, end, minutes);
    if (end < size - 1) {
        buffer[end++] = ':';
    }
    end = appendTwoDigits(buffer, size, end, seconds);
    buffer[end] = '\0';
    return end;
}

uint32_t readInteger(const char* text, uint32_t end, uint32_t position, int32_t* result) {
    if (text == nullptr) {
        end = 0;
    }
    bool negative = false;
    if (position < end && text[position] == '-') {
        negative = true;
        ++position;
    }
    uint32_t value = 0;
    while (position < end && isDigit(text[position])) {
        value = value * 10u + static_cast<uint32_t>(text[position] - '0');
        ++position;
    }
    if (negative) {
        value = 0u - value;
    }
    if (result != nullptr) {
        *result = static_cast<int32_t>(value);
    }
    return position;
}

uint32_t readAngle(const char* text, uint32_t end, uint32_t position, int32_t* result, int kind) {
    if (text == nullptr) {
        end = 0;
    }
    // Only one space may stand before the hemisphere letter.
    if (position < end && text[position] == ' ') {
        ++position;
    }
    bool negative = false;
    char negativeLetter = '\0';
    char positiveLetter = '\0';
    if (kind == kAngleLatitude) {
        negativeLetter = 'S';
        positiveLetter = 'N';
    } else if (kind == kAngleLongitude) {
        negativeLetter = 'W';
        positiveLetter = 'E';
    }
    if (negativeLetter != '\0') {
        if (position < end && foldCase(text[position]) == negativeLetter) {
            negative = !negative;
            ++position;
        }
        if (position < end && foldCase(text[position]) == positiveLetter) {
            ++position;
        }
    }
    while (position < end && text[position] == ' ') {
        ++position;
    }
    // A minus sign together with a southern or western letter cancels it out.
    if (position < end && text[position] == '-') {
        negative = !negative;
        ++position;
    }

    int32_t degrees = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
    position = readInteger(text, end, position, &degrees);
    position = skipSeparators(text, end, position);
    position = readInteger(text, end, position, &minutes);
    position = skipSeparators(text, end, position);
    position = readInteger(text, end, position, &seconds);

    // No range check: out-of-range parts simply add up, wrapping in 32 bits.
    uint32_t value = static_cast<uint32_t>(degrees) * static_cast<uint32_t>(kAngleUnitsPerDegree) +
                     static_cast<uint32_t>(minutes) * static_cast<uint32_t>(kAngleUnitsPerMinute) +
                     static_cast<uint32_t>(seconds) * static_cast<uint32_t>(kAngleUnitsPerSecond);
    if (negative) {
        value = 0u - value;
    }
    if (result != nullptr) {
        *result = static_cast<int32_t>(value);
    }
    return position;
}

}  // namespace vornic
