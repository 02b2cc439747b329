#include <gtest/gtest.h>

#include <cstdint>

#include "controller/ControllerLink.h"
#include "support/LinkTestSupport.h"

namespace vornic {
namespace {

using test::Bytes;
using test::LinkHarness;

using Frames = std::vector<Bytes>;

Bytes le32Frame(Bytes head, std::initializer_list<uint32_t> longs) {
    for (uint32_t v : longs) {
        test::putLe32(head, v);
    }
    return head;
}

MountSettings raSidereal1000() {
    MountSettings config;
    config.siderealRate[kRa] = 1000;
    config.maxSpeed[kRa] = 800;
    config.siderealRate[kDe] = 1000;
    config.maxSpeed[kDe] = 100;
    config.countsPerRevolution[kRa] = 4000;
    config.countsPerRevolution[kDe] = 2000;
    config.mountType = 1;
    return config;
}

// ------------------------------------------------------------------------------------------
// Manual motion

TEST(ControllerLinkMotion, SpeedLawFollowsTableThenCurve) {
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(3), raSidereal1000());
    ASSERT_EQ(h.link.settings().maxRate[kRa], 800000);

    const std::vector<std::pair<uint32_t, int32_t>> west{
        {0, 328},  {1, 656},   {2, 1000},   {3, 1328},    {4, 1656},   {5, 2000},
        {6, 4000}, {7, 10368}, {10, 54944}, {19, 302481}, {31, 800000}};
    for (const auto& [index, speed] : west) {
        uint8_t mask = 0xFF;
        EXPECT_EQ(h.link.manualSpeed(direction::kWest, index, &mask), speed) << "index " << index;
        EXPECT_EQ(mask, axis::kRa);
        EXPECT_EQ(h.link.manualSpeed(direction::kEast, index, &mask), -speed) << "index " << index;
        EXPECT_EQ(mask, axis::kRa);
    }
    // Indices past the top are held at maxRate.
    for (uint32_t index : {32u, 200u, 0xFFFFFFFFu}) {
        EXPECT_EQ(h.link.manualSpeed(direction::kWest, index, nullptr), 800000);
    }

    // What goes on the wire, and the report that follows.
    h.execute(op::kStartMove, {direction::kWest, 7});
    h.execute(op::kStartMove, {direction::kEast, 31});
    EXPECT_EQ(
        h.port.takeFrames(),
        (Frames{le32Frame({0xAA, 0x07, 0x23, 0x00, 0x80}, {10368}),
                le32Frame({0xAA, 0x07, 0x23, 0x00, 0x80}, {static_cast<uint32_t>(-800000)})}));
    EXPECT_EQ(h.listener.statuses(), (std::vector<StatusCode>{18, 18}));
    EXPECT_EQ(h.link.linkState(), link::kIdle);
}

TEST(ControllerLinkMotion, DeclinationSignFollowsPierSide) {
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(3), raSidereal1000());
    ASSERT_EQ(h.link.pierSide(), 7u);
    h.execute(op::kStartMove, {direction::kNorth, 2});
    EXPECT_EQ(h.port.takeFrames(),
              Frames{Bytes({0xAA, 0x07, 0x23, 0x00, 0x40, 0x18, 0xFC, 0xFF, 0xFF})});
    EXPECT_EQ(h.link.manualSpeed(direction::kSouth, 2, nullptr), 1000);

    // Synchronising on the west side turns declination around.
    h.execute(op::kInitScope, {5});
    ASSERT_EQ(h.link.pierSide(), 6u);
    (void)h.port.takeFrames();
    h.execute(op::kStartMove, {direction::kNorth, 2});
    EXPECT_EQ(h.port.takeFrames(),
              Frames{Bytes({0xAA, 0x07, 0x23, 0x00, 0x40, 0xE8, 0x03, 0x00, 0x00})});
    EXPECT_EQ(h.link.manualSpeed(direction::kSouth, 2, nullptr), -1000);
    // Right ascension never depends on the pier side.
    EXPECT_EQ(h.link.manualSpeed(direction::kWest, 2, nullptr), 1000);
}

