#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "text/Text.h"

namespace vornic {
namespace {

// A buffer of the given size with canary bytes on both sides, so that any write outside
// [0, size) shows.
class GuardedBuffer {
  public:
    static constexpr uint32_t kGuard = 16;
    static constexpr char kCanary = static_cast<char>(0xA5);

    explicit GuardedBuffer(uint32_t size) : size_(size), bytes_(size + 2 * kGuard, kCanary) {}

    char* data() { return bytes_.data() + kGuard; }
    uint32_t size() const { return size_; }
    std::string text() const { return std::string(bytes_.data() + kGuard); }

    bool guardsIntact() const {
        for (uint32_t i = 0; i < kGuard; ++i) {
            if (bytes_[i] != kCanary || bytes_[kGuard + size_ + i] != kCanary) {
                return false;
            }
        }
        return true;
    }
    // True when no byte inside the buffer from `from` on was changed.
    bool untouchedFrom(uint32_t from) const {
        for (uint32_t i = from; i < size_; ++i) {
            if (bytes_[kGuard + i] != kCanary) {
                return false;
            }
        }
        return true;
    }

  private:
    uint32_t size_;
    std::vector<char> bytes_;
};

using Append = std::function<uint32_t(char*, uint32_t, uint32_t)>;

std::string appendWhole(const Append& append) {
    std::array<char, 64> buffer{};
    const uint32_t end = append(buffer.data(), static_cast<uint32_t>(buffer.size()), 0);
    EXPECT_EQ(buffer[end], '\0');
    return std::string(buffer.data(), end);
}

// --- the plain appends -------------------------------------------------------------------------

TEST(AppendText, CopiesAndChains) {
    char buffer[32];
    uint32_t end = appendText(buffer, sizeof(buffer), 0, "HW: ");
    end = appendText(buffer, sizeof(buffer), end, "KZ2");
    EXPECT_EQ(end, 7u);
    EXPECT_STREQ(buffer, "HW: KZ2");
    end = appendText(buffer, sizeof(buffer), end, "");
    EXPECT_EQ(end, 7u);
    EXPECT_STREQ(buffer, "HW: KZ2");
}

TEST(AppendText, CutsAtBufferEnd) {
    GuardedBuffer three(3);
    EXPECT_EQ(appendText(three.data(), 3, 0, "HW:"), 2u);
    EXPECT_EQ(three.text(), "HW");
    EXPECT_TRUE(three.guardsIntact());

    GuardedBuffer four(4);
    EXPECT_EQ(appendText(four.data(), 4, 3, "abc"), 3u);  // only the terminator fits
    EXPECT_EQ(four.data()[3], '\0');
    EXPECT_TRUE(four.guardsIntact());
}

TEST(AppendText, SizeZeroWritesNothing) {
    GuardedBuffer empty(0);
    EXPECT_EQ(appendText(empty.data(), 0, 0, "abc"), 0u);
    EXPECT_EQ(appendDecimal(empty.data(), 0, 0, -5), 0u);
    EXPECT_EQ(appendHex8(empty.data(), 0, 0, 0x1234), 0u);
    EXPECT_TRUE(empty.guardsIntact());
}

TEST(AppendDecimal, SignsAndExtremes) {
    const auto decimal = [](int32_t v) {
        return appendWhole(
            [v](char* b, uint32_t s, uint32_t p) { return appendDecimal(b, s, p, v); });
    };
    EXPECT_EQ(decimal(-5), "-5");
    EXPECT_EQ(decimal(0), "0");
    EXPECT_EQ(decimal(7), "7");
    EXPECT_EQ(decimal(1000), "1000");
    EXPECT_EQ(decimal(-1000), "-1000");
    EXPECT_EQ(decimal(INT32_MAX), "2147483647");
    EXPECT_EQ(decimal(INT32_MIN), "-2147483648");
}

TEST(AppendDecimal, CutsLikeText) {
    GuardedBuffer buffer(5);
    EXPECT_EQ(appendDecimal(buffer.data(), 5, 1, -12345), 4u);
    EXPECT_EQ(std::string(buffer.data() + 1), "-12");
    EXPECT_TRUE(buffer.guardsIntact());
}

// --- two digits and hexadecimal ----------------------------------------------------------------

TEST(AppendTwoDigits, PadsAndLimits) {
    const auto two = [](uint32_t v) {
        return appendWhole(
            [v](char* b, uint32_t s, uint32_t p) { return appendTwoDigits(b, s, p, v); });
    };
    EXPECT_EQ(two(7), "07");
    EXPECT_EQ(two(0), "00");
    EXPECT_EQ(two(59), "59");
    EXPECT_EQ(two(99), "99");
    EXPECT_EQ(two(100), "99");
    EXPECT_EQ(two(123), "99");
    EXPECT_EQ(two(UINT32_MAX), "99");
}

TEST(AppendTwoDigits, RoomForOneDigitOrNone) {
    GuardedBuffer buffer(4);
    EXPECT_EQ(appendTwoDigits(buffer.data(), 4, 2, 47), 3u);  // tens digit, then the terminator
    EXPECT_EQ(buffer.data()[2], '4');
    EXPECT_EQ(buffer.data()[3], '\0');
    EXPECT_TRUE(buffer.untouchedFrom(4));

    GuardedBuffer full(4);
    EXPECT_EQ(appendTwoDigits(full.data(), 4, 3, 47), 3u);  // no room: not even a terminator
    EXPECT_TRUE(full.untouchedFrom(0));
    EXPECT_TRUE(full.guardsIntact());
}

TEST(AppendHex8, LowestDigitFirstAllEight) {
    const auto hex = [](uint32_t v) {
        return appendWhole([v](char* b, uint32_t s, uint32_t p) { return appendHex8(b, s, p, v); });
    };
    EXPECT_EQ(hex(0), "00000000");
    EXPECT_EQ(hex(0xABCD), "DCBA0000");
    EXPECT_EQ(hex(0x1A2C), "C2A10000");
    EXPECT_EQ(hex(0x12345678), "87654321");
    EXPECT_EQ(hex(0xFFFFFFFF), "FFFFFFFF");
}

TEST(AppendHex8, CutsToTheLowestDigits) {
    GuardedBuffer buffer(5);
    EXPECT_EQ(appendHex8(buffer.data(), 5, 0, 0xABCD), 4u);
    EXPECT_EQ(buffer.text(), "DCBA");
    EXPECT_TRUE(buffer.guardsIntact());
}

// --- every append, every small size, every position ---------------------------------------------

struct AppendCase {
    const char* name;
    Append append;
    bool writesTerminatorWhenFull;  // false for the two that write nothing at position size - 1
};

std::vector<AppendCase> allAppends() {
    return {
        {"text", [](char* b, uint32_t s, uint32_t p) { return appendText(b, s, p, "Kestrova!"); },
         true},
        {"decimal min",
         [](char* b, uint32_t s, uint32_t p) { return appendDecimal(b, s, p, INT32_MIN); }, true},
        {"decimal", [](char* b, uint32_t s, uint32_t p) { return appendDecimal(b, s, p, 905); },
         true},
        {"two digits", [](char* b, uint32_t s, uint32_t p) { return appendTwoDigits(b, s, p, 42); },
         false},
        {"hex", [](char* b, uint32_t s, uint32_t p) { return appendHex8(b, s, p, 0x9ABCDEF1); },
         true},
        {"angle min",
         [](char* b, uint32_t s, uint32_t p) { return appendAngle(b, s, p, INT32_MIN); }, false},
        {"angle", [](char* b, uint32_t s, uint32_t p) { return appendAngle(b, s, p, -4104360); },
         false},
        {"angle max",
         [](char* b, uint32_t s, uint32_t p) { return appendAngle(b, s, p, INT32_MAX); }, false},
    };
}

// For each size 0..12 and each position (including a few beyond the buffer, which callers must
// not pass but which must still not write outside it): the appended text is the longest prefix of
// the full text that fits, followed by a terminator, and nothing outside [position, end] changes.
TEST(AppendBounds, NeverWritesPastSizeAndCutsToAPrefix) {
    for (const AppendCase& c : allAppends()) {
        const std::string full = appendWhole(c.append);
        for (uint32_t size = 0; size <= 12; ++size) {
            for (uint32_t position = 0; position <= size + 2; ++position) {
                SCOPED_TRACE(std::string(c.name) + " size " + std::to_string(size) + " position " +
                             std::to_string(position));
                GuardedBuffer buffer(size);
                const uint32_t end = c.append(buffer.data(), size, position);
                ASSERT_TRUE(buffer.guardsIntact());

                if (size == 0 && c.writesTerminatorWhenFull) {
                    EXPECT_EQ(end, 0u);
                    continue;
                }
                if (position >= size) {  // outside the contract: nothing at all is written
                    EXPECT_EQ(end, position);
                    EXPECT_TRUE(buffer.untouchedFrom(0));
                    continue;
                }
                if (position == size - 1 && !c.writesTerminatorWhenFull) {
                    EXPECT_EQ(end, position);
                    EXPECT_TRUE(buffer.untouchedFrom(0));
                    continue;
                }
                const uint32_t room = size - 1 - position;
                const uint32_t expectedLength = static_cast<uint32_t>(full.size()) < room
                                                    ? static_cast<uint32_t>(full.size())
                                                    : room;
                ASSERT_EQ(end, position + expectedLength);
                EXPECT_EQ(std::string(buffer.data() + position, expectedLength),
                          full.substr(0, expectedLength));
                EXPECT_EQ(buffer.data()[end], '\0');
                EXPECT_TRUE(buffer.untouchedFrom(end + 1));
                for (uint32_t i = 0; i < position; ++i) {
                    EXPECT_EQ(buffer.data()[i], GuardedBuffer::kCanary) << "index " << i;
                }
            }
        }
    }
}

}  // namespace
}  // namespace vornic
