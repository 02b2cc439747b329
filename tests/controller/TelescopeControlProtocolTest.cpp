// The controller dialogue end to end through TelescopeControl: its worker thread, command pipe,
// serial reader and dispatcher, against a scripted controller on a fake serial port. Time is
// heartbeat ticks fed one by one with onHeartBeat(); after each step the test waits until the
// worker and the reader have handled everything, so no test sleeps or depends on the clock.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "controller/Contract.h"
#include "controller/MountSettings.h"
#include "controller/TelescopeControl.h"
#include "platform/PortTable.h"
#include "support/FakeSerialPort.h"
#include "support/IdleWatchPipe.h"
#include "support/LinkTestSupport.h"
#include "support/RecordingListener.h"
#include "support/ScriptedController.h"

namespace vornic {
namespace {

using test::FakeSerialPort;
using test::IdleWatchPipe;
using test::RecordingTelescopeListener;
using test::ScriptedController;
using Bytes = std::vector<uint8_t>;
using Config = ScriptedController::Config;
using Statuses = std::vector<StatusCode>;

constexpr unsigned kWait = 5000;

// The request tick and frame of each request the worker wrote.
using Timeline = std::vector<std::pair<int, Bytes>>;

Bytes le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

Bytes concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const Bytes kIdentityRequest = {0xAA, 0x01, 0x01};
const Bytes kPortTypeRequest = {0xAA, 0x01, 0x03};
const Bytes kFirmwareRequest = {0xAA, 0x01, 0x02};
const Bytes kAxisBlockRequest = {0xAA, 0x01, 0x14};
const Bytes kSettingsBlockRequest = {0xAA, 0x01, 0x15};
const Bytes kMeridianFlipRequest = {0xAA, 0x01, 0x3D};
const Bytes kSiteRequest = {0xAA, 0x01, 0x64};
const Bytes kStoreRequest = {0xAA, 0x02, 0x0D, 0x01};
const Bytes kReloadRequest = {0xAA, 0x02, 0x0C, 0x01};
const Bytes kVoltageRequest = {0xAA, 0x03, 0x2B, 0x00, 0x00};

// Every request of a handshake and the tick it leaves on: each pause takes two ticks, the reads
// after the settings block follow without a pause.
Timeline expectedHandshake(int level) {
    Timeline timeline = {{0, kIdentityRequest},
                         {2, kPortTypeRequest},
                         {4, kFirmwareRequest},
                         {6, kAxisBlockRequest},
                         {8, kSettingsBlockRequest}};
    if (level >= 5) {
        timeline.emplace_back(8, kMeridianFlipRequest);
        timeline.emplace_back(8, kSiteRequest);
    }
    return timeline;
}

// Values in which every multi-byte field has distinct non-zero bytes, so that a field read at the
// wrong offset or in the wrong byte order cannot go unnoticed.
MountSettings richValues() {
    MountSettings v;
    v.axisBlockReserved[0] = 0x31;
    v.axisBlockReserved[1] = 0x32;
    v.gearRatio[0] = 0x0A1B2C3D;
    v.gearRatio[1] = 0x04152637;
    v.countsPerRevolution[0] = 0x01E2D3C4;
    v.countsPerRevolution[1] = 0x02F3E4D5;
    v.siderealRate[0] = 0x00012345;
    v.siderealRate[1] = 0x0000ABCD;
    v.mountType = 1;
    v.reverseRotation = 0x02;
    v.reverseAutoguiding = 0x01;
    v.reverseLimitSwitches = 0x03;
    v.maxSpeed[0] = 0x0321;
    v.maxSpeed[1] = 0x0456;
    v.guidingRate[0] = 9;
    v.guidingRate[1] = 13;
    v.maxCurrent[0] = 0x07D0;
    v.maxCurrent[1] = 0x05DC;
    v.motorCurrent[0][0] = 0x0111;
    v.motorCurrent[0][1] = 0x0222;
    v.motorCurrent[0][2] = 0x0333;
    v.motorCurrent[1][0] = 0x0144;
    v.motorCurrent[1][1] = 0x0255;
    v.motorCurrent[1][2] = 0x0366;
    v.decay[0][0] = 1;
    v.decay[0][1] = 2;
    v.decay[0][2] = 3;
    v.decay[1][0] = 3;
    v.decay[1][1] = 0;
    v.decay[1][2] = 2;
    v.thirdOvertone[0] = -5;
    v.thirdOvertone[1] = 7;
    v.overtoneReserved[0] = 0xE1;
    v.overtoneReserved[1] = 0xE2;
    v.acceleration[0] = 0x40;
    v.acceleration[1] = 0x50;
    v.deceleration[0] = 0x60;
    v.deceleration[1] = 0x70;
    v.incCurrentAt[0] = 0x1234;
    v.incCurrentAt[1] = 0x2345;
    v.incCurrentReserved[0] = 0xBEEF;
    v.incCurrentReserved[1] = 0xCAFE;
    v.settingsReservedByte[0] = 0xD1;
    v.settingsReservedByte[1] = 0xD2;
    v.settingsReservedWord[0] = 0x89ABCDEF;
    v.settingsReservedWord[1] = 0x76543210;
    v.meridianFlipParamA = 0x0A;
    v.meridianFlipParamB = 0x0B;
    v.meridianFlipHysteresis = 0x0C;
    v.latitude = 3693600;    // 42 deg 45'
    v.longitude = -1234567;  // west
    return v;
}

// A different set, for what a controller holds after reloading its defaults.
MountSettings defaultValues() {
    MountSettings v = richValues();
    v.gearRatio[0] = 0x00030201;
    v.gearRatio[1] = 0x00060504;
    v.siderealRate[0] = 0x00000400;
    v.maxSpeed[0] = 0x0100;
    v.maxSpeed[1] = 0x0200;
    v.motorCurrent[0][2] = 0x0500;
    v.decay[1][1] = 1;
    v.thirdOvertone[0] = 0;
    v.acceleration[1] = 0x10;
    v.meridianFlipHysteresis = 3;
    v.latitude = -86400;
    v.longitude = 86400;
    return v;
}

Config configFor(uint32_t hardwareType, uint32_t firmware, const MountSettings& values) {
    Config config;
    config.hardwareVersion = (hardwareType << 16) | 0x0203;
    config.firmware = firmware;
    config.values = values;
    return config;
}

Config configForLevel(int level, const MountSettings& values = richValues()) {
    return configFor(1, test::firmwareForLevel(level), values);
}

int32_t maxRateOf(uint32_t maxSpeed, int32_t siderealRate) {
    return static_cast<int32_t>(maxSpeed * static_cast<uint32_t>(siderealRate));
}

// What the link's record must hold after reading this controller at this level.
MountSettings expectedRecord(const Config& c, uint8_t level) {
    MountSettings e;
    if (c.threeByteIdentity) {
        e.hardwareVersion = 0x00010000u + 256u * c.shortVersion[1] + c.shortVersion[0];
    } else {
        e.hardwareVersion = c.hardwareVersion;
        e.hardwareType = c.hardwareVersion >> 16;
    }
    e.firmwareVersion = c.firmware;
    e.featureLevel = level;
    e.portType = c.portTypePayload.size() >= 2 ? c.portTypePayload[1] : 0;
    const MountSettings& v = c.values;
    for (int axis = 0; axis < 2; ++axis) {
        e.axisBlockReserved[axis] = v.axisBlockReserved[axis];
        e.gearRatio[axis] = v.gearRatio[axis];
        e.countsPerRevolution[axis] = v.countsPerRevolution[axis];
        e.siderealRate[axis] = v.siderealRate[axis];
    }
    e.mountType = v.mountType;
    if (level >= 3) {
        e.reverseRotation = v.reverseRotation;
        e.reverseAutoguiding = v.reverseAutoguiding;
        e.reverseLimitSwitches = v.reverseLimitSwitches;
        for (int axis = 0; axis < 2; ++axis) {
            e.maxSpeed[axis] = v.maxSpeed[axis];
            e.guidingRate[axis] = v.guidingRate[axis];
            e.maxCurrent[axis] = v.maxCurrent[axis];
            for (int mode = 0; mode < 3; ++mode) {
                e.motorCurrent[axis][mode] = v.motorCurrent[axis][mode];
                e.decay[axis][mode] = v.decay[axis][mode];
            }
            e.thirdOvertone[axis] = v.thirdOvertone[axis];
            e.overtoneReserved[axis] = v.overtoneReserved[axis];
            e.acceleration[axis] = v.acceleration[axis];
            e.deceleration[axis] = v.deceleration[axis];
            e.incCurrentAt[axis] = v.incCurrentAt[axis];
            e.incCurrentReserved[axis] = v.incCurrentReserved[axis];
            e.settingsReservedByte[axis] = v.settingsReservedByte[axis];
            e.settingsReservedWord[axis] = v.settingsReservedWord[axis];
        }
    }
    if (level >= 5) {
        e.meridianFlipParamA = v.meridianFlipParamA;
        e.meridianFlipParamB = v.meridianFlipParamB;
        e.meridianFlipHysteresis = v.meridianFlipHysteresis;
        e.latitude = v.latitude;
        e.longitude = v.longitude;
    }
    for (int axis = 0; axis < 2; ++axis) {
        e.maxRate[axis] = maxRateOf(e.maxSpeed[axis], e.siderealRate[axis]);
    }
    return e;
}

class TelescopeControlProtocolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ports.set(1, "/dev/fake-kz2");
        auto fakePort = std::make_unique<FakeSerialPort>();
        port = fakePort.get();
        TelescopeControl::Options options;
        options.connectPauseMs = 0;
        auto watchedPipe = std::make_unique<IdleWatchPipe>();
        pipe = watchedPipe.get();
        options.pipe = std::move(watchedPipe);
        control = std::make_unique<TelescopeControl>(listener, std::move(fakePort), ports,
                                                     std::move(options));
        peer = std::make_unique<ScriptedController>(*port);
    }

