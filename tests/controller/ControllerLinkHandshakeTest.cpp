#include <gtest/gtest.h>

#include <ostream>

#include "controller/ControllerLink.h"
#include "support/LinkTestSupport.h"

namespace vornic {
namespace {

using test::Bytes;
using test::ControllerScript;
using test::LinkHarness;

Bytes readRequest(uint8_t code) {
    return {0xAA, 0x01, code};
}

std::vector<Bytes> handshakeRequests(bool withSite) {
    std::vector<Bytes> expected{readRequest(0x01), readRequest(0x03), readRequest(0x02),
                                readRequest(0x14), readRequest(0x15)};
    if (withSite) {
        expected.push_back(readRequest(0x3D));
        expected.push_back(readRequest(0x64));
    }
    return expected;
}

ControllerScript scriptFor(uint16_t hardwareType, uint32_t firmware) {
    ControllerScript script;
    script.identity = {0x01, 0x34, 0x12, static_cast<uint8_t>(hardwareType),
                       static_cast<uint8_t>(hardwareType >> 8)};
    script.firmware = firmware;
    return script;
}

TEST(ControllerLinkHandshake, LevelSixRunsEveryReadWithTwoTickPauses) {
    LinkHarness h;
    EXPECT_EQ(h.link.handshakeStart(), kResultNothing);
    EXPECT_EQ(h.port.takeFrames(), std::vector<Bytes>{readRequest(0x01)});
    EXPECT_EQ(h.link.linkState(), link::kIdentity);

    // Each reply starts a pause; the next request leaves on the second tick, not the first.
    const std::vector<std::pair<Bytes, uint8_t>> steps{
        {{0x01, 0x00, 0x02, 0x01, 0x00}, 0x03},
        {{0x03, 0x05}, 0x02},
        {{0x02, 0x0A, 0x00, 0x00, 0x01}, 0x14},
        {test::axisBlockPayload({}), 0x15},
    };
    for (const auto& [payload, nextCode] : steps) {
        EXPECT_EQ(h.reply(payload), kResultNothing);
        EXPECT_EQ(h.link.linkState(), link::kPause);
        EXPECT_TRUE(h.port.takeFrames().empty());
        EXPECT_EQ(h.tick(), kResultNothing);
        EXPECT_TRUE(h.port.takeFrames().empty()) << "request left after one tick";
        EXPECT_EQ(h.tick(), kResultNothing);
        EXPECT_EQ(h.port.takeFrames(), std::vector<Bytes>{readRequest(nextCode)});
        EXPECT_EQ(h.link.timeoutCounter(), 32u);
    }
    // The settings block leads straight on to the meridian-flip and site reads.
    EXPECT_EQ(h.reply(test::settingsBlockPayload({})), kResultNothing);
    EXPECT_EQ(h.port.takeFrames(), std::vector<Bytes>{readRequest(0x3D)});
    EXPECT_EQ(h.link.linkState(), link::kMeridianFlip);
    EXPECT_EQ(h.reply({0x3D, 0x00, 0x11, 0x22, 0x0F}), kResultNothing);
    EXPECT_EQ(h.port.takeFrames(), std::vector<Bytes>{readRequest(0x64)});
    EXPECT_EQ(h.link.linkState(), link::kSite);
    EXPECT_TRUE(h.listener.events.empty());

    Bytes site{0x64};
    test::putLe32(site, static_cast<uint32_t>(-1234567));
    test::putLe32(site, 7654321);
    EXPECT_EQ(h.reply(site), kResultHandshakeDone);
    EXPECT_EQ(h.link.linkState(), link::kIdle);
    EXPECT_TRUE(h.port.takeFrames().empty());
    ASSERT_EQ(h.listener.reportKinds(), std::vector<ReportKind>{report::kConnected});
    const MountSettings s = *h.listener.lastSettings();
    EXPECT_EQ(s.hardwareVersion, 0x00010200u);
    EXPECT_EQ(s.hardwareType, 1u);
    EXPECT_EQ(s.portType, 5);
    EXPECT_EQ(s.firmwareVersion, 0x0100000Au);
    EXPECT_EQ(s.featureLevel, 6);
    EXPECT_EQ(s.meridianFlipParamA, 0x11);
    EXPECT_EQ(s.meridianFlipParamB, 0x22);
    EXPECT_EQ(s.meridianFlipHysteresis, 0x0F);
    EXPECT_EQ(s.latitude, -1234567);
    EXPECT_EQ(s.longitude, 7654321);
    EXPECT_EQ(h.link.pierSide(), 7u);
    EXPECT_EQ(h.link.reloadMarker(), 1u);
}

struct HandshakeLevelCase {
    Bytes identity;
    uint32_t firmware;
    int level;
};

void PrintTo(const HandshakeLevelCase& c, std::ostream* os) {
    *os << "identity of " << c.identity.size() << " bytes, type "
        << (c.identity.size() == 5 ? c.identity[3] : 0) << ", firmware 0x" << std::hex << c.firmware
        << std::dec << " -> level " << c.level;
}

class FeatureLevelTable : public ::testing::TestWithParam<HandshakeLevelCase> {};

TEST_P(FeatureLevelTable, DecidesLevelAndWhichReadsRun) {
    const HandshakeLevelCase& c = GetParam();
    ControllerScript script;
    script.identity = c.identity;
    script.firmware = c.firmware;
    script.config.gearRatio[kRa] = 1000;
    script.config.maxSpeed[kRa] = 600;
    script.flipHysteresis = 9;
    script.latitude = 42;
    LinkHarness h;
    EXPECT_EQ(h.connect(script), kResultHandshakeDone);
    EXPECT_EQ(h.port.takeFrames(), handshakeRequests(c.level >= 5));
    ASSERT_EQ(h.listener.reportKinds(), std::vector<ReportKind>{report::kConnected});
    const MountSettings s = *h.listener.lastSettings();
    EXPECT_EQ(s.featureLevel, c.level);
    EXPECT_EQ(s.gearRatio[kRa], 1000u) << "the axis block is read at every level";
    EXPECT_EQ(s.maxSpeed[kRa], c.level >= 3 ? 600u : 0u);
    EXPECT_EQ(s.meridianFlipHysteresis, c.level >= 5 ? 9 : 0);
    EXPECT_EQ(s.latitude, c.level >= 5 ? 42 : 0);
}

Bytes fiveByte(uint16_t type) {
    return {0x01, 0x00, 0x00, static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8)};
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FeatureLevelTable,
    ::testing::Values(HandshakeLevelCase{fiveByte(1), 0x00000000, 1},
                      HandshakeLevelCase{fiveByte(1), 0x01000000, 1},
                      HandshakeLevelCase{fiveByte(1), 0x01000001, 2},
                      HandshakeLevelCase{fiveByte(1), 0x01000002, 3},
                      HandshakeLevelCase{fiveByte(1), 0x01000003, 3},
                      HandshakeLevelCase{fiveByte(1), 0x01000004, 4},
                      HandshakeLevelCase{fiveByte(1), 0x01000008, 4},
                      HandshakeLevelCase{fiveByte(1), 0x01000009, 5},
                      HandshakeLevelCase{fiveByte(1), 0x0100000A, 6},
                      HandshakeLevelCase{fiveByte(1), 0xFFFFFFFF, 6},
                      HandshakeLevelCase{fiveByte(3), 0x00000000, 4},
                      HandshakeLevelCase{fiveByte(4), 0x0100000A, 4},
                      HandshakeLevelCase{fiveByte(5), 0x01000004, 4},
                      HandshakeLevelCase{fiveByte(5), 0x01000005, 6},
                      // Three-byte identity: level 1 whatever the firmware says.
                      HandshakeLevelCase{{0x01, 0x01, 0x02}, 0x0100000A, 1}));

TEST(ControllerLinkHandshake, ThreeByteIdentity) {
    {
        LinkHarness h;
        (void)h.link.handshakeStart();
        EXPECT_EQ(h.feed({0x55, 0x03, 0x01, 0x01, 0x02}), kResultNothing);
        EXPECT_EQ(h.link.linkState(), link::kPause);
        EXPECT_EQ(h.link.settings().hardwareVersion, 0x00010201u);
        EXPECT_EQ(h.link.settings().hardwareType, 0u);
    }
    {
        LinkHarness h;
        (void)h.link.handshakeStart();
        (void)h.reply({0x01, 0x02, 0x05});
        EXPECT_EQ(h.link.settings().hardwareVersion, 0x00010502u);
    }
    // Too old: versions x.0 and 1.0 / 1.1 are reported with kind 3 and the link stops.
    for (const Bytes& identity :
         {Bytes{0x01, 0x01, 0x01}, Bytes{0x01, 0x01, 0x00}, Bytes{0x01, 0x00, 0x07}}) {
        LinkHarness h;
        (void)h.link.handshakeStart();
        (void)h.port.takeFrames();
        EXPECT_EQ(h.reply(identity), kResultNothing);
        EXPECT_EQ(h.link.linkState(), link::kNoLink);
        ASSERT_EQ(h.listener.reportKinds(), std::vector<ReportKind>{report::kTooOld});
        EXPECT_EQ(h.listener.lastSettings()->hardwareVersion,
                  0x00010000u + 256u * identity[2] + identity[1]);
        // No time-out afterwards, and nothing more is asked.
        EXPECT_EQ(h.tick(100), kResultNothing);
        EXPECT_EQ(h.listener.events.size(), 1u);
        EXPECT_TRUE(h.port.takeFrames().empty());
    }
}

TEST(ControllerLinkHandshake, IdentityRejectionsAndIgnoredReplies) {
    {
        LinkHarness h;
        (void)h.link.handshakeStart();
        (void)h.port.takeFrames();
        EXPECT_EQ(h.feed({0x55, 0x05, 0x01, 0x01, 0x00, 0x02, 0x00}), kResultLinkFailed);
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kIncompatibleDevice});
        EXPECT_EQ(h.link.linkState(), link::kIdentity);
        EXPECT_EQ(h.link.settings().hardwareType, 2u);
        EXPECT_TRUE(h.port.takeFrames().empty());
    }
    // Reply code 2, a longer identity and a lone acknowledgement are not an identity.
    for (const Bytes& frame :
         {Bytes{0x55, 0x05, 0x02, 0x01, 0x00, 0x01, 0x00},
          Bytes{0x55, 0x06, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00}, Bytes{0x55, 0x01, 0x01}}) {
        LinkHarness h;
        (void)h.link.handshakeStart();
        EXPECT_EQ(h.feed(frame), kResultNothing);
        EXPECT_EQ(h.link.linkState(), link::kIdentity);
        EXPECT_EQ(h.tick(31), kResultNothing);
        EXPECT_TRUE(h.listener.events.empty());
        EXPECT_EQ(h.tick(), kResultLinkFailed);
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kTimeout});
    }
}