TEST(ControllerLinkMotion, UnknownDirectionAndExtremeRates) {
    LinkHarness h;
    MountSettings config;
    config.siderealRate[kRa] = -1000;
    config.maxSpeed[kRa] = 800;  // maxRate -800000
    config.siderealRate[kDe] = INT32_MAX;
    config.maxSpeed[kDe] = 1;
    h.connectAt(1, test::firmwareForLevel(3), config);

    // Unknown directions: no axis, base 200, top 200000, no sign change, pier side ignored.
    uint8_t mask = 0xFF;
    EXPECT_EQ(h.link.manualSpeed(5, 2, &mask), 200);
    EXPECT_EQ(mask, 0x00);
    EXPECT_EQ(h.link.manualSpeed(5, 0, nullptr), 65);
    EXPECT_EQ(h.link.manualSpeed(0xFFFFFFFF, 7, nullptr), 2393);
    EXPECT_EQ(h.link.manualSpeed(4, 31, nullptr), 200000);
    h.execute(op::kStartMove, {9, 2});
    EXPECT_EQ(h.port.takeFrames(),
              Frames{Bytes({0xAA, 0x07, 0x23, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00})});

    // Fractions are dropped toward zero, also for negative rates.
    EXPECT_EQ(h.link.manualSpeed(direction::kWest, 0, nullptr), -328);
    EXPECT_EQ(h.link.manualSpeed(direction::kWest, 7, nullptr), -10368);
    EXPECT_EQ(h.link.manualSpeed(direction::kEast, 7, nullptr), 10368);

    // 32-bit products wrap as the controller's do: INT32_MAX x 256 / 64 is -4.
    EXPECT_EQ(h.link.manualSpeed(direction::kNorth, 6, nullptr), 4);
    EXPECT_EQ(h.link.manualSpeed(direction::kSouth, 6, nullptr), -4);
    EXPECT_EQ(h.link.manualSpeed(direction::kNorth, 31, nullptr), -INT32_MAX);
}

TEST(ControllerLinkMotion, StopMoveMasks) {
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(3));
    const std::vector<std::pair<uint8_t, uint8_t>> cases{
        {4, 0xC0}, {2, 0x80}, {3, 0x80}, {0, 0x40}, {1, 0x40}, {5, 0x00}, {0xFF, 0x00}};
    for (const auto& [dir, mask] : cases) {
        h.execute(op::kStopMove, {dir});
        EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x03, 0x21, 0x00, mask})})
            << "direction " << int(dir);
    }
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>(cases.size(), status::kReady));
}

// ------------------------------------------------------------------------------------------
// Frames of the idle link, and which operations wait for an answer

struct OperationCase {
    Bytes message;
    Frames frames;
    uint32_t stateAfter;
};

TEST(ControllerLinkOperations, EachOperationSendsItsFrameAndEntersItsState) {
    const std::vector<OperationCase> cases{
        {test::operationMessage(op::kSetTracking, {1}), {{0xAA, 0x03, 0x24, 0x00, 0x01}}, 2},
        {test::operationMessage(op::kSetExp, {0}), {{0xAA, 0x03, 0x28, 0x00, 0x00}}, 2},
        {test::operationMessage(op::kSendCode20), {}, 2},
        {test::operationMessage(op::kStoreSettings), {{0xAA, 0x02, 0x0D, 0x01}}, 17},
        {test::operationMessage(op::kSendCode22), {{0xAA, 0x01, 0x0B}}, 2},
        {test::operationMessage(op::kReloadDefaults), {{0xAA, 0x02, 0x0C, 0x01}}, 18},
        {test::operationMessage(op::kSetGearRatios,
                                {0x00, 0xA3, 0x02, 0x00, 0xA0, 0x80, 0x02, 0x00}),
         {{0xAA, 0x0B, 0x1A, 0x01, 0xC0, 0x00, 0xA3, 0x02, 0x00, 0xA0, 0x80, 0x02, 0x00}},
         11},
        {test::operationMessage(op::kSetReverseFlags, {1, 2, 3}),
         {{0xAA, 0x06, 0x32, 0x00, 0xC0, 0x01, 0x02, 0x03}},
         2},
        {test::operationMessage(op::kSetMotorCurrent, {0x81, 0xB0, 0x04}),
         {{0xAA, 0x05, 0x33, 0x00, 0x81, 0xB0, 0x04}},
         2},
        {test::operationMessage(op::kSetDecay, {0x42, 0x03, 0x00}),
         {{0xAA, 0x04, 0x34, 0x00, 0x42, 0x03}},
         2},
        {test::operationMessage(op::kSetOvertone, {0x80, 0xEC}),
         {{0xAA, 0x04, 0x3B, 0x00, 0x80, 0xEC}},
         2},
        {test::operationMessage(op::kSetCurrentBoost, {0xC0, 0x34, 0x12, 0x34, 0x12}),
         {{0xAA, 0x07, 0x3C, 0x00, 0xC0, 0x34, 0x12, 0x34, 0x12}},
         2},
        {test::operationMessage(op::kSetMaxSpeeds, {0x34, 0x12, 0x56, 0x00}),
         {{0xAA, 0x07, 0x35, 0x00, 0xC0, 0x34, 0x12, 0x56, 0x00}},
         2},
        {test::operationMessage(op::kSetAccelerations, {0x10, 0x20}),
         {{0xAA, 0x05, 0x37, 0x00, 0xC0, 0x10, 0x20}},
         2},
        {test::operationMessage(op::kSetDecelerations, {0x30, 0x40}),
         {{0xAA, 0x05, 0x38, 0x00, 0xC0, 0x30, 0x40}},
         2},
        {test::operationMessage(op::kSetGuidingRates, {0x05, 0x10}),
         {{0xAA, 0x05, 0x36, 0x00, 0xC0, 0x05, 0x10}},
         2},
        {test::operationMessage(op::kSetPositionPair, {1, 2, 3, 4, 0xF5, 0xF6, 0xF7, 0xF8}),
         {{0xAA, 0x0A, 0x65, 0x00, 1, 2, 3, 4, 0xF5, 0xF6, 0xF7, 0xF8}},
         13},
        {test::operationMessage(op::kMeasureVoltage), {{0xAA, 0x03, 0x2B, 0x00, 0x00}}, 14},
        // Codes without a meaning here, and a connect that is not one, do nothing.
        {test::operationMessage(op::kConnect, {1, 2, 3, 4}), {}, 2},
        {test::operationMessage(0), {}, 2},
        {test::operationMessage(25, {1, 2}), {}, 2},
        {test::operationMessage(31, {1, 2, 3, 4, 5, 6, 7, 8}), {}, 2},
        {test::operationMessage(41), {}, 2},
        {test::operationMessage(0xFF, {0xFF}), {}, 2},
    };
    for (const OperationCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "operation code " << int(c.message[1]));
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(6));
        h.execute(c.message);
        EXPECT_EQ(h.port.takeFrames(), c.frames);
        EXPECT_EQ(h.link.linkState(), c.stateAfter);
        EXPECT_TRUE(h.listener.events.empty());
    }
}

