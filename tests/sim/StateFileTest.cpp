// The state file: round trips, and a clear refusal, naming the field, of everything malformed.
#include <gtest/gtest.h>

#include <unistd.h>
#include <regex>

#include <cstdio>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/StateFile.h"

namespace vornic::sim {
namespace {

using Json = nlohmann::ordered_json;

ConfigImage changedImage() {
    ConfigImage c = factoryImage();
    c.axis[kRa].maxSpeed = 654;
    c.axis[kDe].thirdOvertone = -17;
    c.axis[kDe].motorCurrent[kRun] = 1499;
    c.axis[kRa].siderealRate = -5;
    c.axis[kDe].settingsReservedWord = 0xFFFFFFFF;
    c.mountType = 2;
    c.latitude = -kMaxLatitude;
    c.longitude = kMaxLongitude;
    c.parkValid = true;
    c.parkPosition = {INT32_MIN, INT32_MAX};
    c.parkPierSide = PierSide::west;
    return c;
}

std::string tempPath(const char* name) {
    return ::testing::TempDir() + "kz2sim_" + std::to_string(::getpid()) + "_" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(SimStateFile, RoundTripsEveryField) {
    const ConfigImage c = changedImage();
    ConfigImage back;
    std::string error;
    ASSERT_TRUE(stateFromJson(stateToJson(c), back, error)) << error;
    EXPECT_EQ(back, c);

    const std::string path = tempPath("roundtrip.json");
    ASSERT_TRUE(saveState(path, c, error)) << error;
    ConfigImage loaded = factoryImage();
    EXPECT_EQ(loadState(path, loaded, error), StateLoad::loaded) << error;
    EXPECT_EQ(loaded, c);
    std::remove(path.c_str());
}

TEST(SimStateFile, AMissingFileLeavesTheImageAlone) {
    ConfigImage image = changedImage();
    std::string error;
    EXPECT_EQ(loadState(tempPath("does-not-exist.json"), image, error), StateLoad::missing);
    EXPECT_EQ(image, changedImage());
}

struct BadCase {
    const char* what;
    std::function<void(Json&)> spoil;
    const char* expected;  // part of the message
};

TEST(SimStateFile, RefusesEachKindOfDamageNamingTheField) {
    const std::vector<BadCase> cases = {
        {"wrong type", [](Json& j) { j["ra"]["maxSpeed"] = "fast"; },
         "field \"ra.maxSpeed\": expected an integer, found a string"},
        {"fraction", [](Json& j) { j["latitude"] = 1.5; },
         "field \"latitude\": expected an integer, found a number that is not an integer"},
        {"boolean for number", [](Json& j) { j["mountType"] = true; },
         "field \"mountType\": expected an integer, found true or false"},
        {"out of range", [](Json& j) { j["de"]["decay"][2] = 4; },
         "field \"de.decay[2]\": expected an integer from 0 to 3, found 4"},
        {"negative unsigned", [](Json& j) { j["ra"]["gearRatio"] = -1; },
         "field \"ra.gearRatio\": expected an integer from 1 to"},
        {"too large", [](Json& j) { j["de"]["settingsReservedWord"] = 18446744073709551615ull; },
         "field \"de.settingsReservedWord\": expected an integer from 0 to 4294967295, found "
         "18446744073709551615"},
        {"latitude off the globe", [](Json& j) { j["latitude"] = 90 * 86400 + 1; },
         "field \"latitude\""},
        {"unknown top-level field", [](Json& j) { j["colour"] = 3; }, "unknown field \"colour\""},
        {"unknown nested field", [](Json& j) { j["park"]["when"] = 0; },
         "unknown field \"park.when\""},
        {"missing field", [](Json& j) { j["de"].erase("acceleration"); },
         "field \"de.acceleration\" is missing"},
        {"missing axis", [](Json& j) { j.erase("ra"); }, "field \"ra\" is missing"},
        {"axis not an object", [](Json& j) { j["de"] = 5; },
         "field \"de\": expected an object, found a number"},
        {"short list",
         [](Json& j) {
             j["ra"]["motorCurrent"] = {1, 2};
         },
         "field \"ra.motorCurrent\": expected a list of 3 integers"},
        {"current above maximum", [](Json& j) { j["ra"]["motorCurrent"][1] = 1501; },
         "field \"ra.motorCurrent[1]\": the track current 1501 exceeds maxCurrent 1500"},
        {"park flag", [](Json& j) { j["park"]["valid"] = 1; },
         "field \"park.valid\": expected true or false"},
        {"pier side", [](Json& j) { j["park"]["pierSide"] = "north"; }, "field \"park.pierSide\""},
        {"format", [](Json& j) { j["format"] = "something else"; }, "field \"format\""},
        {"not an object",
         [](Json& j) {
             j = Json::array({1, 2});
         },
         "the file must hold a JSON object, found a list"},
    };
    const Json good = Json::parse(stateToJson(factoryImage()));
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.what);
        Json j = good;
        c.spoil(j);
        ConfigImage image = changedImage();
        std::string error;
        EXPECT_FALSE(stateFromJson(j.dump(), image, error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(image, changedImage());  // untouched
    }
}

TEST(SimStateFile, RefusesTextThatIsNotJsonOrIsHostile) {
    const std::vector<std::pair<std::string, const char*>> cases = {
        {"{\"format\": ", "not valid JSON"},
        {"", "not valid JSON"},
        {"{\"a\": 1,}", "not valid JSON"},
        {std::string(100000, '['), "nested too deeply"},
        {std::string("{\"\xff\xfe\": 1}"), "not valid JSON"},
        {std::string(kMaxStateFileBytes + 1, ' '), "larger than"},
        // The parser alone would keep the second value silently.
        {std::regex_replace(stateToJson(factoryImage()), std::regex(R"("ra": \{)"),
                            R"("ra": {"maxSpeed": 9, )"),
         "field \"ra.maxSpeed\" is given more than once"},
    };
    for (const auto& [text, expected] : cases) {
        ConfigImage image;
        std::string error;
        EXPECT_FALSE(stateFromJson(text, image, error));
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
    // An unknown key with unprintable bytes is named, but not echoed raw.
    Json j = Json::parse(stateToJson(factoryImage()));
    j["bad\x01key"] = 1;
    ConfigImage image;
    std::string error;
    EXPECT_FALSE(stateFromJson(j.dump(), image, error));
    EXPECT_NE(error.find(R"(unknown field "bad\x01key")"), std::string::npos) << error;
}

TEST(SimStateFile, ABadFileIsReportedWithItsPathAndKeptAsItIs) {
    const std::string path = tempPath("bad.json");
    {
        std::ofstream out(path);
        out << "{ \"format\": \"kz2-sim state 1\", \"mountType\": [";
    }
    const std::string before = readFile(path);
    ConfigImage image = factoryImage();
    std::string error;
    EXPECT_EQ(loadState(path, image, error), StateLoad::invalid);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("not valid JSON"), std::string::npos) << error;
    EXPECT_EQ(readFile(path), before);
    std::remove(path.c_str());

    // A directory where the file should be is an error too, not a missing file.
    EXPECT_EQ(loadState(::testing::TempDir(), image, error), StateLoad::invalid);
    EXPECT_FALSE(saveState(::testing::TempDir() + "no-such-dir/x/state.json", image, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vornic::sim