TEST(ControllerLinkHandshake, TimeOutIsReportedOnceOnTheThirtySecondTick) {
    LinkHarness h;
    (void)h.link.handshakeStart();
    for (int t = 1; t <= 31; ++t) {
        ASSERT_EQ(h.tick(), kResultNothing) << "tick " << t;
    }
    EXPECT_TRUE(h.listener.events.empty());
    EXPECT_EQ(h.tick(), kResultLinkFailed);
    EXPECT_EQ(h.tick(50), kResultNothing);
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kTimeout});
    EXPECT_EQ(h.link.linkState(), link::kIdentity) << "the dispatcher closes; the state stays";
}

TEST(ControllerLinkHandshake, EachRequestGetsItsOwnThirtyTwoTicks) {
    LinkHarness h;
    (void)h.link.handshakeStart();
    h.tick(10);
    (void)h.reply(fiveByte(1));
    h.tick(2);  // port type requested, counter armed again
    EXPECT_EQ(h.link.linkState(), link::kPortType);
    EXPECT_EQ(h.tick(31), kResultNothing);
    EXPECT_EQ(h.tick(), kResultLinkFailed);
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kTimeout});

    // The site read's counter (armed at 9 -> 10) also expires.
    LinkHarness g;
    ControllerScript script = scriptFor(1, 0x0100000A);
    (void)g.link.handshakeStart();
    (void)g.reply(script.identity);
    g.tick(2);
    (void)g.reply({0x03, 0x00});
    g.tick(2);
    (void)g.reply({0x02, 0x0A, 0x00, 0x00, 0x01});
    g.tick(2);
    (void)g.reply(test::axisBlockPayload({}));
    g.tick(2);
    (void)g.reply(test::settingsBlockPayload({}));
    g.tick(20);
    (void)g.reply({0x3D, 0, 0, 0, 0});
    EXPECT_EQ(g.link.linkState(), link::kSite);
    EXPECT_EQ(g.tick(31), kResultNothing);
    EXPECT_EQ(g.tick(), kResultLinkFailed);
}