TEST(ControllerLinkOperations, AcknowledgementsReportAndFreeTheLink) {
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(6));
    h.execute(op::kStoreSettings);
    EXPECT_EQ(h.reply({0x0D}), kResultNothing);
    EXPECT_EQ(h.link.linkState(), link::kIdle);
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kParametersStored});

    h.listener.clear();
    h.execute(op::kMeasureVoltage);
    EXPECT_EQ(h.feed({0x55, 0x05, 0x2B, 0x00, 0x00, 0xD2, 0x04}), kResultNothing);
    EXPECT_EQ(h.listener.voltages(), std::vector<uint32_t>{1234});
    EXPECT_EQ(h.link.linkState(), link::kIdle);

    h.listener.clear();
    h.execute(op::kSetPositionPair, {0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(h.reply({0x65}), kResultNothing);
    EXPECT_EQ(h.link.linkState(), link::kIdle);
    EXPECT_TRUE(h.listener.events.empty());

    // A voltage reply too short to hold the reading is a communication error, not 0 V.
    h.execute(op::kMeasureVoltage);
    (void)h.reply({0x2B, 0x00, 0x00, 0x07});
    EXPECT_TRUE(h.listener.voltages().empty());
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kCommunicationError});
    EXPECT_EQ(h.link.linkState(), link::kIdle);

    // Fire-and-forget acknowledgements arrive while idle and are dropped.
    h.listener.clear();
    (void)h.port.takeFrames();
    h.execute(op::kSetAccelerations, {1, 2});
    EXPECT_EQ(h.reply({0x37}), kResultNothing);
    EXPECT_EQ(h.link.linkState(), link::kIdle);
    EXPECT_TRUE(h.listener.events.empty());
}

TEST(ControllerLinkOperations, SetMaxSpeedsTakesEffectForTheNextMove) {
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(3), raSidereal1000());
    h.execute(op::kSetMaxSpeeds, {0xE8, 0x03, 0x02, 0x00});  // RA 1000, DE 2
    EXPECT_EQ(h.link.settings().maxSpeed[kRa], 1000u);
    EXPECT_EQ(h.link.settings().maxSpeed[kDe], 2u);
    EXPECT_EQ(h.link.settings().maxRate[kRa], 1000000);
    EXPECT_EQ(h.link.settings().maxRate[kDe], 2000);
    EXPECT_EQ(h.link.manualSpeed(direction::kWest, 31, nullptr), 1000000);
    EXPECT_TRUE(h.listener.events.empty()) << "no settings report";
}

// ------------------------------------------------------------------------------------------
// A busy link

TEST(ControllerLinkOperations, GuardedOperationsAreRefusedWhileAReplyIsPending) {
    const std::vector<Bytes> guarded{
        test::operationMessage(op::kStoreSettings),
        test::operationMessage(op::kSendCode22),
        test::operationMessage(op::kSetGearRatios,
                               {0x00, 0xA3, 0x02, 0x00, 0xA0, 0x80, 0x02, 0x00}),
        test::operationMessage(op::kSetReverseFlags, {1, 1, 1}),
        test::operationMessage(op::kSetMotorCurrent, {0x81, 0x10, 0x00}),
        test::operationMessage(op::kSetDecay, {0x80, 0x01, 0x00}),
        test::operationMessage(op::kSetOvertone, {0x80, 0x05}),
        test::operationMessage(op::kSetCurrentBoost, {0xC0, 1, 0, 1, 0}),
        test::operationMessage(op::kSetMaxSpeeds, {0x10, 0x00, 0x20, 0x00}),
        test::operationMessage(op::kSetAccelerations, {1, 2}),
        test::operationMessage(op::kSetDecelerations, {1, 2}),
        test::operationMessage(op::kSetGuidingRates, {1, 2}),
    };
    for (const Bytes& message : guarded) {
        SCOPED_TRACE(::testing::Message() << "operation code " << int(message[1]));
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(6), raSidereal1000());
        const MountSettings before = h.link.settings();
        h.execute(op::kMeasureVoltage);
        (void)h.port.takeFrames();
        h.execute(message);
        EXPECT_TRUE(h.port.takeFrames().empty());
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kCommunicationError});
        EXPECT_EQ(h.link.linkState(), link::kVoltage);
        EXPECT_EQ(h.link.settings(), before) << "maxSpeed must not move";
    }
}

