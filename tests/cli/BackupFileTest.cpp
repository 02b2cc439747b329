// Backup files: what a backup holds at each feature level, that every bad file is refused with the
// field named, and which operations a restore sends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/Backup.h"

namespace vornic::cli {
namespace {

MountSettings sampleController(uint8_t level) {
    MountSettings s;
    s.featureLevel = level;
    s.hardwareVersion = 0x00010001;
    s.firmwareVersion = 0x0100000A;
    s.portType = 1;
    for (int a = 0; a < 2; ++a) {
        s.gearRatio[a] = 172800;
        s.maxSpeed[a] = 800;
        s.acceleration[a] = 64;
        s.deceleration[a] = 48;
        s.maxCurrent[a] = 1500;
        s.motorCurrent[a][0] = 300;
        s.motorCurrent[a][1] = 600;
        s.motorCurrent[a][2] = 1200;
        s.decay[a][0] = 0;
        s.decay[a][1] = 1;
        s.decay[a][2] = 2;
        s.thirdOvertone[a] = -3;
        s.incCurrentAt[a] = 120;
        s.guidingRate[a] = 8;
    }
    s.reverseRotation = 2;
    s.mountType = 1;
    s.latitude = -4104360;
    s.longitude = 691200;
    s.meridianFlipHysteresis = 10;
    return s;
}

bool parse(const std::string& text, SettingsImage& image, std::string& error) {
    return parseBackupText(text, image, error);
}

std::string errorOf(const std::string& text) {
    SettingsImage image;
    std::string error;
    EXPECT_FALSE(parse(text, image, error)) << text;
    return error;
}

TEST(CliBackupFile, HoldsWhatTheControllerReportsAtItsLevelAndReadsBackUnchanged) {
    for (uint8_t level = 1; level <= 6; ++level) {
        const MountSettings controller = sampleController(level);
        const Json doc = makeBackup(controller, "2024-05-01T12:00:00Z");
        EXPECT_EQ(doc["vornicBackup"], 1);
        EXPECT_EQ(doc["featureLevel"], level);
        EXPECT_EQ(doc["identity"], "HW:0.1.0.1 | FW:1.0.0.10 | Port type:1");
        const Json& s = doc["settings"];
        EXPECT_TRUE(s.contains("gearRatio"));
        EXPECT_EQ(s.contains("maxSpeed"), level >= 3) << int(level);
        EXPECT_EQ(s.contains("reverseLimitSwitches"), level >= 3) << int(level);
        EXPECT_EQ(s.contains("latitude"), level >= 5) << int(level);
        EXPECT_EQ(s.contains("mountType"), level >= 5) << int(level);
        // The document's own settings, read back, differ in nothing and plan nothing.
        SettingsImage image;
        std::string error;
        ASSERT_TRUE(parse(doc.dump(2), image, error)) << error;
        ASSERT_TRUE(checkAgainstController(image, controller, error)) << error;
        EXPECT_TRUE(differences(image, controller).empty());
        EXPECT_TRUE(restorePlan(image, controller).empty());
    }
    const Json full = makeBackup(sampleController(6), "d")["settings"];
    EXPECT_EQ(full["motorCurrent"], Json::parse("[[300,600,1200],[300,600,1200]]"));
    EXPECT_EQ(full["thirdOvertone"], Json::parse("[-3,-3]"));
    EXPECT_EQ(full["latitude"], -4104360);
    EXPECT_EQ(full.size(), settingFields().size());
}

TEST(CliBackupFile, EveryBadFileIsRefusedNamingTheField) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "not valid JSON"},
        {"{", "not valid JSON"},
        {"[1,2]", "JSON object"},
        {R"({"vornicBackup":1,"settings":{}} trailing)", "not valid JSON"},
        {R"({"settings":{}})", "vornicBackup: missing"},
        {R"({"vornicBackup":2,"settings":{}})", "vornicBackup"},
        {R"({"vornicBackup":"1","settings":{}})", "vornicBackup: must be a whole number"},
        {R"({"vornicBackup":1})", "settings: missing"},
        {R"({"vornicBackup":1,"settings":[]})", "settings: must be an object"},
        {R"({"vornicBackup":1,"settings":{},"date":5})", "date: must be a text"},
        {R"({"vornicBackup":1,"settings":{},"featureLevel":7})", "featureLevel"},
        {R"({"vornicBackup":1,"settings":{},"firmwareVersion":-1})", "firmwareVersion"},
        {R"({"vornicBackup":1,"settings":{},"colour":"red"})", "unknown field colour"},
        {R"({"vornicBackup":1,"settings":{"speed":[1,2]}})", "unknown field settings.speed"},
        {R"({"vornicBackup":1,"settings":{"gearRatio":172800}})", "settings.gearRatio ([ra, de])"},
        {R"({"vornicBackup":1,"settings":{"gearRatio":[0,1]}})", "settings.gearRatio[0]"},
        {R"({"vornicBackup":1,"settings":{"gearRatio":[1,4294967296]}})", "settings.gearRatio[1]"},
        {R"({"vornicBackup":1,"settings":{"maxSpeed":[1,2,3]}})", "settings.maxSpeed"},
        {R"({"vornicBackup":1,"settings":{"maxSpeed":[1,true]}})", "settings.maxSpeed[1]"},
        {R"({"vornicBackup":1,"settings":{"maxSpeed":[1,null]}})", "settings.maxSpeed[1]"},
        {R"({"vornicBackup":1,"settings":{"maxSpeed":[1,2.0]}})", "must be a whole number"},
        {R"({"vornicBackup":1,"settings":{"acceleration":[256,0]}})", "settings.acceleration[0]"},
        {R"({"vornicBackup":1,"settings":{"motorCurrent":[[1,2,3]]}})", "settings.motorCurrent"},
        {R"({"vornicBackup":1,"settings":{"motorCurrent":[[1,2,3],[1,2]]}})",
         "settings.motorCurrent[1]"},
        {R"({"vornicBackup":1,"settings":{"motorCurrent":[[1,2,3],[1,2,65536]]}})",
         "settings.motorCurrent[1][2]"},
        {R"({"vornicBackup":1,"settings":{"decay":[[0,0,0],[0,-1,0]]}})", "settings.decay[1][1]"},
        {R"({"vornicBackup":1,"settings":{"thirdOvertone":[-21,0]}})", "settings.thirdOvertone[0]"},
        {R"({"vornicBackup":1,"settings":{"guidingRate":[0,8]}})", "settings.guidingRate[0]"},
        {R"({"vornicBackup":1,"settings":{"reverseRotation":4}})", "settings.reverseRotation"},
        {R"({"vornicBackup":1,"settings":{"reverseRotation":[1,0]}})", "settings.reverseRotation"},
        {R"({"vornicBackup":1,"settings":{"mountType":3}})", "settings.mountType"},
        {R"({"vornicBackup":1,"settings":{"latitude":7776001}})", "settings.latitude"},
        {R"({"vornicBackup":1,"settings":{"longitude":-15552001}})", "settings.longitude"},
        {R"({"vornicBackup":1,"settings":{"meridianFlipHysteresis":256}})",
         "settings.meridianFlipHysteresis"},
        {R"({"vornicBackup":1,"settings":{"maxSpeed":[1,99999999999999999999999]}})",
         "settings.maxSpeed[1]"},
        {std::string(100, '[') + std::string(100, ']'), "nested too deeply"},
        {std::string(2u << 20, ' '), "too large"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string error = errorOf(text);
        EXPECT_NE(error.find(expected), std::string::npos)
            << "file: " << text.substr(0, 80) << "\nerror: " << error;
    }
}

