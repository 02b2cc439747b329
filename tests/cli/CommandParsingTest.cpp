// The command line's own logic, without a controller: numbers and operation lists for `do`, what
// each operation is waited for, the `set` forms and their ranges, angle texts and position names.
#include <gtest/gtest.h>

#include "cli/CommandLine.h"
#include "cli/Operations.h"
#include "cli/SetCommand.h"
#include "controller/MountSettings.h"

namespace vornic::cli {
namespace {

TEST(CliNumbers, DecimalNegativeAndHexWithin32Bits) {
    EXPECT_EQ(parseNumber("0"), 0u);
    EXPECT_EQ(parseNumber("630"), 630u);
    EXPECT_EQ(parseNumber("0x82"), 0x82u);
    EXPECT_EQ(parseNumber("0XfF"), 0xFFu);
    EXPECT_EQ(parseNumber("-5"), static_cast<uint32_t>(-5));
    EXPECT_EQ(parseNumber("4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(parseNumber("-2147483648"), 0x80000000u);
    EXPECT_EQ(parseNumber("0xFFFFFFFF"), 0xFFFFFFFFu);
    for (const char* bad : {"", "-", "0x", "4294967296", "-2147483649", "0x100000000", "12a", "1.5",
                            " 1", "+3", "--1", "99999999999999999999999"}) {
        EXPECT_FALSE(parseNumber(bad).has_value()) << bad;
    }
}

TEST(CliDoParsing, CallsMayBeQuotedWholeOrSpreadOverArguments) {
    std::vector<OpCall> calls;
    std::string error;
    ASSERT_TRUE(
        parseOperations({"setMaxSpeeds 630 800", "measureVoltage", "storeSettings"}, calls, error))
        << error;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_STREQ(calls[0].info->name, "setMaxSpeeds");
    EXPECT_EQ(calls[0].args[0], 630u);
    EXPECT_EQ(calls[0].args[1], 800u);
    EXPECT_STREQ(calls[2].info->name, "storeSettings");

    ASSERT_TRUE(parseOperations(
        {"setOvertone", "0x80", "-5", "applySiteSettings", "15 1", "-4104360 1000 12"}, calls,
        error))
        << error;
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(static_cast<int32_t>(calls[0].args[1]), -5);
    EXPECT_EQ(calls[1].args[0], 15u);
    EXPECT_EQ(static_cast<int32_t>(calls[1].args[2]), -4104360);
    EXPECT_EQ(calls[1].args[4], 12u);
}

TEST(CliDoParsing, UnknownNamesAndWrongCountsAreRefused) {
    std::vector<OpCall> calls;
    std::string error;
    EXPECT_FALSE(parseOperations({}, calls, error));
    EXPECT_FALSE(parseOperations({"bogus"}, calls, error));
    EXPECT_NE(error.find("bogus"), std::string::npos);
    EXPECT_FALSE(parseOperations({"setMaxSpeeds 1"}, calls, error));
    EXPECT_NE(error.find("needs 2"), std::string::npos);
    EXPECT_FALSE(parseOperations({"setMaxSpeeds 1", "measureVoltage"}, calls, error));
    EXPECT_FALSE(parseOperations({"measureVoltage 1"}, calls, error));
    EXPECT_FALSE(parseOperations({"5 measureVoltage"}, calls, error));
    EXPECT_FALSE(parseOperations({"setmaxspeeds 1 2"}, calls, error));  // names are exact
    EXPECT_FALSE(parseOperations({"initScope 4x"}, calls, error));
}

OpCall callOf(const char* text) {
    std::vector<OpCall> calls;
    std::string error;
    EXPECT_TRUE(parseOperations({text}, calls, error)) << error;
    return calls.empty() ? OpCall{} : calls[0];
}

TEST(CliExpectations, EachOperationWaitsForTheReportItProvokes) {
    using K = Expectation::Kind;
    struct Case {
        const char* call;
        unsigned level;
        K kind;
        uint32_t status;
        ReportKind reportKind;
    };
    const Case cases[] = {
        {"storeSettings", 6, K::Status, 22, 0},
        {"measureVoltage", 6, K::Voltage, 0, 0},
        {"reloadDefaults", 3, K::Settings, 0, 2},
        {"setGearRatios 1 2", 1, K::Settings, 0, 4},
        {"applySiteSettings 4 1 0 0 0", 6, K::Status, 24, 0},
        {"applySiteSettings 0 1 0 0 0", 6, K::Settle, 0, 0},  // nothing is sent without a bit
        {"applySiteSettings 0 1 0 0 0", 6, K::Settle, 0, 0},
        {"initScope 8", 6, K::Status, 20, 0},
        {"initScope 2", 6, K::Status, 20, 0},
        {"initScope 4", 5, K::Settle, 0, 0},  // set-position request, never confirmed
        {"defineParkPosition", 4, K::Status, 21, 0},
        {"defineParkPosition", 3, K::Status, 14, 0},
        {"startMove 0 5", 6, K::Status, 18, 0},
        {"stopMove 4", 6, K::Status, 15, 0},
        {"disconnect", 6, K::Status, 4, 0},
        {"connect 1 9600", 6, K::Settings, 0, 1},
        {"setMaxSpeeds 1 2", 6, K::Settle, 0, 0},
        {"setPositionPair 1 2", 6, K::Settle, 0, 0},
    };
    for (const auto& c : cases) {
        const Expectation e = expectationFor(callOf(c.call), c.level);
        EXPECT_EQ(e.kind, c.kind) << c.call << " at level " << c.level;
        EXPECT_EQ(e.status, c.status) << c.call << " at level " << c.level;
        EXPECT_EQ(e.reportKind, c.reportKind) << c.call << " at level " << c.level;
    }
}

// --- set ---

SetRequest parsed(std::vector<std::string> words, SiteOptions site = {}) {
    SetRequest request;
    std::string error;
    EXPECT_TRUE(parseSetRequest(words, site, request, error)) << error;
    return request;
}

std::string refusal(std::vector<std::string> words, SiteOptions site = {}) {
    SetRequest request;
    std::string error;
    EXPECT_FALSE(parseSetRequest(words, site, request, error));
    return error;
}

MountSettings controllerAt(uint8_t level) {
    MountSettings s;
    s.featureLevel = level;
    s.gearRatio[0] = 172800;
    s.gearRatio[1] = 172800;
    s.maxSpeed[0] = s.maxSpeed[1] = 800;
    s.acceleration[0] = s.acceleration[1] = 64;
    s.maxCurrent[0] = s.maxCurrent[1] = 1500;
    s.guidingRate[0] = s.guidingRate[1] = 8;
    s.reverseRotation = 1;
    s.reverseAutoguiding = 2;
    s.reverseLimitSwitches = 0;
    s.mountType = 0;
    s.latitude = 4104360;
    s.longitude = 691200;
    s.meridianFlipHysteresis = 10;
    s.meridianFlipParamA = 5;
    return s;
}

std::vector<OpCall> operationsFor(const SetRequest& request, const MountSettings& current) {
    std::vector<OpCall> calls;
    std::string error;
    EXPECT_TRUE(buildSetOperations(request, current, calls, error)) << error;
    return calls;
}

void expectCall(const OpCall& call, const char* name, std::vector<uint32_t> args) {
    ASSERT_NE(call.info, nullptr);
    EXPECT_STREQ(call.info->name, name);
    for (size_t i = 0; i < args.size(); ++i) {
        EXPECT_EQ(call.args[i], args[i]) << name << " argument " << i;
    }
}

TEST(CliSet, PairsTakeBothAxesOrOneWithTheOtherKept) {
    const MountSettings c = controllerAt(6);
    auto calls = operationsFor(parsed({"maxSpeed", "630", "800"}), c);
    ASSERT_EQ(calls.size(), 1u);
    expectCall(calls[0], "setMaxSpeeds", {630, 800});

    calls = operationsFor(parsed({"acceleration", "DE", "100"}), c);
    ASSERT_EQ(calls.size(), 1u);
    expectCall(calls[0], "setAccelerations", {64, 100});

    calls = operationsFor(parsed({"gearRatio", "ra", "164000"}), c);
    ASSERT_EQ(calls.size(), 1u);
    expectCall(calls[0], "setGearRatios", {164000, 172800});

    calls = operationsFor(parsed({"guidingRate", "16", "1"}), c);
    expectCall(calls[0], "setGuidingRates", {16, 1});

    // Overtone and current boost go per axis, with the same value twice for the boost.
    calls = operationsFor(parsed({"thirdOvertone", "-5", "7"}), c);
    ASSERT_EQ(calls.size(), 2u);
    expectCall(calls[0], "setOvertone", {0x80, static_cast<uint32_t>(-5)});
    expectCall(calls[1], "setOvertone", {0x40, 7});
    calls = operationsFor(parsed({"incCurrentAt", "de", "140"}), c);
    ASSERT_EQ(calls.size(), 1u);
    expectCall(calls[0], "setCurrentBoost", {0x40, 140, 140});
}

TEST(CliSet, CurrentsDecayAndReverseFlagsUseTheDialogsSelectorsAndBitPairs) {
    const MountSettings c = controllerAt(6);
    auto calls = operationsFor(parsed({"motorCurrent", "ra", "run", "900"}), c);
    expectCall(calls[0], "setMotorCurrent", {0x82, 900});
    calls = operationsFor(parsed({"decay", "de", "idle", "2"}), c);
    expectCall(calls[0], "setDecay", {0x40, 2});
    calls = operationsFor(parsed({"decay", "ra", "track", "3"}), c);
    expectCall(calls[0], "setDecay", {0x81, 3});

    // The controller holds rotation 1 (RA), autoguiding 2 (DE), limit switches 0.
    calls = operationsFor(parsed({"reverse", "rotation", "de", "on"}), c);
    expectCall(calls[0], "setReverseFlags", {3, 2, 0});
    calls = operationsFor(parsed({"reverse", "autoguiding", "de", "off"}), c);
    expectCall(calls[0], "setReverseFlags", {1, 0, 0});
    calls = operationsFor(parsed({"reverseLimitSwitches", "both", "on"}), c);
    expectCall(calls[0], "setReverseFlags", {1, 2, 3});
}

TEST(CliSet, SiteSendsOnlyWhatDiffersWithTheMaskForIt) {
    const MountSettings c = controllerAt(6);
    SiteOptions site;
    site.latitude = "N 47:30:15";  // what the controller holds already
    site.hysteresis = 12;
    auto calls = operationsFor(parsed({"site"}, site), c);
    ASSERT_EQ(calls.size(), 1u);
    expectCall(calls[0], "applySiteSettings", {8, 0, 4104360, 691200, 12});

    site = {};
    site.longitude = "W 8:00:00";
    site.mountType = 2;
    calls = operationsFor(parsed({"site"}, site), c);
    expectCall(calls[0], "applySiteSettings",
               {2 | 4, 2, 4104360, static_cast<uint32_t>(-691200), 10});

    calls = operationsFor(parsed({"mountType", "0"}), c);
    EXPECT_TRUE(calls.empty());  // nothing differs, nothing is sent
    calls = operationsFor(parsed({"latitude", "s 47:30"}), c);
    expectCall(calls[0], "applySiteSettings", {1, 0, static_cast<uint32_t>(-4104000), 691200, 10});
}

TEST(CliSet, ControllerLimitsAreCheckedOnceItIsKnown) {
    std::vector<OpCall> calls;
    std::string error;
    EXPECT_FALSE(buildSetOperations(parsed({"motorCurrent", "de", "idle", "1501"}), controllerAt(6),
                                    calls, error));
    EXPECT_NE(error.find("1500 mA"), std::string::npos);
    // With no maximum reported there is nothing to hold the value against.
    MountSettings noMax = controllerAt(6);
    noMax.maxCurrent[1] = 0;
    EXPECT_TRUE(
        buildSetOperations(parsed({"motorCurrent", "de", "idle", "1501"}), noMax, calls, error));

    EXPECT_FALSE(buildSetOperations(parsed({"mountType", "1"}), controllerAt(4), calls, error));
    EXPECT_NE(error.find("feature level 4"), std::string::npos);
    EXPECT_FALSE(
        buildSetOperations(parsed({"decay", "ra", "run", "1"}), controllerAt(2), calls, error));
    EXPECT_TRUE(buildSetOperations(parsed({"gearRatio", "1", "2"}), controllerAt(1), calls, error));
}

TEST(CliSet, MalformedRequestsAreUsageErrors) {
    EXPECT_NE(refusal({}).find("set needs"), std::string::npos);
    EXPECT_NE(refusal({"speed", "1", "2"}).find("unknown setting"), std::string::npos);
    EXPECT_NE(refusal({"maxSpeed", "1"}).find("wrong arguments"), std::string::npos);
    EXPECT_NE(refusal({"maxSpeed", "65536", "1"}).find("0..65535"), std::string::npos);
    EXPECT_NE(refusal({"maxSpeed", "-1", "1"}).find("out of range"), std::string::npos);
    EXPECT_NE(refusal({"maxSpeed", "fast", "1"}).find("neither an axis"), std::string::npos);
    EXPECT_NE(refusal({"maxSpeed", "1", "fast"}).find("not a whole number"), std::string::npos);
    EXPECT_NE(refusal({"acceleration", "256", "1"}).find("0..255"), std::string::npos);
    EXPECT_NE(refusal({"gearRatio", "0", "1"}).find("out of range"), std::string::npos);
    EXPECT_NE(refusal({"guidingRate", "17", "8"}).find("1..16"), std::string::npos);
    EXPECT_NE(refusal({"thirdOvertone", "ra", "21"}).find("-20..20"), std::string::npos);
    EXPECT_NE(refusal({"motorCurrent", "both", "run", "900"}).find("ra or de"), std::string::npos);
    EXPECT_NE(refusal({"motorCurrent", "ra", "fast", "900"}).find("idle, track or run"),
              std::string::npos);
    EXPECT_NE(refusal({"decay", "ra", "idle", "4"}).find("0..3"), std::string::npos);
    EXPECT_NE(refusal({"reverse", "sideways", "ra", "on"}).find("rotation"), std::string::npos);
    EXPECT_NE(refusal({"reverse", "rotation", "ra", "maybe"}).find("on or off"), std::string::npos);
    EXPECT_NE(refusal({"site"}).find("at least one"), std::string::npos);
    SiteOptions site;
    site.mountType = 3;
    EXPECT_NE(refusal({"site"}, site).find("mount type"), std::string::npos);
    site = {};
    site.hysteresis = 256;
    EXPECT_NE(refusal({"site"}, site).find("0..255"), std::string::npos);
    site = {};
    site.latitude = "N 1";
    EXPECT_NE(refusal({"maxSpeed", "1", "2"}, site).find("go with set site"), std::string::npos);
}

TEST(CliAngles, TextsReadLikeTheDialogButMustBeWellFormed) {
    int32_t angle = 0;
    std::string error;
    struct Good {
        const char* text;
        bool latitude;
        int32_t value;
    };
    const Good good[] = {
        {"N 47:30:15", true, 4104360},     {"S 47:30:15", true, -4104360},
        {"s47:30:15", true, -4104360},     {"47.30.15", true, 4104360},
        {"47.5", true, 4068000},           {"47", true, 4060800},
        {"-0:30:00", true, -43200},        {" N 90:00:00 ", true, 7776000},
        {"W 122:25:00", false, -10576800}, {"E 0:00:00", false, 0},
        {"e 180", false, 15552000},
    };
    for (const auto& g : good) {
        ASSERT_TRUE(parseAngleArgument(g.text, g.latitude, angle, error))
            << g.text << ": " << error;
        EXPECT_EQ(angle, g.value) << g.text;
    }
    const std::pair<const char*, bool> bad[] = {
        {"S -10:00:00", true}, {"W -8:00:00", false}, {"", true},           {"abc", true},
        {"E 47:00:00", true},  {"N 8:00:00", false},  {"N 90:00:01", true}, {"W 180:00:01", false},
        {"10:75:00", true},    {"47:30:15.5", true},  {"47: 30", true},     {"N 47 30", true},
        {"1234", false},       {"47:30:15:00", true}, {"N", true},          {"--47", true},
    };
    for (const auto& [text, latitude] : bad) {
        EXPECT_FALSE(parseAngleArgument(text, latitude, angle, error)) << text;
    }
}

TEST(CliPositions, CodesAndTheDialogsNamesInAnySpelling) {
    EXPECT_EQ(positionCodeFor("4"), 4u);
    EXPECT_EQ(positionCodeFor("13"), 13u);
    EXPECT_EQ(positionCodeFor("0x0a"), 10u);
    EXPECT_EQ(positionCodeFor("west-side-equator"), 5u);
    EXPECT_EQ(positionCodeFor("West side - Equator"), 5u);
    EXPECT_EQ(positionCodeFor("WEST_SIDE_EQUATOR"), 5u);
    EXPECT_EQ(positionCodeFor("default-east-side-equator"), 4u);
    EXPECT_EQ(positionCodeFor("east-side-equator"), 4u);
    EXPECT_EQ(positionCodeFor("east-side-south-horizon"), 8u);
    EXPECT_EQ(positionCodeFor("western horizon"), 13u);
    for (const char* bad : {"3", "14", "2", "-4", "", "equator", "west-side", "north"}) {
        EXPECT_FALSE(positionCodeFor(bad).has_value()) << bad;
    }
    for (uint32_t code = 4; code <= 13; ++code) {
        EXPECT_EQ(positionCodeFor(positionName(code)), code);
    }
}

}  // namespace
}  // namespace vornic::cli