TEST(ControllerLinkOperations, UnguardedOperationsRunOnABusyLink) {
    struct Case {
        Bytes message;
        uint8_t requestCode;
        uint32_t stateAfter;
    };
    const std::vector<Case> cases{
        {test::operationMessage(op::kStartMove, {2, 2}), 0x23, link::kStoreSettings},
        {test::operationMessage(op::kStopMove, {4}), 0x21, link::kStoreSettings},
        {test::operationMessage(op::kSetTracking, {1}), 0x24, link::kStoreSettings},
        {test::operationMessage(op::kSetExp, {1}), 0x28, link::kStoreSettings},
        {test::operationMessage(op::kReloadDefaults), 0x0C, link::kReloadDefaults},
        {test::operationMessage(op::kSetPositionPair, {1, 0, 0, 0, 2, 0, 0, 0}), 0x65,
         link::kPositionPair},
        {test::operationMessage(op::kMeasureVoltage), 0x2B, link::kVoltage},
        {test::operationMessage(op::kInitScope, {8}), 0x6A, link::kReferencePosition},
        {test::operationMessage(op::kDefineParkPosition), 0x69, link::kParkPosition},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "operation code " << int(c.message[1]));
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(6));
        h.execute(op::kStoreSettings);
        (void)h.port.takeFrames();
        h.execute(c.message);
        const Frames frames = h.port.takeFrames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0][2], c.requestCode);
        EXPECT_EQ(h.link.linkState(), c.stateAfter);
        for (StatusCode code : h.listener.statuses()) {
            EXPECT_NE(code, status::kCommunicationError);
        }
    }
}

TEST(ControllerLinkOperations, SetGearRatiosReadsTheAxisBlockBack) {
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(3), raSidereal1000());
    h.execute(op::kSetGearRatios, {0x00, 0xA3, 0x02, 0x00, 0xA0, 0x80, 0x02, 0x00});
    EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x0B, 0x1A, 0x01, 0xC0, 0x00, 0xA3, 0x02,
                                                 0x00, 0xA0, 0x80, 0x02, 0x00})});
    EXPECT_EQ(h.link.linkState(), link::kGearRatiosWritten);

    // A voltage reading cannot start now.
    h.execute(op::kSetGearRatios, {1, 0, 0, 0, 1, 0, 0, 0});
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kCommunicationError});
    h.listener.clear();

    EXPECT_EQ(h.reply({0x1A}), kResultNothing);
    EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x01, 0x14})});
    EXPECT_EQ(h.link.linkState(), link::kAxisBlockReread);

    MountSettings reread = raSidereal1000();
    reread.gearRatio[kRa] = 172800;
    reread.gearRatio[kDe] = 164000;
    reread.siderealRate[kRa] = 2000;
    reread.mountType = 2;
    EXPECT_EQ(h.reply(test::axisBlockPayload(reread)), kResultNothing);
    EXPECT_EQ(h.link.linkState(), link::kIdle);
    ASSERT_EQ(h.listener.reportKinds(), std::vector<ReportKind>{report::kGearRatios});
    const MountSettings s = *h.listener.lastSettings();
    EXPECT_EQ(s.gearRatio[kRa], 172800u);
    EXPECT_EQ(s.gearRatio[kDe], 164000u);
    EXPECT_EQ(s.mountType, 1) << "the re-read never changes the mount type";
    EXPECT_EQ(s.maxRate[kRa], 1600000) << "recomputed from the new sidereal rate";
    EXPECT_TRUE(h.port.takeFrames().empty());

    // While a voltage reading is pending the gear ratios are refused outright.
    h.execute(op::kMeasureVoltage);
    (void)h.port.takeFrames();
    h.listener.clear();
    h.execute(op::kSetGearRatios, {0x00, 0xA3, 0x02, 0x00, 0xA0, 0x80, 0x02, 0x00});
    EXPECT_TRUE(h.port.takeFrames().empty());
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kCommunicationError});
    EXPECT_EQ(h.link.linkState(), link::kVoltage);
}

// ------------------------------------------------------------------------------------------
// Reload defaults