    void TearDown() override {
        // The worker (which drives the peer through the port) goes first.
        control.reset();
        peer.reset();
    }

    // Waits until everything sent so far has gone all the way through: the worker has handled the
    // pipe, the reader has forwarded every injected reply, and nothing new came in meanwhile.
    void settle() {
        if (HasFatalFailure()) {
            return;  // one hung wait is enough; do not pile up more of them
        }
        for (int round = 0; round < 1000; ++round) {
            const size_t reads = port->readCalls();
            if (!pipe->waitReaderIdle(kWait) || !port->waitIdle(kWait) ||
                !pipe->waitReaderIdle(kWait)) {
                FAIL() << "the worker or the reader did not go idle";
            }
            if (port->readCalls() == reads) {
                return;
            }
        }
        FAIL() << "never settled";
    }

    void tick(int count = 1) {
        for (int i = 0; i < count && !HasFatalFailure(); ++i) {
            control->onHeartBeat();
            settle();
        }
    }

    // Requests written since the last call.
    std::vector<Bytes> newWrites() {
        const std::vector<Bytes> all = port->writes();
        std::vector<Bytes> fresh(all.begin() + static_cast<std::ptrdiff_t>(seenWrites_), all.end());
        seenWrites_ = all.size();
        return fresh;
    }

    bool onlyConnectingStatuses() const { return listener.statuses() == Statuses{1, 2}; }

    // Connects and ticks one tick at a time until the handshake has produced a report or a status
    // other than the two of connecting, or `maxTicks` have passed. Returns every request with the
    // tick it left on (0: on the connect itself).
    Timeline connectAndRun(int maxTicks = 40) {
        Timeline timeline;
        control->connect(1, 115200);
        settle();
        for (const Bytes& request : newWrites()) {
            timeline.emplace_back(0, request);
        }
        for (int t = 1; t <= maxTicks; ++t) {
            if (!listener.reports().empty() || !onlyConnectingStatuses()) {
                break;
            }
            tick();
            for (const Bytes& request : newWrites()) {
                timeline.emplace_back(t, request);
            }
        }
        return timeline;
    }

    // A finished handshake with this controller; reports and requests so far are then forgotten.
    void connectTo(const Config& config) {
        peer->setConfig(config);
        (void)connectAndRun();
        ASSERT_EQ(listener.reports().size(), 1u);
        ASSERT_EQ(listener.reports()[0].kind, report::kConnected);
        ASSERT_EQ(listener.statuses(), (Statuses{1, 2}));
        handshakeRecord = listener.reports()[0].settings;
        listener.clear();
        (void)newWrites();
    }

    void reconnectTo(const Config& config) {
        listener.clear();
        control->disconnect();
        settle();
        ASSERT_EQ(listener.statuses(), (Statuses{status::kConnectionClosed}));
        listener.clear();
        connectTo(config);
    }

    void inject(const Bytes& bytes) {
        port->inject(bytes);
        settle();
    }

    RecordingTelescopeListener listener;
    platform::PortTable ports;
    FakeSerialPort* port = nullptr;
    IdleWatchPipe* pipe = nullptr;  // owned by control
    std::unique_ptr<TelescopeControl> control;
    std::unique_ptr<ScriptedController> peer;
    MountSettings handshakeRecord;