TEST(CliBackupFile, NestingInsideStringsDoesNotCount) {
    SettingsImage image;
    std::string error;
    const std::string text =
        R"({"vornicBackup":1,"identity":"[[[[[[[[[[[[\"{{{{{{{{","settings":{}})";
    EXPECT_TRUE(parse(text, image, error)) << error;
}

TEST(CliBackupFile, WhatTheControllerCannotTakeIsRefusedBeforeAnythingIsSent) {
    SettingsImage image;
    std::string error;
    ASSERT_TRUE(
        parse(R"({"vornicBackup":1,"settings":{"gearRatio":[1,2],"decay":[[0,0,0],[0,0,0]]}})",
              image, error));
    EXPECT_FALSE(checkAgainstController(image, sampleController(2), error));
    EXPECT_NE(error.find("settings.decay"), std::string::npos);
    EXPECT_NE(error.find("feature level 2"), std::string::npos);
    EXPECT_TRUE(checkAgainstController(image, sampleController(3), error)) << error;

    ASSERT_TRUE(
        parse(R"({"vornicBackup":1,"settings":{"meridianFlipHysteresis":5}})", image, error));
    EXPECT_FALSE(checkAgainstController(image, sampleController(4), error));
    EXPECT_TRUE(checkAgainstController(image, sampleController(5), error)) << error;

    ASSERT_TRUE(parse(R"({"vornicBackup":1,"settings":{"motorCurrent":[[300,600,1501],[0,0,0]]}})",
                      image, error));
    EXPECT_FALSE(checkAgainstController(image, sampleController(6), error));
    EXPECT_NE(error.find("settings.motorCurrent[0][2]"), std::string::npos);
    MountSettings unknownMax = sampleController(6);
    unknownMax.maxCurrent[0] = 0;
    EXPECT_TRUE(checkAgainstController(image, unknownMax, error)) << error;
}

std::vector<std::string> planText(const std::vector<OpCall>& plan) {
    std::vector<std::string> lines;
    for (const auto& call : plan) {
        std::string line = call.info->name;
        for (int i = 0; i < call.info->argCount; ++i) {
            line += " " + std::to_string(static_cast<int32_t>(call.args[i]));
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(CliBackupFile, RestoreSendsOnlyWhatDiffersThroughTheDialogsOperations) {
    const MountSettings controller = sampleController(6);
    MountSettings wanted = controller;
    wanted.gearRatio[1] = 164000;
    wanted.maxSpeed[0] = 630;
    wanted.deceleration[1] = 80;
    wanted.motorCurrent[1][0] = 250;
    wanted.decay[0][2] = 3;
    wanted.thirdOvertone[1] = 5;
    wanted.incCurrentAt[0] = 140;
    wanted.guidingRate[1] = 12;
    wanted.reverseLimitSwitches = 1;
    wanted.longitude = -10576800;
    wanted.meridianFlipHysteresis = 12;
    SettingsImage image;
    std::string error;
    ASSERT_TRUE(parse(makeBackup(wanted, "d").dump(), image, error)) << error;

    const auto diff = differences(image, controller);
    std::vector<std::string> fields;
    for (const auto& d : diff) {
        fields.push_back(d.field);
    }
    EXPECT_EQ(fields, (std::vector<std::string>{
                          "gearRatio", "maxSpeed", "deceleration", "motorCurrent", "decay",
                          "thirdOvertone", "incCurrentAt", "guidingRate", "reverseLimitSwitches",
                          "longitude", "meridianFlipHysteresis"}));
    EXPECT_EQ(diff[1].file, Json::parse("[630,800]"));
    EXPECT_EQ(diff[1].controller, Json::parse("[800,800]"));

    // Gear ratios and site first (they wait for their answers), then the rest; a site change
    // carries the unchanged partner coordinate with the controller's value.
    EXPECT_EQ(planText(restorePlan(image, controller)),
              (std::vector<std::string>{
                  "setGearRatios 172800 164000",
                  "applySiteSettings 10 1 -4104360 -10576800 12",
                  "setMaxSpeeds 630 800",
                  "setDecelerations 48 80",
                  "setMotorCurrent 64 250",
                  "setDecay 130 3",
                  "setOvertone 64 5",
                  "setCurrentBoost 128 140 140",
                  "setGuidingRates 8 12",
                  "setReverseFlags 2 0 1",
              }));
}

TEST(CliBackupFile, APartialFileLeavesTheRestAsItIs) {
    const MountSettings controller = sampleController(6);
    SettingsImage image;
    std::string error;
    ASSERT_TRUE(parse(R"({"vornicBackup":1,"settings":{"latitude":100,"reverseAutoguiding":3}})",
                      image, error))
        << error;
    EXPECT_EQ(
        planText(restorePlan(image, controller)),
        (std::vector<std::string>{"applySiteSettings 1 1 100 691200 10", "setReverseFlags 2 3 0"}));
}

TEST(CliBackupFile, FilesAreReadWithLimitsAndWrittenWhole) {
    char pattern[] = "/tmp/vornic-backup-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::string text;
    std::string error;

    EXPECT_FALSE(readFileText(dir + "/missing.json", text, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
    EXPECT_FALSE(readFileText(dir, text, error));  // a directory
    EXPECT_NE(error.find("not a regular file"), std::string::npos);
    // A FIFO with no writer must not hang the reader.
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readFileText(fifo, text, error));

    const std::string file = dir + "/backup.json";
    ASSERT_TRUE(writeFileText(file, "{\"a\":1}\n", error)) << error;
    ASSERT_TRUE(readFileText(file, text, error)) << error;
    EXPECT_EQ(text, "{\"a\":1}\n");
    EXPECT_FALSE(writeFileText(dir + "/no/such/dir/backup.json", "x", error));

    const std::string big = dir + "/big.json";
    ASSERT_TRUE(writeFileText(big, std::string((1u << 20) + 10, ' '), error));
    EXPECT_FALSE(readFileText(big, text, error));
    EXPECT_NE(error.find("too large"), std::string::npos);

    for (const char* name : {"/missing.json", "/fifo", "/backup.json", "/big.json"}) {
        ::unlink((dir + name).c_str());
    }
    ::rmdir(dir.c_str());
}

}  // namespace
}  // namespace vornic::cli