TEST(ControllerLinkReload, ReadBackEndsInADefaultsReport) {
    for (int level : {3, 6}) {
        SCOPED_TRACE(::testing::Message() << "level " << level);
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(level), raSidereal1000());
        h.execute(op::kStoreSettings);  // busy: reload still runs
        h.execute(op::kReloadDefaults);
        EXPECT_EQ(h.port.takeFrames(),
                  (Frames{Bytes({0xAA, 0x02, 0x0D, 0x01}), Bytes({0xAA, 0x02, 0x0C, 0x01})}));
        EXPECT_EQ(h.link.linkState(), link::kReloadDefaults);

        EXPECT_EQ(h.reply({0x0C}), kResultNothing);
        EXPECT_EQ(h.link.reloadMarker(), 2u);
        EXPECT_EQ(h.link.linkState(), link::kAxisBlock);
        EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x01, 0x14})});

        MountSettings defaults = raSidereal1000();
        defaults.gearRatio[kRa] = 99;
        defaults.maxSpeed[kRa] = 10;
        defaults.mountType = 2;
        (void)h.reply(test::axisBlockPayload(defaults));
        h.tick(2);
        EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x01, 0x15})});
        int result = h.reply(test::settingsBlockPayload(defaults));
        if (level >= 5) {
            EXPECT_EQ(result, kResultNothing);
            (void)h.reply({0x3D, 0x00, 1, 2, 3});
            result = h.reply({0x64, 1, 0, 0, 0, 2, 0, 0, 0});
            EXPECT_EQ(h.port.takeFrames(),
                      (Frames{Bytes({0xAA, 0x01, 0x3D}), Bytes({0xAA, 0x01, 0x64})}));
        }
        EXPECT_EQ(result, kResultHandshakeDone);
        EXPECT_EQ(h.link.linkState(), link::kIdle);
        ASSERT_EQ(h.listener.reportKinds(), std::vector<ReportKind>{report::kDefaultsReloaded});
        const MountSettings s = *h.listener.lastSettings();
        EXPECT_EQ(s.gearRatio[kRa], 99u);
        EXPECT_EQ(s.mountType, 2);
        EXPECT_EQ(s.maxRate[kRa], 10000);
        EXPECT_EQ(s.featureLevel, level) << "the level is kept from the connect";
    }
}

// Each request that waits for a reply, by the replies it gets before the controller falls silent:
// the 32nd tick after its last request says so and fails the link (the port closes).
TEST(ControllerLinkTimeOut, EveryAwaitedReplyGivesUpAfterThirtyTwoTicks) {
    struct Case {
        const char* what;
        Bytes message;
        std::vector<Bytes> replies;
        uint32_t silentIn;
    };
    const Bytes gear = test::operationMessage(op::kSetGearRatios, {1, 0, 0, 0, 2, 0, 0, 0});
    const Bytes site = test::operationMessage(op::kApplySiteSettings);
    const std::vector<Case> cases{
        {"store", test::operationMessage(op::kStoreSettings), {}, link::kStoreSettings},
        {"gear ratios", gear, {}, link::kGearRatiosWritten},
        {"gear read-back", gear, {{0x1A}}, link::kAxisBlockReread},
        {"position pair",
         test::operationMessage(op::kSetPositionPair, {1, 0, 0, 0, 2, 0, 0, 0}),
         {},
         link::kPositionPair},
        {"voltage", test::operationMessage(op::kMeasureVoltage), {}, link::kVoltage},
        {"init scope", test::operationMessage(op::kInitScope, {8}), {}, link::kReferencePosition},
        {"park", test::operationMessage(op::kDefineParkPosition), {}, link::kParkPosition},
        {"reload", test::operationMessage(op::kReloadDefaults), {}, link::kReloadDefaults},
        {"reload read-back",
         test::operationMessage(op::kReloadDefaults),
         {{0x0C}},
         link::kAxisBlock},
        {"site", site, {}, link::kSiteCoordinates},
        {"mount type", site, {{0x65}}, link::kMountTypeWritten},
        {"hysteresis", site, {{0x65}, {0x1B}}, link::kHysteresisWritten},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(6));
        h.port.pending = {
            site::kLatitudeChanged | site::kMountTypeChanged | site::kHysteresisChanged, 1, 2, 3,
            4};
        EXPECT_FALSE(h.link.wantsTicks()) << "an idle link counts nothing";
        h.execute(c.message);
        for (const Bytes& reply : c.replies) {
            h.tick(20);  // an answered request's ticks do not count against the next one
            (void)h.reply(reply);
        }
        ASSERT_EQ(h.link.linkState(), c.silentIn);
        EXPECT_EQ(h.tick(31), kResultNothing);
        EXPECT_EQ(h.tick(), kResultLinkFailed);
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kNoAnswer});
        EXPECT_EQ(h.tick(40), kResultNothing) << "reported once";
    }
}

// A request that did not leave the port is reported as such, never as done, and fails the link.
TEST(ControllerLinkWrites, ARequestThatDoesNotLeaveIsReported) {
    const std::vector<Bytes> messages{
        test::operationMessage(op::kStartMove, {direction::kWest, 5}),
        test::operationMessage(op::kStopMove, {direction::kBoth}),
        test::operationMessage(op::kSetTracking, {1}),
        test::operationMessage(op::kStoreSettings),
        test::operationMessage(op::kMeasureVoltage),
    };
    for (const Bytes& message : messages) {
        SCOPED_TRACE(::testing::Message() << "operation code " << int(message[1]));
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(6));
        h.port.failWrites = true;
        EXPECT_EQ(h.execute(message), kResultLinkFailed);
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kSendFailed});
        h.port.failWrites = false;
        EXPECT_EQ(h.execute(op::kSetTracking, {0}), kResultNothing) << "the failure is not kept";
    }
    LinkHarness h;
    h.port.failWrites = true;
    EXPECT_EQ(h.link.handshakeStart(), kResultLinkFailed);
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kSendFailed});
}