TEST(ControllerLinkHandshake, TimeOutDuringThePauseReportsNothing) {
    LinkHarness h;
    (void)h.link.handshakeStart();
    h.tick(31);
    (void)h.reply(fiveByte(1));
    EXPECT_EQ(h.tick(), kResultNothing);  // counter reaches 0 in state 3
    EXPECT_TRUE(h.listener.events.empty());
    EXPECT_EQ(h.link.timeoutCounter(), 0u);
    EXPECT_EQ(h.tick(), kResultNothing);  // pause over: port type request, counter re-armed
    EXPECT_EQ(h.link.linkState(), link::kPortType);
    EXPECT_EQ(h.link.timeoutCounter(), 32u);
    EXPECT_TRUE(h.listener.events.empty());
}

TEST(ControllerLinkHandshake, PortTypeReplyNeedsItsPayloadByte) {
    const std::vector<std::pair<Bytes, uint8_t>> cases{
        {{0x55, 0x00}, 0}, {{0x55, 0x01, 0x03}, 0}, {{0x55, 0x02, 0x03, 0x07}, 7}};
    for (const auto& [frame, expected] : cases) {
        LinkHarness h;
        (void)h.link.handshakeStart();
        // The identity leaves 0x7F where a port-type byte would sit in the buffer.
        (void)h.reply({0x01, 0x7F, 0x00, 0x01, 0x00});
        h.tick(2);
        ASSERT_EQ(h.link.linkState(), link::kPortType);
        (void)h.feed(frame);
        EXPECT_EQ(h.link.settings().portType, expected);
        EXPECT_EQ(h.link.linkState(), link::kPause);
    }
}