  private:
    size_t seenWrites_ = 0;
};

// ---- Handshake ----

struct LevelCase {
    std::string name;
    Config config;
    uint8_t level;
};

void PrintTo(const LevelCase& c, std::ostream* os) {
    *os << c.name;
}

LevelCase levelCase(const std::string& name, uint32_t hardwareType, uint32_t firmware,
                    uint8_t level) {
    return {name, configFor(hardwareType, firmware, richValues()), level};
}

LevelCase threeByteCase(const std::string& name, uint8_t low, uint8_t high) {
    Config config = configFor(0, 0x0100000A, richValues());
    config.threeByteIdentity = true;
    config.shortVersion[0] = low;
    config.shortVersion[1] = high;
    return {name, config, 1};
}

LevelCase withPortTypePayload(LevelCase c, Bytes payload) {
    c.config.portTypePayload = std::move(payload);
    return c;
}

class HandshakeLevels : public TelescopeControlProtocolTest,
                        public ::testing::WithParamInterface<LevelCase> {};

TEST_P(HandshakeLevels, ExactRequestsOnTheirTicksAndAKindOneReport) {
    const LevelCase& c = GetParam();
    peer->setConfig(c.config);

    const Timeline timeline = connectAndRun();

    EXPECT_EQ(timeline, expectedHandshake(c.level));
    EXPECT_EQ(listener.statuses(), (Statuses{status::kOpeningPort, status::kConnecting}));
    const auto reports = listener.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, report::kConnected);
    EXPECT_EQ(reports[0].settings, expectedRecord(c.config, c.level));
    EXPECT_EQ(control->featureLevel(), c.level);
    EXPECT_EQ(peer->malformedRequests(), 0u);

    // The handshake is done: an operation now reaches the controller instead of being refused.
    control->setTracking(1);
    settle();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{{0xAA, 0x03, 0x24, 0x00, 0x01}}));
    EXPECT_EQ(listener.statuses().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    TelescopeControlProtocol, HandshakeLevels,
    ::testing::Values(withPortTypePayload(levelCase("Type1Firmware0", 1, 0x00000000, 1), {0x03}),
                      levelCase("Type1Firmware01000000", 1, 0x01000000, 1),
                      withPortTypePayload(levelCase("Type1Firmware01000001", 1, 0x01000001, 2), {}),
                      levelCase("Type1Firmware01000002", 1, 0x01000002, 3),
                      levelCase("Type1Firmware01000003", 1, 0x01000003, 3),
                      levelCase("Type1Firmware01000004", 1, 0x01000004, 4),
                      levelCase("Type1Firmware01000008", 1, 0x01000008, 4),
                      levelCase("Type1Firmware01000009", 1, 0x01000009, 5),
                      levelCase("Type1Firmware0100000A", 1, 0x0100000A, 6),
                      withPortTypePayload(levelCase("Type1FirmwareFFFFFFFF", 1, 0xFFFFFFFF, 6),
                                          {0x03, 0xFE, 0x99}),
                      levelCase("Type3Firmware0", 3, 0x00000000, 4),
                      levelCase("Type3Firmware0100000A", 3, 0x0100000A, 4),
                      levelCase("Type4FirmwareFFFFFFFF", 4, 0xFFFFFFFF, 4),
                      levelCase("Type5Firmware01000004", 5, 0x01000004, 4),
                      levelCase("Type5Firmware01000005", 5, 0x01000005, 6),
                      threeByteCase("ThreeByteLow02High01", 0x02, 0x01),
                      threeByteCase("ThreeByteLow01High02", 0x01, 0x02),
                      threeByteCase("ThreeByteLowFFHighFF", 0xFF, 0xFF)),
    [](const ::testing::TestParamInfo<LevelCase>& param) { return param.param.name; });

TEST_F(TelescopeControlProtocolTest, ChoppedAndNoisyRepliesGiveTheSameHandshake) {
    const Config config = configForLevel(6);
    for (size_t chunk : {size_t{1}, size_t{3}, size_t{7}}) {
        SCOPED_TRACE(chunk);
        peer->setChunkSize(chunk);
        // Bytes before a start byte are skipped; 0xAA among them means nothing on this side.
        peer->setNoise({0x00, 0xAA, 0x13, 0xFF});
        peer->setConfig(config);
        listener.clear();

        EXPECT_EQ(connectAndRun(), expectedHandshake(6));
        ASSERT_EQ(listener.reports().size(), 1u);
        EXPECT_EQ(listener.reports()[0].settings, expectedRecord(config, 6));
        EXPECT_EQ(listener.statuses(), (Statuses{1, 2}));

        control->disconnect();
        settle();
    }
}

TEST_F(TelescopeControlProtocolTest, NextRequestLeavesOnTheSecondTickAfterAReply) {
    peer->setConfig(configForLevel(6));
    peer->silence(ScriptedController::kPortType);
    control->connect(1, 115200);
    settle();
    tick(2);
    ASSERT_EQ(newWrites(), (std::vector<Bytes>{kIdentityRequest, kPortTypeRequest}));

    // Unanswered, the link just waits.
    tick(5);
    EXPECT_TRUE(newWrites().empty());

    // The reply comes between two ticks: the first tick after it is only the pause.
    inject(peer->replyFor(ScriptedController::kPortType));
    EXPECT_TRUE(newWrites().empty());
    tick();
    EXPECT_TRUE(newWrites().empty());
    tick();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{kFirmwareRequest}));
    EXPECT_TRUE(onlyConnectingStatuses());
}

TEST_F(TelescopeControlProtocolTest, TimeOutRunningOutDuringThePauseReportsNothing) {
    const Config config = configForLevel(4);
    peer->setConfig(config);
    peer->silence(ScriptedController::kPortType);
    control->connect(1, 115200);
    settle();
    tick(2);
    ASSERT_EQ(newWrites(), (std::vector<Bytes>{kIdentityRequest, kPortTypeRequest}));

    // One tick before its time-out the port type arrives; the counter then runs out in the pause.
    tick(31);
    inject(peer->replyFor(ScriptedController::kPortType));
    tick();
    EXPECT_TRUE(onlyConnectingStatuses());
    EXPECT_TRUE(newWrites().empty());
    tick();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{kFirmwareRequest}));

    // The firmware request has a fresh 32 ticks, and the handshake finishes normally.
    peer->answer(ScriptedController::kPortType);
    for (int i = 0; i < 10 && listener.reports().empty(); ++i) {
        tick();
    }
    EXPECT_TRUE(onlyConnectingStatuses());
    ASSERT_EQ(listener.reports().size(), 1u);
    EXPECT_EQ(listener.reports()[0].settings, expectedRecord(config, 4));
    EXPECT_TRUE(port->isOpen());
}