// Before the port closes, a hand move still running is stopped, both axes at once.
TEST(ControllerLinkMotion, AHandMoveIsStoppedOnTheWayOut) {
    const Bytes stopBoth{0xAA, 0x03, 0x21, 0x00, 0xC0};
    struct Case {
        const char* what;
        std::vector<Bytes> before;
        bool stops;
    };
    const auto start = [](uint8_t d) { return test::operationMessage(op::kStartMove, {d, 3}); };
    const auto stop = [](uint8_t d) { return test::operationMessage(op::kStopMove, {d}); };
    const std::vector<Case> cases{
        {"nothing moved", {}, false},
        {"moving west", {start(direction::kWest)}, true},
        {"stopped", {start(direction::kWest), stop(direction::kEast)}, false},
        {"stopped both", {start(direction::kNorth), start(direction::kWest), stop(4)}, false},
        {"other axis still moving",
         {start(direction::kNorth), start(direction::kWest), stop(direction::kWest)},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(6));
        for (const Bytes& m : c.before) {
            h.execute(m);
        }
        (void)h.port.takeFrames();
        EXPECT_EQ(h.link.stopHandMove(), c.stops);
        EXPECT_EQ(h.port.takeFrames(), c.stops ? Frames{stopBoth} : Frames{});
        EXPECT_FALSE(h.link.stopHandMove()) << "once";
    }
}

// ------------------------------------------------------------------------------------------
// Site settings

TEST(ControllerLinkSite, ChainWalksTheChangedFieldsInOrder) {
    const Bytes coordinates =
        le32Frame({0xAA, 0x0A, 0x65, 0x01}, {static_cast<uint32_t>(-86400 * 48), 86400 * 11});
    const Bytes mountType{0xAA, 0x03, 0x1B, 0x01, 0x02};
    const Bytes hysteresis{0xAA, 0x06, 0x3E, 0x01, 0x01, 0x21, 0x22, 0x05};
    struct Case {
        uint32_t mask;
        Frames frames;
    };
    const std::vector<Case> cases{
        {0x01, {coordinates}},
        {0x02, {coordinates}},
        {0x04, {mountType}},
        {0x08, {hysteresis}},
        {0x0C, {mountType, hysteresis}},
        {0x09, {coordinates, hysteresis}},
        {0x0F, {coordinates, mountType, hysteresis}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "change mask " << c.mask);
        LinkHarness h;
        test::ControllerScript script;
        script.flipA = 0x21;
        script.flipB = 0x22;
        script.flipHysteresis = 3;
        script.latitude = 1000;
        script.config.mountType = 0;
        (void)h.connect(script);
        (void)h.port.takeFrames();
        h.listener.clear();
        h.port.pending = {c.mask, 2, -86400 * 48, 86400 * 11, 5};

        h.execute(op::kApplySiteSettings);
        for (size_t i = 0; i < c.frames.size(); ++i) {
            EXPECT_EQ(h.port.takeFrames(), Frames{c.frames[i]}) << "step " << i;
            EXPECT_TRUE(h.listener.events.empty());
            EXPECT_EQ(h.reply({0x01}), kResultNothing);
        }
        EXPECT_TRUE(h.port.takeFrames().empty());
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kSettingsDone});
        EXPECT_EQ(h.link.linkState(), link::kIdle);
        const MountSettings& s = h.link.settings();
        EXPECT_EQ(s.latitude, 1000) << "coordinates are only ever taken from the controller";
        EXPECT_EQ(s.mountType, (c.mask & 4) ? 2 : 0);
        EXPECT_EQ(s.meridianFlipHysteresis, (c.mask & 8) ? 5 : 3);
        EXPECT_EQ(h.link.siteCopy().changeMask, c.mask);
    }
}

TEST(ControllerLinkSite, NothingToChangeAndUnansweredWrites) {
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(6));
    for (uint32_t mask : {0x00u, 0x10u, 0xFFFFFFF0u}) {
        h.port.pending = {mask, 2, 1, 1, 5};
        h.execute(op::kApplySiteSettings);
        EXPECT_TRUE(h.port.takeFrames().empty());
        EXPECT_TRUE(h.listener.events.empty());
        EXPECT_EQ(h.link.linkState(), link::kIdle);
    }
    // Values are cut to the byte they travel in; the record changes when the request leaves.
    h.execute(op::kStoreSettings);  // busy: the chain is unguarded
    (void)h.port.takeFrames();
    h.port.pending = {site::kMountTypeChanged | site::kHysteresisChanged, 0x1FF, 0, 0, 0x2FE};
    h.execute(op::kApplySiteSettings);
    EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x03, 0x1B, 0x01, 0xFF})});
    EXPECT_EQ(h.link.settings().mountType, 0xFF);
    EXPECT_EQ(h.link.linkState(), link::kMountTypeWritten);
    (void)h.reply({0x1B});
    EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x06, 0x3E, 0x01, 0x01, 0, 0, 0xFE})});
    EXPECT_EQ(h.link.settings().meridianFlipHysteresis, 0xFE);
}

