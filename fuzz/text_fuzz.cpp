// Feeds arbitrary bytes to the text routines, both as text to read or copy and as buffer sizes,
// positions and values. Every append runs in a buffer with guard bytes on both sides; a changed
// guard byte, a returned position out of range, or an angle that does not read back is a fault.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "text/Text.h"

namespace {

constexpr uint32_t kGuard = 16;
constexpr uint8_t kCanary = 0xC3;
constexpr uint32_t kMaxSize = 48;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Pulls bytes off the front of the input; zero once it is used up.
struct Reader {
    const uint8_t* data;
    size_t size;

    uint8_t byte() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = (value << 8) | byte();
        }
        return value;
    }
};

struct Guarded {
    uint8_t bytes[kMaxSize + 2 * kGuard];
    uint32_t size;

    explicit Guarded(uint32_t bufferSize) : size(bufferSize) {
        std::memset(bytes, kCanary, sizeof(bytes));
    }
    char* data() { return reinterpret_cast<char*>(bytes + kGuard); }
    void checkGuards() const {
        for (uint32_t i = 0; i < kGuard; ++i) {
            check(bytes[i] == kCanary);
            check(bytes[kGuard + size + i] == kCanary);
        }
    }
    // Nothing before the append position may change.
    void checkUntouchedBelow(uint32_t position) const {
        for (uint32_t i = 0; i < position && i < size; ++i) {
            check(bytes[kGuard + i] == kCanary);
        }
    }
};

// The returned end lies inside the buffer and holds the terminator, unless the append was given
// no room at all, in which case it wrote nothing and handed the position back.
void checkEnd(const Guarded& buffer, uint32_t position, uint32_t end, bool sizeZeroGivesZero) {
    buffer.checkGuards();
    buffer.checkUntouchedBelow(position);
    if (buffer.size == 0 && sizeZeroGivesZero) {
        check(end == 0);
        return;
    }
    if (end == position && (buffer.size == 0 || position >= buffer.size - 1)) {
        return;
    }
    check(end >= position);
    check(end < buffer.size);
    check(buffer.bytes[kGuard + end] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader reader{data, size};
    const uint32_t bufferSize = reader.byte() % (kMaxSize + 1);
    // Mostly positions inside the buffer, sometimes a little beyond it.
    const uint32_t position = reader.byte() % (bufferSize + 3);
    const uint32_t value = reader.word();
    const int kind = reader.byte() % 4;

    // The rest is text. An exact-size heap copy lets the address sanitizer see any read past end,
    // and a terminated copy serves appendText.
    const size_t textLength = reader.size;
    std::unique_ptr<char[]> exact(new char[textLength == 0 ? 1 : textLength]);
    if (textLength != 0) {
        std::memcpy(exact.get(), reader.data, textLength);
    }
    std::unique_ptr<char[]> terminated(new char[textLength + 1]);
    if (textLength != 0) {
        std::memcpy(terminated.get(), reader.data, textLength);
    }
    terminated[textLength] = '\0';

    {
        Guarded buffer(bufferSize);
        const uint32_t end =
            vornic::appendText(buffer.data(), bufferSize, position, terminated.get());
        checkEnd(buffer, position, end, true);
        // Whatever was copied is a prefix of the source.
        if (end > position) {
            check(std::memcmp(buffer.data() + position, terminated.get(), end - position) == 0);
        }
    }
    {
        Guarded buffer(bufferSize);
        const uint32_t end =
            vornic::appendDecimal(buffer.data(), bufferSize, position, static_cast<int32_t>(value));
        checkEnd(buffer, position, end, true);
    }
    {
        Guarded buffer(bufferSize);
        const uint32_t end = vornic::appendTwoDigits(buffer.data(), bufferSize, position, value);
        checkEnd(buffer, position, end, false);
    }
    {
        Guarded buffer(bufferSize);
        const uint32_t end = vornic::appendHex8(buffer.data(), bufferSize, position, value);
        checkEnd(buffer, position, end, true);
    }
    {
        Guarded buffer(bufferSize);
        const uint32_t end =
            vornic::appendAngle(buffer.data(), bufferSize, position, static_cast<int32_t>(value));
        checkEnd(buffer, position, end, false);
    }

    // Reading: the end limit is the text's length, the start anywhere near it.
    const uint32_t end = static_cast<uint32_t>(textLength);
    const uint32_t start = textLength == 0 ? 0 : value % (end + 2);
    {
        int32_t result = 0;
        const uint32_t after = vornic::readInteger(exact.get(), end, start, &result);
        check(after >= start);
        check(after <= end || after == start);
        static_cast<void>(vornic::readInteger(exact.get(), end, start, nullptr));
    }
    {
        int32_t result = 0;
        const uint32_t after = vornic::readAngle(exact.get(), end, start, &result, kind);
        check(after >= start);
        check(after <= end || after == start);
        static_cast<void>(vornic::readAngle(exact.get(), end, start, nullptr, kind));
    }

    // Whole arc-seconds written in full read back exactly.
    {
        const int32_t angle = static_cast<int32_t>(value) / vornic::kAngleUnitsPerSecond *
                              vornic::kAngleUnitsPerSecond;
        char text[32];
        const uint32_t written = vornic::appendAngle(text, sizeof(text), 0, angle);
        check(written < sizeof(text));
        int32_t readBack = 0;
        vornic::readAngle(text, written, 0, &readBack, kind);
        check(readBack == angle);
    }
    return 0;
}