struct SilenceCase {
    std::string name;
    int level;
    uint8_t silentCode;  // 0: the peer answers everything
    int requestTick;     // the tick the unanswered request leaves on
    Bytes request;       // the unanswered request
    uint8_t identityReplyCode;
};

void PrintTo(const SilenceCase& c, std::ostream* os) {
    *os << c.name;
}

class SilentController : public TelescopeControlProtocolTest,
                         public ::testing::WithParamInterface<SilenceCase> {};

TEST_P(SilentController, TimesOutOnTheThirtySecondTickAndClosesWithoutStatusFour) {
    const SilenceCase& c = GetParam();
    Config config = configForLevel(c.level);
    config.identityReplyCode = c.identityReplyCode;
    peer->setConfig(config);
    if (c.silentCode != 0) {
        peer->silence(c.silentCode);
    }
    control->connect(1, 115200);
    settle();
    tick(c.requestTick + 31);
    EXPECT_TRUE(onlyConnectingStatuses());
    EXPECT_TRUE(port->isOpen());
    EXPECT_EQ(port->writes().back(), c.request);

    tick();
    EXPECT_EQ(listener.statuses(), (Statuses{1, 2, status::kTimeout}));
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->closeCount(), 1);
    EXPECT_FALSE(port->closedUnderReader());
    EXPECT_TRUE(listener.reports().empty());

    // Reported once; the link is closed and refuses operations until the next connect.
    tick(5);
    control->storeSettings();
    settle();
    EXPECT_EQ(listener.statuses(), (Statuses{1, 2, 7, status::kNotConnectedYet}));

    peer->answer(c.silentCode);
    peer->setConfig(configForLevel(c.level));
    listener.clear();
    (void)newWrites();
    EXPECT_EQ(connectAndRun(), expectedHandshake(c.level));
    EXPECT_EQ(listener.statuses(), (Statuses{1, 2}));
    EXPECT_EQ(listener.reports().size(), 1u);
    EXPECT_EQ(port->openCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    TelescopeControlProtocol, SilentController,
    ::testing::Values(
        SilenceCase{"Identity", 6, ScriptedController::kIdentity, 0, kIdentityRequest, 0x01},
        SilenceCase{"IdentityWithWrongReplyCode", 6, 0, 0, kIdentityRequest, 0x02},
        SilenceCase{"PortType", 6, ScriptedController::kPortType, 2, kPortTypeRequest, 0x01},
        SilenceCase{"Firmware", 6, ScriptedController::kFirmware, 4, kFirmwareRequest, 0x01},
        SilenceCase{"AxisBlock", 6, ScriptedController::kAxisBlock, 6, kAxisBlockRequest, 0x01},
        SilenceCase{"SettingsBlock", 3, ScriptedController::kSettingsBlock, 8,
                    kSettingsBlockRequest, 0x01},
        SilenceCase{"MeridianFlip", 5, ScriptedController::kMeridianFlip, 8, kMeridianFlipRequest,
                    0x01},
        SilenceCase{"Site", 6, ScriptedController::kSite, 8, kSiteRequest, 0x01}),
    [](const ::testing::TestParamInfo<SilenceCase>& param) { return param.param.name; });

TEST_F(TelescopeControlProtocolTest, UnsupportedHardwareTypeIsRefusedAtOnce) {
    for (uint32_t type : {0u, 2u, 6u, 0xFFFFu}) {
        SCOPED_TRACE(type);
        listener.clear();
        peer->setConfig(configFor(type, 0x0100000A, richValues()));
        control->connect(1, 115200);
        settle();
        EXPECT_EQ(listener.statuses(), (Statuses{1, 2, status::kIncompatibleDevice}));
        EXPECT_FALSE(port->isOpen());
        EXPECT_EQ(newWrites(), (std::vector<Bytes>{kIdentityRequest}));

        // Nothing more comes of it: no time-out, no request, no report.
        tick(40);
        EXPECT_EQ(listener.statuses().size(), 3u);
        EXPECT_TRUE(newWrites().empty());
        EXPECT_TRUE(listener.reports().empty());
    }
    EXPECT_EQ(port->closeCount(), 4);

    // A supported controller on the same link afterwards connects normally.
    listener.clear();
    connectTo(configForLevel(3));
    EXPECT_EQ(control->featureLevel(), 3);
}

TEST_F(TelescopeControlProtocolTest, TooOldControllerIsReportedAndOperationsAreRefused) {
    const std::pair<uint8_t, uint8_t> tooOld[] = {{0, 0}, {0, 9}, {1, 0}, {1, 1}};
    for (const auto& [low, high] : tooOld) {
        SCOPED_TRACE(testing::Message() << int{low} << "," << int{high});
        listener.clear();
        Config config = configForLevel(6);
        config.threeByteIdentity = true;
        config.shortVersion[0] = low;
        config.shortVersion[1] = high;
        peer->setConfig(config);
        control->connect(1, 115200);
        settle();

        EXPECT_EQ(listener.statuses(), (Statuses{1, 2}));
        const auto reports = listener.reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].kind, report::kTooOld);
        MountSettings expected;
        expected.hardwareVersion = 0x00010000u + 256u * high + low;
        EXPECT_EQ(reports[0].settings, expected);
        EXPECT_EQ(control->featureLevel(), 0);

        // The link stops here: no further request and no time-out, but the port stays open.
        tick(40);
        EXPECT_EQ(newWrites(), (std::vector<Bytes>{kIdentityRequest}));
        EXPECT_EQ(listener.statuses(), (Statuses{1, 2}));
        EXPECT_TRUE(port->isOpen());

        control->setTracking(1);
        control->storeSettings();
        control->measureVoltage();
        control->reloadDefaults();
        control->setGearRatios(1, 2);
        control->defineParkPosition();
        control->connect(1, 115200);
        settle();
        EXPECT_EQ(listener.statuses(), (Statuses{1, 2, 12, 12, 12, 12, 12, 12, 11}));
        EXPECT_TRUE(newWrites().empty());

        control->disconnect();
        settle();
        EXPECT_EQ(listener.statuses().back(), status::kConnectionClosed);
        EXPECT_FALSE(port->isOpen());
    }
}

TEST_F(TelescopeControlProtocolTest, FinishedHandshakeIgnoresItsStillRunningTimeOut) {
    connectTo(configForLevel(3));
    // The counter armed for the settings block runs out 32 ticks later, with nothing pending.
    tick(40);
    EXPECT_TRUE(listener.statuses().empty());
    EXPECT_TRUE(port->isOpen());
    control->storeSettings();
    settle();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{kStoreRequest}));
    EXPECT_EQ(listener.statuses(), (Statuses{status::kParametersStored}));
}