// ------------------------------------------------------------------------------------------
// Reference and park positions

TEST(ControllerLinkPositions, InitScopeAtLevelSixNamesThePosition) {
    const std::vector<std::pair<uint8_t, Bytes>> positions{
        {2, {'A', 'E', ' '}},  {4, {'E', 'E', ' '}},  {5, {'E', 'W', ' '}},  {6, {'Z', 'E', ' '}},
        {7, {'Z', 'W', ' '}},  {8, {'S', 'H', 'E'}},  {9, {'S', 'H', 'W'}},  {10, {'N', 'H', 'E'}},
        {11, {'N', 'H', 'W'}}, {12, {'E', 'H', ' '}}, {13, {'W', 'H', ' '}},
    };
    for (const auto& [code, letters] : positions) {
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(6));
        h.execute(op::kInitScope, {code});
        Bytes expected{0xAA, 0x05, 0x6A, 0x01};
        expected.insert(expected.end(), letters.begin(), letters.end());
        EXPECT_EQ(h.port.takeFrames(), Frames{expected}) << "code " << int(code);
        EXPECT_EQ(h.link.linkState(), link::kReferencePosition);
        EXPECT_EQ(h.link.pierSide(), 7u) << "level 6 leaves the pier side alone";
        (void)h.reply({0x6A});
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kSynchronized});
        EXPECT_EQ(h.link.linkState(), link::kIdle);
    }
    // Codes without a position free the link and send nothing.
    for (uint8_t code : {0, 1, 3, 14, 0xFF}) {
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(6));
        h.execute(op::kStoreSettings);
        (void)h.port.takeFrames();
        h.execute(op::kInitScope, {code});
        EXPECT_TRUE(h.port.takeFrames().empty()) << "code " << int(code);
        EXPECT_EQ(h.link.linkState(), link::kIdle);
        EXPECT_TRUE(h.listener.events.empty());
    }
}

TEST(ControllerLinkPositions, InitScopeBelowLevelSixSetsBothAxes) {
    struct Case {
        uint8_t code;
        uint32_t ra;
        uint32_t de;
        uint32_t pierSide;
    };
    const std::vector<Case> cases{
        {4, static_cast<uint32_t>(-1000), 500, 7},
        {5, 1000, static_cast<uint32_t>(-500), 6},
        {12, 0, static_cast<uint32_t>(-500), 6},
        {13, 0, 500, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "code " << int(c.code));
        LinkHarness h;
        MountSettings config = raSidereal1000();
        config.countsPerRevolution[kRa] = 4003;  // the remainder is dropped
        h.connectAt(1, test::firmwareForLevel(5), config);
        // Start from the other pier side so that the change shows.
        h.execute(op::kInitScope, {static_cast<uint8_t>(c.pierSide == 7 ? 5 : 4)});
        h.execute(op::kStoreSettings);
        (void)h.port.takeFrames();
        h.execute(op::kInitScope, {c.code});
        EXPECT_EQ(h.port.takeFrames(),
                  Frames{le32Frame({0xAA, 0x0B, 0x20, 0x01, 0xC0}, {c.ra, c.de})});
        EXPECT_EQ(h.link.pierSide(), c.pierSide);
        EXPECT_EQ(h.link.linkState(), link::kIdle);
        EXPECT_TRUE(h.listener.events.empty()) << "no confirmation below level 6";
    }

    // The exact frame for code 4 with 4000 / 2000 counts.
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(5), raSidereal1000());
    h.execute(op::kInitScope, {4});
    EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x0B, 0x20, 0x01, 0xC0, 0x18, 0xFC, 0xFF,
                                                 0xFF, 0xF4, 0x01, 0x00, 0x00})});
    // Other codes change nothing at all, not even a busy link state.
    h.execute(op::kStoreSettings);
    (void)h.port.takeFrames();
    for (uint8_t code : {2, 6, 7, 8, 9, 10, 11, 0, 0xFF}) {
        h.execute(op::kInitScope, {code});
        EXPECT_TRUE(h.port.takeFrames().empty());
        EXPECT_EQ(h.link.linkState(), link::kStoreSettings);
    }
    // A full-range count negates without overflow.
    LinkHarness g;
    MountSettings huge;
    huge.countsPerRevolution[kRa] = 0xFFFFFFFF;
    g.connectAt(1, test::firmwareForLevel(3), huge);
    g.execute(op::kInitScope, {4});
    EXPECT_EQ(g.port.takeFrames(),
              Frames{le32Frame({0xAA, 0x0B, 0x20, 0x01, 0xC0}, {0xC0000001u, 0})});
}