TEST(ControllerLinkHandshake, DecodesEveryBlockFieldAtItsOffset) {
    Bytes axis(29);
    for (size_t k = 0; k < axis.size(); ++k) {
        axis[k] = static_cast<uint8_t>(0x10 + k);
    }
    Bytes block(58);
    for (size_t k = 0; k < block.size(); ++k) {
        block[k] = static_cast<uint8_t>(0x80 + k);
    }
    block[18] = 0xEC;  // RA third overtone, -20

    LinkHarness h;
    (void)h.link.handshakeStart();
    (void)h.reply(fiveByte(1));
    h.tick(2);
    (void)h.reply({0x03, 0x00});
    h.tick(2);
    (void)h.reply({0x02, 0x04, 0x00, 0x00, 0x01});  // level 4: no site read
    h.tick(2);
    (void)h.reply(axis);
    h.tick(2);
    EXPECT_EQ(h.reply(block), kResultHandshakeDone);
    const MountSettings s = *h.listener.lastSettings();

    EXPECT_EQ(s.axisBlockReserved[kRa], 0x12);
    EXPECT_EQ(s.gearRatio[kRa], 0x16151413u);
    EXPECT_EQ(s.countsPerRevolution[kRa], 0x1A191817u);
    EXPECT_EQ(s.siderealRate[kRa], 0x1E1D1C1B);
    EXPECT_EQ(s.axisBlockReserved[kDe], 0x1F);
    EXPECT_EQ(s.gearRatio[kDe], 0x23222120u);
    EXPECT_EQ(s.countsPerRevolution[kDe], 0x27262524u);
    EXPECT_EQ(s.siderealRate[kDe], 0x2B2A2928);
    EXPECT_EQ(s.mountType, 0x2C);

    EXPECT_EQ(s.reverseRotation, 0x82);
    EXPECT_EQ(s.reverseAutoguiding, 0x03);
    EXPECT_EQ(s.reverseLimitSwitches, 0x08);
    EXPECT_EQ(s.maxSpeed[kRa], 0x8584u);
    EXPECT_EQ(s.guidingRate[kRa], 0x86) << "one byte, zero-extended";
    EXPECT_EQ(s.maxCurrent[kRa], 0x8887);
    EXPECT_EQ(s.motorCurrent[kRa][0], 0x8A89);
    EXPECT_EQ(s.motorCurrent[kRa][1], 0x8C8B);
    EXPECT_EQ(s.motorCurrent[kRa][2], 0x8E8D);
    EXPECT_EQ(s.decay[kRa][0], 0x8F);
    EXPECT_EQ(s.decay[kRa][1], 0x90);
    EXPECT_EQ(s.decay[kRa][2], 0x91);
    EXPECT_EQ(s.thirdOvertone[kRa], -20);
    EXPECT_EQ(s.overtoneReserved[kRa], 0x93);
    EXPECT_EQ(s.acceleration[kRa], 0x94);
    EXPECT_EQ(s.deceleration[kRa], 0x95);
    EXPECT_EQ(s.incCurrentAt[kRa], 0x9796);
    EXPECT_EQ(s.incCurrentReserved[kRa], 0x9998);
    EXPECT_EQ(s.settingsReservedByte[kRa], 0x9A);
    EXPECT_EQ(s.settingsReservedWord[kRa], 0x9E9D9C9Bu);

    EXPECT_EQ(s.maxSpeed[kDe], 0xA09Fu);
    EXPECT_EQ(s.guidingRate[kDe], 0xA1);
    EXPECT_EQ(s.maxCurrent[kDe], 0xA3A2);
    EXPECT_EQ(s.motorCurrent[kDe][0], 0xA5A4);
    EXPECT_EQ(s.motorCurrent[kDe][1], 0xA7A6);
    EXPECT_EQ(s.motorCurrent[kDe][2], 0xA9A8);
    EXPECT_EQ(s.decay[kDe][0], 0xAA);
    EXPECT_EQ(s.decay[kDe][1], 0xAB);
    EXPECT_EQ(s.decay[kDe][2], 0xAC);
    EXPECT_EQ(s.thirdOvertone[kDe], -83);
    EXPECT_EQ(s.overtoneReserved[kDe], 0xAE);
    EXPECT_EQ(s.acceleration[kDe], 0xAF);
    EXPECT_EQ(s.deceleration[kDe], 0xB0);
    EXPECT_EQ(s.incCurrentAt[kDe], 0xB2B1);
    EXPECT_EQ(s.incCurrentReserved[kDe], 0xB4B3);
    EXPECT_EQ(s.settingsReservedByte[kDe], 0xB5);
    EXPECT_EQ(s.settingsReservedWord[kDe], 0xB9B8B7B6u);

    // maxRate is maxSpeed x siderealRate, wrapped to 32 bits.
    EXPECT_EQ(s.maxRate[kRa], static_cast<int32_t>(0x8584u * 0x1E1D1C1Bu));
    EXPECT_EQ(s.maxRate[kDe], static_cast<int32_t>(0xA09Fu * 0x2B2A2928u));
}