// ---- Commands and their replies ----

class ReloadDefaults : public TelescopeControlProtocolTest,
                       public ::testing::WithParamInterface<int> {};

TEST_P(ReloadDefaults, ReadsEverythingBackAndReportsKindTwo) {
    const int level = GetParam();
    connectTo(configForLevel(level));
    peer->setDefaults(configForLevel(level, defaultValues()));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        control->reloadDefaults();
        settle();
        // The acknowledgement leads straight to the axis block, then the usual pause.
        EXPECT_EQ(newWrites(), (std::vector<Bytes>{kReloadRequest, kAxisBlockRequest}));
        tick();
        EXPECT_TRUE(newWrites().empty());
        EXPECT_TRUE(listener.reports().empty());
        tick();
        std::vector<Bytes> expected = {kSettingsBlockRequest};
        if (level >= 5) {
            expected.push_back(kMeridianFlipRequest);
            expected.push_back(kSiteRequest);
        }
        EXPECT_EQ(newWrites(), expected);

        const auto reports = listener.reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].kind, report::kDefaultsReloaded);
        EXPECT_EQ(reports[0].settings, expectedRecord(configForLevel(level, defaultValues()),
                                                      static_cast<uint8_t>(level)));
        EXPECT_TRUE(listener.statuses().empty());
        listener.clear();
    }

    // Back to idle with the handshake still counted as done.
    control->storeSettings();
    settle();
    EXPECT_EQ(listener.statuses(), (Statuses{status::kParametersStored}));
}

INSTANTIATE_TEST_SUITE_P(TelescopeControlProtocol, ReloadDefaults,
                         ::testing::Values(2, 3, 4, 5, 6));

TEST_F(TelescopeControlProtocolTest, ReadBackThatGetsNoAnswerIsReportedAndCloses) {
    // However long the connection has been idle, the read-back's request has 32 ticks of its own.
    connectTo(configForLevel(3));
    tick(40);
    peer->silence(ScriptedController::kAxisBlock);
    control->reloadDefaults();
    settle();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{kReloadRequest, kAxisBlockRequest}));
    tick(31);
    EXPECT_TRUE(listener.statuses().empty());
    EXPECT_TRUE(port->isOpen());
    tick();
    EXPECT_EQ(listener.statuses(), (Statuses{status::kNoAnswer}));
    EXPECT_FALSE(port->isOpen());
}

TEST_F(TelescopeControlProtocolTest, GearRatiosAreWrittenAndReadBackWithoutTheMountType) {
    connectTo(configForLevel(6));
    // Meanwhile the controller reports other axis values, and another mount type.
    Config changed = peer->config();
    changed.values.mountType = 2;
    changed.values.countsPerRevolution[0] = 0x00112233;
    changed.values.siderealRate[1] = 0x00000999;
    changed.values.axisBlockReserved[1] = 0x77;
    peer->setConfig(changed);

    control->setGearRatios(172800, 164000);
    settle();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{{0xAA, 0x0B, 0x1A, 0x01, 0xC0, 0x00, 0xA3, 0x02,
                                                0x00, 0xA0, 0x80, 0x02, 0x00},
                                               kAxisBlockRequest}));
    const auto reports = listener.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, report::kGearRatios);
    MountSettings expected = handshakeRecord;
    expected.gearRatio[0] = 172800;
    expected.gearRatio[1] = 164000;
    expected.countsPerRevolution[0] = 0x00112233;
    expected.siderealRate[1] = 0x00000999;
    expected.axisBlockReserved[1] = 0x77;
    expected.maxRate[1] = maxRateOf(expected.maxSpeed[1], 0x00000999);
    EXPECT_EQ(reports[0].settings, expected);
    EXPECT_EQ(reports[0].settings.mountType, 1);
    EXPECT_TRUE(listener.statuses().empty());

    // Idle again.
    control->measureVoltage();
    settle();
    EXPECT_EQ(listener.voltages(), (std::vector<uint32_t>{1234}));
}

struct SiteCase {
    uint32_t mask;
    std::vector<uint8_t> codes;  // requests of the chain, in order
};

void PrintTo(const SiteCase& c, std::ostream* os) {
    *os << "mask " << c.mask;
}

class SiteChain : public TelescopeControlProtocolTest,
                  public ::testing::WithParamInterface<SiteCase> {};

TEST_P(SiteChain, WalksTheChangedFieldsOneRequestAtATimeAndEndsInStatus24) {
    const SiteCase& c = GetParam();
    connectTo(configForLevel(6));
    peer->silence(ScriptedController::kSiteOrPositionWrite);
    peer->silence(ScriptedController::kMountType);
    peer->silence(ScriptedController::kHysteresis);

    SiteSettings site;
    site.changeMask = c.mask;
    site.mountType = 0x0102;  // only the low byte goes out
    site.latitude = -1800000;
    site.longitude = 0x01020304;
    site.hysteresis = 0x01FF;
    control->applySiteSettings(site);
    settle();

    const Bytes coordinates =
        concat(concat({0xAA, 0x0A, 0x65, 0x01}, le32(0xFFE488C0)), le32(0x01020304));
    const Bytes mountType = {0xAA, 0x03, 0x1B, 0x01, 0x02};
    // The flip parameters are the ones read in the handshake.
    const Bytes hysteresis = {0xAA, 0x06, 0x3E, 0x01, 0x01, 0x0A, 0x0B, 0xFF};
    for (size_t i = 0; i < c.codes.size(); ++i) {
        SCOPED_TRACE(i);
        const uint8_t code = c.codes[i];
        const Bytes& expected = code == ScriptedController::kSiteOrPositionWrite ? coordinates
                                : code == ScriptedController::kMountType         ? mountType
                                                                                 : hysteresis;
        EXPECT_EQ(newWrites(), (std::vector<Bytes>{expected}));
        EXPECT_TRUE(listener.statuses().empty());
        inject(ScriptedController::frame({code}));
    }
    EXPECT_TRUE(newWrites().empty());
    EXPECT_EQ(listener.statuses(), (Statuses{status::kSettingsDone}));

    // The record took the mount type and hysteresis that were written, but keeps the coordinates
    // it read: the next settings report shows it.
    control->setGearRatios(1000, 2000);
    settle();
    const auto reports = listener.reports();
    ASSERT_EQ(reports.size(), 1u);
    const MountSettings& record = reports[0].settings;
    EXPECT_EQ(record.mountType, (c.mask & site::kMountTypeChanged) != 0 ? 2 : 1);
    EXPECT_EQ(record.meridianFlipHysteresis,
              (c.mask & site::kHysteresisChanged) != 0 ? 0xFF : 0x0C);
    EXPECT_EQ(record.latitude, handshakeRecord.latitude);
    EXPECT_EQ(record.longitude, handshakeRecord.longitude);
}