TEST(ControllerLinkPositions, ParkRequestByLevel) {
    {
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(6));
        h.execute(op::kDefineParkPosition);
        EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x03, 0x69, 0x01, 0x01})});
        EXPECT_EQ(h.link.linkState(), link::kParkPosition);
        (void)h.reply({0x69});
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kParkMarked});
        EXPECT_EQ(h.link.linkState(), link::kIdle);
    }
    for (int level : {4, 5}) {
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(level), raSidereal1000());
        h.execute(op::kDefineParkPosition);  // pier side 7 after connecting
        EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x04, 0x1D, 0x01, 0x00, 0x00})});
        EXPECT_EQ(h.link.linkState(), link::kParkPosition);
        h.execute(op::kInitScope, {5});  // pier side 6
        (void)h.port.takeFrames();
        h.execute(op::kDefineParkPosition);
        EXPECT_EQ(h.port.takeFrames(), Frames{Bytes({0xAA, 0x04, 0x1D, 0x01, 0x00, 0x01})});
        EXPECT_EQ(h.link.linkState(), link::kParkPosition);
    }
    for (int level : {1, 2, 3}) {
        LinkHarness h;
        h.connectAt(1, test::firmwareForLevel(level));
        h.execute(op::kDefineParkPosition);
        EXPECT_TRUE(h.port.takeFrames().empty());
        EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kNoParking});
        EXPECT_EQ(h.link.linkState(), link::kIdle);
    }
}

// ------------------------------------------------------------------------------------------
// Malformed operation messages

TEST(ControllerLinkMessages, ShortOrEmptyMessagesAreDropped) {
    LinkHarness h;
    h.connectAt(1, test::firmwareForLevel(6));
    const MountSettings before = h.link.settings();

    // Each operation with one argument byte too few, by header and by length.
    const std::vector<Bytes> whole{
        test::operationMessage(op::kStartMove, {2, 2}),
        test::operationMessage(op::kStopMove, {4}),
        test::operationMessage(op::kSetTracking, {1}),
        test::operationMessage(op::kSetExp, {1}),
        test::operationMessage(op::kSetGearRatios, {1, 2, 3, 4, 5, 6, 7, 8}),
        test::operationMessage(op::kSetReverseFlags, {1, 2, 3}),
        test::operationMessage(op::kSetMotorCurrent, {0x80, 1, 2}),
        test::operationMessage(op::kSetDecay, {0x80, 1, 0}),
        test::operationMessage(op::kSetOvertone, {0x80, 1}),
        test::operationMessage(op::kSetCurrentBoost, {0x80, 1, 2, 3, 4}),
        test::operationMessage(op::kSetMaxSpeeds, {1, 2, 3, 4}),
        test::operationMessage(op::kSetAccelerations, {1, 2}),
        test::operationMessage(op::kSetDecelerations, {1, 2}),
        test::operationMessage(op::kSetGuidingRates, {1, 2}),
        test::operationMessage(op::kSetPositionPair, {1, 2, 3, 4, 5, 6, 7, 8}),
        test::operationMessage(op::kInitScope, {4}),
    };
    for (const Bytes& message : whole) {
        SCOPED_TRACE(::testing::Message() << "operation code " << int(message[1]));
        // Header consistent with the cut message.
        Bytes cut(message.begin(), message.end() - 1);
        cut[0] = static_cast<uint8_t>(0x80 + cut.size() - 1);
        h.execute(cut);
        // Header promising more than the bytes handed over.
        h.link.executeOperation(message.data(), message.size() - 1, true);
        // Bytes beyond the header's own length are not arguments.
        Bytes padded = message;
        padded[0] = static_cast<uint8_t>(padded[0] - 1);
        h.execute(padded);
        EXPECT_TRUE(h.port.takeFrames().empty());
        EXPECT_TRUE(h.listener.events.empty());
        EXPECT_EQ(h.link.linkState(), link::kIdle);
        EXPECT_EQ(h.link.settings(), before);
        EXPECT_EQ(h.link.pierSide(), 7u);
    }

    // No operation code at all.
    const uint8_t emptyMessages[][2] = {{0x80, 0x15}, {0x80, 0x00}};
    for (const auto& m : emptyMessages) {
        h.link.executeOperation(m, 2, true);
    }
    const uint8_t storeCode[] = {0x81, op::kStoreSettings};
    h.link.executeOperation(storeCode, 1, true);
    h.link.executeOperation(storeCode, 0, true);
    h.link.executeOperation(nullptr, 5, true);
    EXPECT_TRUE(h.port.takeFrames().empty());
    EXPECT_TRUE(h.listener.events.empty());

    // Before the handshake has finished every operation is answered with status 12.
    h.link.executeOperation(storeCode, 2, false);
    EXPECT_TRUE(h.port.takeFrames().empty());
    EXPECT_EQ(h.listener.statuses(), std::vector<StatusCode>{status::kNotConnectedYet});
    EXPECT_EQ(h.link.linkState(), link::kIdle);
}

}  // namespace
}  // namespace vornic