TEST(ControllerLinkHandshake, MaxRateFromSettingsAndAxisBlocks) {
    MountSettings config;
    config.siderealRate[kRa] = 1000;
    config.maxSpeed[kRa] = 800;
    config.siderealRate[kDe] = -300;
    config.maxSpeed[kDe] = 3;
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(3), config);
    EXPECT_EQ(h.link.settings().maxRate[kRa], 800000);
    EXPECT_EQ(h.link.settings().maxRate[kDe], -900);

    // Level 2: the settings block is asked for but not taken, so maxRate stays 0.
    LinkHarness g;
    ControllerScript script = scriptFor(1, test::firmwareForLevel(2));
    script.config = config;
    EXPECT_EQ(g.connect(script), kResultHandshakeDone);
    EXPECT_EQ(g.port.takeFrames(), handshakeRequests(false));
    const MountSettings s = *g.listener.lastSettings();
    EXPECT_EQ(s.siderealRate[kRa], 1000);
    EXPECT_EQ(s.maxSpeed[kRa], 0u);
    EXPECT_EQ(s.maxRate[kRa], 0);
    EXPECT_EQ(s.maxRate[kDe], 0);
}

// A cut identity is no device this program knows; a cut block in a read-back leaves the record
// exactly as it was, so no made-up zero can later be written back.
TEST(ControllerLinkHandshake, ShortBlocksNeverFillTheRecord) {
    for (const Bytes& identity : {Bytes{0x55, 0x04, 0x01, 0x01, 0x00, 0x01}, Bytes{0x55, 0x00}}) {
        LinkHarness h;
        (void)h.link.handshakeStart();
        EXPECT_EQ(h.feed(identity), kResultLinkFailed);
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kUnknownDevice});
        EXPECT_EQ(h.link.settings(), MountSettings{});
    }

    MountSettings config;
    for (int a = 0; a < 2; ++a) {
        config.gearRatio[a] = 111111;
        config.siderealRate[a] = 2222;
        config.maxSpeed[a] = 333;
        config.acceleration[a] = 55;
    }
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(4), config);
    const MountSettings before = h.link.settings();
    h.listener.clear();
    h.execute(op::kReloadDefaults);
    (void)h.reply({0x0C});
    ASSERT_EQ(h.link.linkState(), link::kAxisBlock);
    EXPECT_EQ(h.reply({0x14, 0x00, 0x09, 0x01, 0x02}), kResultNothing);
    EXPECT_EQ(h.link.linkState(), link::kIdle);
    EXPECT_EQ(h.link.settings(), before);
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kCommunicationError});
    EXPECT_TRUE(h.listener.reportKinds().empty());
    h.tick(40);  // the wait has ended: nothing more is asked for
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kCommunicationError});
}