INSTANTIATE_TEST_SUITE_P(
    TelescopeControlProtocol, SiteChain,
    ::testing::Values(SiteCase{0x01, {0x65}}, SiteCase{0x02, {0x65}}, SiteCase{0x03, {0x65}},
                      SiteCase{0x04, {0x1B}}, SiteCase{0x08, {0x3E}}, SiteCase{0x05, {0x65, 0x1B}},
                      SiteCase{0x09, {0x65, 0x3E}}, SiteCase{0x0C, {0x1B, 0x3E}},
                      SiteCase{0x0F, {0x65, 0x1B, 0x3E}}, SiteCase{0xF8, {0x3E}}),
    [](const ::testing::TestParamInfo<SiteCase>& param) {
        return "Mask" + std::to_string(param.param.mask);
    });

TEST_F(TelescopeControlProtocolTest, EmptySiteChangeSendsNothingAndLeavesTheLinkIdle) {
    connectTo(configForLevel(6));
    SiteSettings site;
    site.changeMask = 0x10;  // no bit the chain knows
    site.mountType = 2;
    control->applySiteSettings(site);
    settle();
    EXPECT_TRUE(newWrites().empty());
    EXPECT_TRUE(listener.statuses().empty());
    control->storeSettings();
    settle();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{kStoreRequest}));
    EXPECT_EQ(listener.statuses(), (Statuses{status::kParametersStored}));
}

TEST_F(TelescopeControlProtocolTest, MeasureVoltageReportsTheReading) {
    connectTo(configForLevel(4));
    for (uint16_t voltage : {uint16_t{1234}, uint16_t{0}, uint16_t{0xFFFF}}) {
        Config config = peer->config();
        config.voltage = voltage;
        peer->setConfig(config);
        control->measureVoltage();
        settle();
        EXPECT_EQ(newWrites(), (std::vector<Bytes>{kVoltageRequest}));
    }
    EXPECT_EQ(listener.voltages(), (std::vector<uint32_t>{1234, 0, 0xFFFF}));
    EXPECT_TRUE(listener.statuses().empty());
    EXPECT_TRUE(listener.reports().empty());
}

TEST_F(TelescopeControlProtocolTest, ParkAndReferencePositionsAtLevelSix) {
    connectTo(configForLevel(6));
    control->defineParkPosition();
    settle();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{{0xAA, 0x03, 0x69, 0x01, 0x01}}));
    EXPECT_EQ(listener.statuses(), (Statuses{status::kParkMarked}));

    const std::pair<uint32_t, std::string> positions[] = {
        {4, "EE "},  {5, "EW "},  {6, "ZE "},  {7, "ZW "},  {8, "SHE"}, {9, "SHW"},
        {10, "NHE"}, {11, "NHW"}, {12, "EH "}, {13, "WH "}, {2, "AE "}};
    for (const auto& [code, letters] : positions) {
        SCOPED_TRACE(code);
        listener.clear();
        control->initScope(code);
        settle();
        EXPECT_EQ(newWrites(), (std::vector<Bytes>{concat({0xAA, 0x05, 0x6A, 0x01},
                                                          Bytes(letters.begin(), letters.end()))}));
        EXPECT_EQ(listener.statuses(), (Statuses{status::kSynchronized}));
    }

    // A code with no position sends nothing, and puts a busy link back to idle.
    peer->silence(ScriptedController::kVoltage);
    for (uint32_t code : {0u, 1u, 3u, 14u}) {
        SCOPED_TRACE(code);
        listener.clear();
        control->measureVoltage();
        control->initScope(code);
        settle();
        EXPECT_EQ(newWrites(), (std::vector<Bytes>{kVoltageRequest}));
        control->storeSettings();
        settle();
        EXPECT_EQ(newWrites(), (std::vector<Bytes>{kStoreRequest}));
        EXPECT_EQ(listener.statuses(), (Statuses{status::kParametersStored}));
    }
}

TEST_F(TelescopeControlProtocolTest, ParkAndReferencePositionsAtLevelFive) {
    MountSettings values = richValues();
    values.countsPerRevolution[0] = 4000;
    values.countsPerRevolution[1] = 2000;
    values.siderealRate[1] = 1000;
    connectTo(configForLevel(5, values));

    const Bytes northSidereal = {0xAA, 0x07, 0x23, 0x00, 0x40};
    struct Step {
        uint32_t code;
        Bytes positions;  // RA then DE
        uint8_t parkSide;
    };
    const Step steps[] = {
        {5, concat(le32(1000), le32(static_cast<uint32_t>(-500))), 1},
        {13, concat(le32(0), le32(500)), 0},
        {12, concat(le32(0), le32(static_cast<uint32_t>(-500))), 1},
        {4, concat(le32(static_cast<uint32_t>(-1000)), le32(500)), 0},
    };

    // Each answered request is settled before the next, so that no acknowledgement can arrive
    // while a later request waits for its own answer.
    const auto run = [this](auto operation) {
        operation();
        settle();
    };

    // After connecting the telescope is taken to be on the east side.
    run([&] { control->defineParkPosition(); });
    run([&] { control->startMove(direction::kNorth, 2); });
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{{0xAA, 0x04, 0x1D, 0x01, 0x00, 0x00},
                                               concat(northSidereal, le32(0xFFFFFC18))}));
    EXPECT_EQ(listener.statuses(), (Statuses{status::kParkMarked, status::kManualMovement}));

    for (const Step& step : steps) {
        SCOPED_TRACE(step.code);
        listener.clear();
        run([&] { control->initScope(step.code); });
        run([&] { control->defineParkPosition(); });
        run([&] { control->startMove(direction::kNorth, 2); });
        // The set-position request is not confirmed; its acknowledgement changes nothing.
        EXPECT_EQ(newWrites(),
                  (std::vector<Bytes>{
                      concat({0xAA, 0x0B, 0x20, 0x01, 0xC0}, step.positions),
                      {0xAA, 0x04, 0x1D, 0x01, 0x00, step.parkSide},
                      concat(northSidereal, le32(step.parkSide == 1 ? 1000 : 0xFFFFFC18))}));
        EXPECT_EQ(listener.statuses(), (Statuses{status::kParkMarked, status::kManualMovement}));
    }

    // Positions without a row do nothing at all here, not even freeing a busy link.
    peer->silence(ScriptedController::kVoltage);
    control->measureVoltage();
    settle();
    ASSERT_EQ(newWrites(), (std::vector<Bytes>{kVoltageRequest}));
    listener.clear();
    for (uint32_t code : {2u, 6u, 8u, 11u, 3u}) {
        control->initScope(code);
    }
    control->storeSettings();
    settle();
    EXPECT_TRUE(newWrites().empty());
    EXPECT_EQ(listener.statuses(), (Statuses{status::kCommunicationError}));
}

