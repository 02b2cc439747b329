#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "text/Text.h"

namespace vornic {
namespace {

std::string angleText(int32_t angle) {
    char buffer[32];
    const uint32_t end = appendAngle(buffer, sizeof(buffer), 0, angle);
    EXPECT_EQ(buffer[end], '\0');
    return std::string(buffer, end);
}

// Reads the whole string; the string's own length is the reading limit.
int32_t angleOf(const std::string& text, int kind) {
    int32_t value = 0x5A5A5A5A;
    readAngle(text.data(), static_cast<uint32_t>(text.size()), 0, &value, kind);
    return value;
}

int32_t integerOf(const std::string& text, uint32_t* position = nullptr) {
    int32_t value = 0x5A5A5A5A;
    const uint32_t end = readInteger(text.data(), static_cast<uint32_t>(text.size()), 0, &value);
    if (position != nullptr) {
        *position = end;
    }
    return value;
}

constexpr int32_t kDeg = kAngleUnitsPerDegree;
constexpr int32_t kMin = kAngleUnitsPerMinute;
constexpr int32_t kSec = kAngleUnitsPerSecond;

// --- formatting --------------------------------------------------------------------------------

TEST(AppendAngle, FormatsDegreesMinutesSeconds) {
    EXPECT_EQ(angleText(4104360), "47:30:15");
    EXPECT_EQ(angleText(4104371), "47:30:15");  // below one arc-second is dropped
    EXPECT_EQ(angleText(0), "0:00:00");
    EXPECT_EQ(angleText(15552000), "180:00:00");
    EXPECT_EQ(angleText(7776000), "90:00:00");
    EXPECT_EQ(angleText(-43200), "-0:30:00");
    EXPECT_EQ(angleText(-10), "-0:00:00");
    EXPECT_EQ(angleText(-4104360), "-47:30:15");
    EXPECT_EQ(angleText(kDeg - 1), "0:59:59");
    EXPECT_EQ(angleText(1000 * kDeg + 5 * kMin + 9 * kSec), "1000:05:09");
}

TEST(AppendAngle, ExtremesUseTheUnsignedMagnitude) {
    // 2^31 units = 24855 degrees, 8 minutes, 5 seconds and 8 units.
    EXPECT_EQ(angleText(INT32_MIN), "-24855:08:05");
    EXPECT_EQ(angleText(INT32_MAX), "24855:08:05");
}

TEST(AppendAngle, AppendsAfterExistingText) {
    char buffer[32];
    uint32_t end = appendText(buffer, sizeof(buffer), 0, "Lat ");
    end = appendAngle(buffer, sizeof(buffer), end, 4104360);
    EXPECT_STREQ(buffer, "Lat 47:30:15");
    EXPECT_EQ(end, 12u);
}

TEST(AppendAngle, CutOffKeepsATerminator) {
    char buffer[6];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(appendAngle(buffer, sizeof(buffer), 0, -4104360), 5u);
    EXPECT_STREQ(buffer, "-47:3");
}

// --- readInteger -------------------------------------------------------------------------------

TEST(ReadInteger, SignDigitsAndStopPosition) {
    uint32_t position = 0;
    EXPECT_EQ(integerOf("123", &position), 123);
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(integerOf("-42x", &position), -42);
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(integerOf("007", &position), 7);
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(integerOf("", &position), 0);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(integerOf("abc", &position), 0);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(integerOf("-", &position), 0);
    EXPECT_EQ(position, 1u);  // after the minus sign, since no digit followed
    EXPECT_EQ(integerOf("-x", &position), 0);
    EXPECT_EQ(position, 1u);
    EXPECT_EQ(integerOf("+5", &position), 0);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(integerOf("--5", &position), 0);
    EXPECT_EQ(position, 1u);
}

TEST(ReadInteger, WrapsIn32Bits) {
    EXPECT_EQ(integerOf("2147483647"), INT32_MAX);
    EXPECT_EQ(integerOf("-2147483648"), INT32_MIN);
    EXPECT_EQ(integerOf("2147483648"), INT32_MIN);
    EXPECT_EQ(integerOf("4294967297"), 1);
    EXPECT_EQ(integerOf("-4294967295"), 1);
    // A long run: compare with the same sum done in 64 bits and cut to 32.
    const std::string digits = "98765432109876543210987654321098765432109876543210";
    uint64_t expected = 0;
    for (char c : digits) {
        expected = (expected * 10 + static_cast<uint64_t>(c - '0')) & 0xFFFFFFFFu;
    }
    EXPECT_EQ(static_cast<uint32_t>(integerOf(digits)), static_cast<uint32_t>(expected));
}

TEST(ReadInteger, HonoursEndAndStartPosition) {
    const char text[] = "12345";
    int32_t value = 0;
    EXPECT_EQ(readInteger(text, 2, 0, &value), 2u);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(readInteger(text, 5, 3, &value), 5u);
    EXPECT_EQ(value, 45);
    EXPECT_EQ(readInteger(text, 3, 3, &value), 3u);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(readInteger(text, 2, 4, &value), 4u);  // position past end: nothing is read
    EXPECT_EQ(value, 0);
    EXPECT_EQ(readInteger(text, 5, 0, nullptr), 5u);  // no result wanted
}

// --- readAngle ---------------------------------------------------------------------------------

TEST(ReadAngleLatitude, HemisphereLettersAndSigns) {
    EXPECT_EQ(angleOf("N 47:30:15", kAngleLatitude), 4104360);
    EXPECT_EQ(angleOf("47:30:15", kAngleLatitude), 4104360);
    EXPECT_EQ(angleOf("S 47:30:15", kAngleLatitude), -4104360);
    EXPECT_EQ(angleOf("s47:30:15", kAngleLatitude), -4104360);
    EXPECT_EQ(angleOf("n47:30:15", kAngleLatitude), 4104360);
    EXPECT_EQ(angleOf(" N47", kAngleLatitude), 47 * kDeg);
    EXPECT_EQ(angleOf("-47:30:15", kAngleLatitude), -4104360);
    EXPECT_EQ(angleOf("S -47", kAngleLatitude), 47 * kDeg);  // minus and south cancel
    EXPECT_EQ(angleOf("SN47", kAngleLatitude), -47 * kDeg);  // N may follow S
    EXPECT_EQ(angleOf("NS47", kAngleLatitude), 0);           // but S may not follow N
    EXPECT_EQ(angleOf("E 47", kAngleLatitude), 0);           // a longitude letter stops it
}

TEST(ReadAngleLatitude, SeparatorsAndMissingParts) {
    EXPECT_EQ(angleOf("47.30.15", kAngleLatitude), 4104360);
    EXPECT_EQ(angleOf("47.5", kAngleLatitude), 4068000);  // 47 degrees 5 minutes
    EXPECT_EQ(angleOf("47", kAngleLatitude), 4060800);
    EXPECT_EQ(angleOf("10:75:00", kAngleLatitude), 972000);     // no range check
    EXPECT_EQ(angleOf("47:30:15.5", kAngleLatitude), 4104360);  // fraction not read
    EXPECT_EQ(angleOf("47::..:30", kAngleLatitude), 47 * kDeg + 30 * kMin);
    EXPECT_EQ(angleOf("47: 30", kAngleLatitude), 4060800);    // a space after a separator ends it
    EXPECT_EQ(angleOf("N   47", kAngleLatitude), 47 * kDeg);  // spaces after the letter are fine
    EXPECT_EQ(angleOf("  N 47", kAngleLatitude), 0);          // only one space before the letter
}

TEST(ReadAngleLongitude, HemisphereLetters) {
    EXPECT_EQ(angleOf("W 122:25:00", kAngleLongitude), -10576800);
    EXPECT_EQ(angleOf("w122:25", kAngleLongitude), -10576800);
    EXPECT_EQ(angleOf("E 0:00:00", kAngleLongitude), 0);
    EXPECT_EQ(angleOf("E 8:32:10", kAngleLongitude), 8 * kDeg + 32 * kMin + 10 * kSec);
    EXPECT_EQ(angleOf("N 8", kAngleLongitude), 0);  // a latitude letter stops it
    EXPECT_EQ(angleOf("W-8", kAngleLongitude), 8 * kDeg);
}

TEST(ReadAngleOtherKinds, AcceptNoLetter) {
    EXPECT_EQ(angleOf("47:30:15", 0), 4104360);
    EXPECT_EQ(angleOf("-47:30:15", 3), -4104360);
    EXPECT_EQ(angleOf("S 47", 0), 0);
    EXPECT_EQ(angleOf("N 47", 7), 0);
}

TEST(ReadAngle, UnreadableTextGivesZero) {
    EXPECT_EQ(angleOf("", kAngleLatitude), 0);
    EXPECT_EQ(angleOf("abc", kAngleLatitude), 0);
    EXPECT_EQ(angleOf("S", kAngleLatitude), 0);
    EXPECT_EQ(angleOf("-", kAngleLongitude), 0);
    EXPECT_EQ(angleOf(" ", 0), 0);
}

TEST(ReadAngle, StopsAtEndAndReturnsPosition) {
    const char text[] = "S 47:30:15xyz";
    int32_t value = 0;
    EXPECT_EQ(readAngle(text, sizeof(text), 0, &value, kAngleLatitude), 10u);
    EXPECT_EQ(value, -4104360);
    EXPECT_EQ(readAngle(text, 7, 0, &value, kAngleLatitude), 7u);  // "S 47:30"
    EXPECT_EQ(value, -(47 * kDeg + 30 * kMin));
    EXPECT_EQ(readAngle(text, 1, 0, &value, kAngleLatitude), 1u);  // the letter alone
    EXPECT_EQ(value, 0);
    EXPECT_EQ(readAngle(text, sizeof(text), 2, &value, kAngleLatitude), 10u);
    EXPECT_EQ(value, 4104360);
    EXPECT_EQ(readAngle(text, 0, 0, nullptr, kAngleLatitude), 0u);
}

TEST(ReadAngle, WrapsIn32Bits) {
    // 30000 degrees is beyond 32 bits in angle units; the sum wraps without complaint.
    const uint32_t wrapped = 30000u * 86400u;
    EXPECT_EQ(static_cast<uint32_t>(angleOf("30000", 0)), wrapped);
    EXPECT_EQ(static_cast<uint32_t>(angleOf("-30000", 0)), 0u - wrapped);
    EXPECT_EQ(angleOf("-24855:08:05", 0), -(24855 * kDeg + 8 * kMin + 5 * kSec));
}

// --- round trip --------------------------------------------------------------------------------

void expectRoundTrip(int32_t angle) {
    const std::string text = angleText(angle);
    SCOPED_TRACE(text);
    EXPECT_EQ(angleOf(text, kAngleLatitude), angle);
    EXPECT_EQ(angleOf(text, kAngleLongitude), angle);
    EXPECT_EQ(angleOf(text, 0), angle);
    // The dialogs show the hemisphere as a letter in front of the magnitude.
    if (angle > 0) {
        EXPECT_EQ(angleOf("S " + text, kAngleLatitude), -angle);
        EXPECT_EQ(angleOf("W" + text, kAngleLongitude), -angle);
        EXPECT_EQ(angleOf("N " + text, kAngleLatitude), angle);
    }
}

TEST(AngleRoundTrip, WholeArcSecondsReadBackExactly) {
    expectRoundTrip(0);
    expectRoundTrip(-43200);
    EXPECT_EQ(angleText(-43200), "-0:30:00");
    expectRoundTrip(kSec);
    expectRoundTrip(-kSec);
    expectRoundTrip(90 * kDeg);
    expectRoundTrip(-90 * kDeg);
    expectRoundTrip(180 * kDeg);
    expectRoundTrip(-180 * kDeg);
    expectRoundTrip(INT32_MAX / kSec * kSec);
    expectRoundTrip(-(INT32_MAX / kSec * kSec));
    // A sweep over more than a full turn either way with a step that hits every
    // minute and second value over the run.
    for (int32_t seconds = -200 * 3600; seconds <= 200 * 3600; seconds += 61) {
        const int32_t angle = seconds * kSec;
        const std::string text = angleText(angle);
        ASSERT_EQ(angleOf(text, 0), angle) << text;
    }
}

TEST(AngleRoundTrip, FractionsAreDroppedTowardZero) {
    for (int32_t angle : {4104371, -4104371, 23, -23, 1439, -1439}) {
        const int32_t whole = angle / kSec * kSec;  // division truncates toward zero
        EXPECT_EQ(angleOf(angleText(angle), 0), whole) << angle;
    }
}

}  // namespace
}  // namespace vornic