TEST(ControllerLinkHandshake, HandshakeStartForgetsTheEarlierConnection) {
    LinkHarness h;
    MountSettings config;
    config.gearRatio[kRa] = 5;
    h.connectAt(1, test::firmwareForLevel(5), config);
    h.execute(op::kInitScope, {5});  // level 5: pier side 6
    ASSERT_EQ(h.link.pierSide(), 6u);
    (void)h.feed({0x55, 0x09, 0x01});  // a partial frame left on the line
    EXPECT_EQ(h.link.handshakeStart(), kResultNothing);
    EXPECT_EQ(h.link.settings(), MountSettings{});
    EXPECT_EQ(h.link.pierSide(), 7u);
    EXPECT_EQ(h.link.reloadMarker(), 1u);
    EXPECT_EQ(h.link.linkState(), link::kIdentity);
    // The first reply of the new connection is not swallowed by the partial one.
    (void)h.reply(fiveByte(1));
    EXPECT_EQ(h.link.linkState(), link::kPause);
}

TEST(ControllerLinkHandshake, TwoRepliesInOneChunkAreHandledInOrder) {
    LinkHarness h;
    ControllerScript script = scriptFor(1, 0x0100000A);
    (void)h.link.handshakeStart();
    (void)h.reply(script.identity);
    h.tick(2);
    (void)h.reply({0x03, 0x00});
    h.tick(2);
    (void)h.reply({0x02, 0x0A, 0x00, 0x00, 0x01});
    h.tick(2);
    (void)h.reply(test::axisBlockPayload({}));
    h.tick(2);
    (void)h.reply(test::settingsBlockPayload({}));
    Bytes chunk = test::replyFrame({0x3D, 0x00, 0x01, 0x02, 0x03});
    const Bytes site = test::replyFrame({0x64, 1, 0, 0, 0, 2, 0, 0, 0});
    chunk.insert(chunk.end(), site.begin(), site.end());
    EXPECT_EQ(h.feed(chunk), kResultHandshakeDone);
    EXPECT_EQ(h.link.settings().meridianFlipHysteresis, 3);
    EXPECT_EQ(h.link.settings().longitude, 2);
}

// The handshake's last reply and a stray frame arriving in one read: the stray frame (dropped while
// idle) must not hide that the handshake finished, nor a failure that asks for the port to close.
TEST(ControllerLinkHandshake, LaterFrameInTheSameChunkKeepsTheResult) {
    LinkHarness h;
    (void)h.link.handshakeStart();
    (void)h.reply(scriptFor(1, 0x01000004).identity);
    h.tick(2);
    (void)h.reply({0x03, 0x00});
    h.tick(2);
    (void)h.reply({0x02, 0x04, 0x00, 0x00, 0x01});
    h.tick(2);
    (void)h.reply(test::axisBlockPayload({}));
    h.tick(2);
    Bytes chunk = test::replyFrame(test::settingsBlockPayload({}));
    const Bytes stray = test::replyFrame({0x0D});
    chunk.insert(chunk.end(), stray.begin(), stray.end());
    EXPECT_EQ(h.feed(chunk), kResultHandshakeDone);
    EXPECT_EQ(h.link.linkState(), link::kIdle);

    LinkHarness failing;
    (void)failing.link.handshakeStart();
    Bytes rejected = test::replyFrame({0x01, 0x01, 0x00, 0x02, 0x00});
    const Bytes more = test::replyFrame({0x03, 0x00});
    rejected.insert(rejected.end(), more.begin(), more.end());
    EXPECT_EQ(failing.feed(rejected), kResultLinkFailed);
}

}  // namespace
}  // namespace vornic