TEST_F(TelescopeControlProtocolTest, ParkBelowLevelFive) {
    connectTo(configForLevel(4));
    control->defineParkPosition();
    settle();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{{0xAA, 0x04, 0x1D, 0x01, 0x00, 0x00}}));
    EXPECT_EQ(listener.statuses(), (Statuses{status::kParkMarked}));

    reconnectTo(configForLevel(3));
    control->defineParkPosition();
    settle();
    EXPECT_TRUE(newWrites().empty());
    EXPECT_EQ(listener.statuses(), (Statuses{status::kNoParking}));
}

TEST_F(TelescopeControlProtocolTest, BusyLinkRefusesGuardedOperations) {
    const MountSettings values = richValues();
    connectTo(configForLevel(6, values));
    peer->silence(ScriptedController::kStoreSettings);
    control->storeSettings();
    settle();
    ASSERT_EQ(newWrites(), (std::vector<Bytes>{kStoreRequest}));
    ASSERT_TRUE(listener.statuses().empty());

    // Every operation that needs an idle link is refused with status 10 and sends nothing, so the
    // user learns that a slider moved now did not reach the controller.
    control->storeSettings();
    control->setGearRatios(172800, 164000);
    control->setMotorCurrent(0x81, 900);
    control->setOvertone(0x80, -2);
    control->setCurrentBoost(0x40, 500, 500);
    control->setReverseFlags(1, 2, 3);
    control->setDecay(0x42, 1);
    control->setMaxSpeeds(0x10, 0x20);
    control->setAccelerations(1, 2);
    control->setDecelerations(3, 4);
    control->setGuidingRates(5, 6);
    control->sendCode22();
    settle();
    EXPECT_TRUE(newWrites().empty());
    EXPECT_EQ(listener.statuses(), Statuses(12, status::kCommunicationError));

    // Operations without a guard still go out, at the top speed read in the handshake: the
    // refused setMaxSpeeds changed nothing. (Unanswered here: any reply now would be taken as
    // the store's.)
    peer->silence(ScriptedController::kTracking);
    peer->silence(ScriptedController::kStartMove);
    peer->silence(ScriptedController::kStopMove);
    listener.clear();
    control->setTracking(1);
    control->startMove(direction::kWest, 31);
    control->stopMove(direction::kBoth);
    settle();
    EXPECT_EQ(newWrites(),
              (std::vector<Bytes>{
                  {0xAA, 0x03, 0x24, 0x00, 0x01},
                  concat({0xAA, 0x07, 0x23, 0x00, 0x80},
                         le32(static_cast<uint32_t>(maxRateOf(0x0321, values.siderealRate[0])))),
                  {0xAA, 0x03, 0x21, 0x00, 0xC0}}));
    EXPECT_EQ(listener.statuses(), (Statuses{status::kManualMovement, status::kReady}));

    // An unguarded exchange takes the link over and brings it back to idle with its answer.
    control->measureVoltage();
    settle();
    EXPECT_EQ(listener.voltages(), (std::vector<uint32_t>{1234}));
    listener.clear();
    (void)newWrites();
    peer->answer(ScriptedController::kStartMove);
    control->setMaxSpeeds(0x10, 0x20);
    control->startMove(direction::kWest, 31);
    settle();
    EXPECT_EQ(newWrites(),
              (std::vector<Bytes>{
                  {0xAA, 0x07, 0x35, 0x00, 0xC0, 0x10, 0x00, 0x20, 0x00},
                  concat({0xAA, 0x07, 0x23, 0x00, 0x80},
                         le32(static_cast<uint32_t>(maxRateOf(0x10, values.siderealRate[0]))))}));
    control->setGearRatios(172800, 164000);
    settle();
    EXPECT_EQ(listener.reports().size(), 1u);
    EXPECT_EQ(listener.statuses(), (Statuses{status::kManualMovement}));
}

TEST_F(TelescopeControlProtocolTest, AnyReplyIsTakenAsThePendingAnswer) {
    connectTo(configForLevel(6));
    peer->silence(ScriptedController::kStoreSettings);
    control->storeSettings();
    settle();
    EXPECT_TRUE(listener.statuses().empty());

    // The controller acknowledges the tracking switch; the link, waiting for the store's answer,
    // takes it as that answer.
    control->setTracking(1);
    settle();
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{kStoreRequest, {0xAA, 0x03, 0x24, 0x00, 0x01}}));
    EXPECT_EQ(listener.statuses(), (Statuses{status::kParametersStored}));

    // So the link is idle again, and the store's own late answer is dropped.
    inject(peer->replyFor(ScriptedController::kStoreSettings));
    control->setGearRatios(10, 20);
    settle();
    EXPECT_EQ(listener.statuses(), (Statuses{status::kParametersStored}));
    EXPECT_EQ(listener.reports().size(), 1u);
}

TEST_F(TelescopeControlProtocolTest, ReloadDefaultsRunsWhileAReplyIsPending) {
    connectTo(configForLevel(3));
    peer->silence(ScriptedController::kVoltage);
    control->measureVoltage();
    control->reloadDefaults();
    settle();
    EXPECT_EQ(newWrites(),
              (std::vector<Bytes>{kVoltageRequest, kReloadRequest, kAxisBlockRequest}));
    tick(2);
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{kSettingsBlockRequest}));
    ASSERT_EQ(listener.reports().size(), 1u);
    EXPECT_EQ(listener.reports()[0].kind, report::kDefaultsReloaded);
    EXPECT_TRUE(listener.voltages().empty());
    EXPECT_TRUE(listener.statuses().empty());
}

TEST_F(TelescopeControlProtocolTest, OperationsAfterDisconnectAreAnsweredTwelve) {
    connectTo(configForLevel(6));
    control->disconnect();
    settle();
    EXPECT_EQ(listener.statuses(), (Statuses{status::kConnectionClosed}));
    listener.clear();

    control->startMove(direction::kNorth, 3);
    control->stopMove(direction::kBoth);
    control->setTracking(1);
    control->setExp(1);
    control->sendCode20();
    control->storeSettings();
    control->sendCode22();
    control->reloadDefaults();
    control->setGearRatios(1, 2);
    control->setReverseFlags(1, 1, 1);
    control->setMotorCurrent(0x80, 500);
    control->setDecay(0x80, 1);
    control->setMaxSpeeds(100, 200);
    control->setAccelerations(1, 2);
    control->setDecelerations(1, 2);
    // The record, and with it the feature level, outlives the connection: these are queued.
    control->setOvertone(0x80, 1);
    control->setCurrentBoost(0x80, 1, 1);
    control->setGuidingRates(4, 4);
    control->setPositionPair(1, 2);
    control->applySiteSettings(SiteSettings{site::kMountTypeChanged, 1, 0, 0, 0});
    control->measureVoltage();
    control->initScope(4);
    control->defineParkPosition();
    control->disconnect();
    tick(40);
    EXPECT_EQ(listener.statuses(), Statuses(24, status::kNotConnectedYet));
    EXPECT_TRUE(newWrites().empty());
    EXPECT_TRUE(listener.reports().empty());
    EXPECT_TRUE(listener.voltages().empty());
    EXPECT_EQ(control->featureLevel(), 6);
}

TEST_F(TelescopeControlProtocolTest, OvertoneAndBoostAreQueuedFromLevelThree) {
    connectTo(configForLevel(2));
    control->setOvertone(0x80, -2);
    control->setCurrentBoost(0x40, 500, 500);
    control->setTracking(0);
    settle();
    // Not refused by the worker: never queued, so nothing at all happens.
    EXPECT_EQ(newWrites(), (std::vector<Bytes>{{0xAA, 0x03, 0x24, 0x00, 0x00}}));
    EXPECT_TRUE(listener.statuses().empty());

    reconnectTo(configForLevel(3));
    control->setOvertone(0x80, -2);
    control->setCurrentBoost(0x40, 500, 500);
    settle();
    EXPECT_EQ(newWrites(),
              (std::vector<Bytes>{{0xAA, 0x04, 0x3B, 0x00, 0x80, 0xFE},
                                  {0xAA, 0x07, 0x3C, 0x00, 0x40, 0xF4, 0x01, 0xF4, 0x01}}));
    EXPECT_TRUE(listener.statuses().empty());
}

// ---- Replies too short for their layout ----

// The peer's reply to `code` with only half of its payload, the length byte saying so.
Bytes cutReply(const ScriptedController& peer, uint8_t code) {
    Bytes reply = peer.replyFor(code);
    const size_t kept = std::max<size_t>((reply.size() - 2) / 2, 1);
    reply.resize(kept + 2);
    reply[1] = static_cast<uint8_t>(kept);
    return reply;
}

// While connecting, a cut block means the controller is not what it claims to be: status 8 and
// the port closes without status 4; nothing cut ever reaches a report.
class CutHandshakeBlock : public TelescopeControlProtocolTest,
                          public ::testing::WithParamInterface<uint8_t> {};

TEST_P(CutHandshakeBlock, EndsTheConnectionWithStatusEight) {
    const uint8_t code = GetParam();
    peer->setConfig(configForLevel(6));
    peer->silence(code);
    control->connect(1, 115200);
    settle();
    bool asked = false;
    for (int t = 0; t < 20 && !asked; ++t) {
        tick();
        for (const Bytes& request : newWrites()) {
            asked = asked || request == Bytes{0xAA, 0x01, code};
        }
    }
    ASSERT_TRUE(asked);
    inject(cutReply(*peer, code));
    EXPECT_EQ(listener.statuses(), (Statuses{1, 2, status::kUnknownDevice}));
    EXPECT_TRUE(listener.reports().empty());
    EXPECT_EQ(port->closeCount(), 1);
    control->storeSettings();
    settle();
    EXPECT_EQ(listener.statuses().back(), status::kNotConnectedYet);
}

INSTANTIATE_TEST_SUITE_P(TelescopeControlProtocol, CutHandshakeBlock,
                         ::testing::Values(0x01, 0x02, 0x14, 0x15, 0x3D, 0x64));

// After the connection, a cut read-back or voltage reply is a communication error: the record
// stays as it was, nothing is reported as read, and the link is free for the next request.
TEST_F(TelescopeControlProtocolTest, CutReadBackKeepsTheRecordAndFreesTheLink) {
    struct Case {
        const char* name;
        uint8_t code;
        void (TelescopeControl::*start)();
    };
    const Case cases[] = {
        {"reload, settings block", 0x15, &TelescopeControl::reloadDefaults},
        {"reload, site", 0x64, &TelescopeControl::reloadDefaults},
        {"gear ratios", 0x14, nullptr},
        {"voltage", 0x2B, &TelescopeControl::measureVoltage},
    };
    connectTo(configForLevel(6));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        peer->silence(c.code);
        port->clearWrites();
        if (c.start != nullptr) {
            (control.get()->*c.start)();
        } else {
            control->setGearRatios(1, 2);
        }
        settle();
        for (int t = 0; t < 10 && !port->waitForWrite({0xAA, 0x01, c.code}, 0) &&
                        !port->waitForWrite({0xAA, 0x03, 0x2B, 0x00, 0x00}, 0);
             ++t) {
            tick();
        }
        inject(cutReply(*peer, c.code));
        EXPECT_EQ(listener.statuses(), (Statuses{status::kCommunicationError}));
        EXPECT_TRUE(listener.reports().empty());
        EXPECT_TRUE(listener.voltages().empty());
        peer->answer(c.code);
        listener.clear();
        control->storeSettings();
        settle();
        EXPECT_EQ(listener.statuses(), (Statuses{status::kParametersStored}));
        listener.clear();
        port->clearWrites();
    }
}

// A gear-ratio write answered by a late acknowledgement of an earlier fire-and-forget write: the
// one-byte reply that arrives while the axis block is awaited is not the block.
TEST_F(TelescopeControlProtocolTest, LateAcknowledgementIsNotTheAwaitedBlock) {
    connectTo(configForLevel(6));
    peer->silence(0x14);
    control->setGearRatios(200000, 300000);
    settle();
    ASSERT_TRUE(port->waitForWrite({0xAA, 0x01, 0x14}, kWait));
    inject({0x55, 0x01, 0x37});
    EXPECT_TRUE(listener.reports().empty());
    EXPECT_TRUE(listener.statuses().empty());
    inject(peer->replyFor(0x14));
    ASSERT_EQ(listener.reports().size(), 1u);
    EXPECT_EQ(listener.reports()[0].kind, report::kGearRatios);
    EXPECT_EQ(listener.reports()[0].settings.gearRatio[0], 200000u);
    EXPECT_EQ(listener.reports()[0].settings.gearRatio[1], 300000u);
}

}  // namespace
}  // namespace vornic
