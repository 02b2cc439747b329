// End-to-end runs of the real vornic-cli against simulated controllers on real pseudo-terminals:
// the kz2-sim that --simulate starts where one run is enough, a kz2-sim process where several
// runs must meet the same controller or where a line fault is played.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace vornic::testing {
namespace {

using nlohmann::json;
using Args = std::vector<std::string>;

std::vector<json> jsonLines(const std::string& text) {
    std::vector<json> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty()) {
            lines.push_back(json::parse(line));  // throws, failing the test, on a non-JSON line
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

// Runs several vornic-cli invocations at once (each against its own controller), a few at a time.
std::vector<RunResult> runAll(const std::vector<Args>& invocations, size_t parallel = 6) {
    std::vector<RunResult> results(invocations.size());
    for (size_t first = 0; first < invocations.size(); first += parallel) {
        std::vector<std::unique_ptr<ChildProcess>> running;
        const size_t last = std::min(invocations.size(), first + parallel);
        for (size_t i = first; i < last; ++i) {
            running.push_back(std::make_unique<ChildProcess>(cliBinary(), invocations[i]));
        }
        for (size_t i = first; i < last; ++i) {
            results[i] = running[i - first]->finish(60);
        }
    }
    return results;
}

std::string describe(const Args& args, const RunResult& r) {
    std::string text = "vornic-cli";
    for (const auto& a : args) {
        text += " '" + a + "'";
    }
    return text + "\nexit " + std::to_string(r.exitCode) + "\n--- stdout\n" + r.out +
           "--- stderr\n" + r.err;
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/vornic-cli-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = made != nullptr ? made : "/tmp";
    }
    ~TempDir() {
        std::string command = "rm -rf '" + path_ + "'";
        [[maybe_unused]] const int rc = std::system(command.c_str());
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(file(name)) << content;
        return file(name);
    }

  private:
    std::string path_;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// --- connecting at every feature level ---

TEST(CliInfo, WorksAtEveryFeatureLevelAndShowsSiteFieldsFromLevelFive) {
    std::vector<Args> runs;
    for (int level = 0; level <= 6; ++level) {
        runs.push_back({"--simulate=" + std::to_string(level), "info"});
    }
    runs.push_back({"--simulate", "5", "--json", "info"});
    const auto results = runAll(runs, 8);

    // Level 0 is a controller too old to be served: its identity is shown, and it counts as an
    // error.
    const RunResult& old = results[0];
    EXPECT_EQ(old.exitCode, 1) << describe(runs[0], old);
    EXPECT_NE(old.out.find("Error: The connected KZ2 is too old. Use Vornic 1.0."),
              std::string::npos);
    EXPECT_NE(old.out.find("HW:0.1.1.1 | FW:"), std::string::npos);
    EXPECT_NE(old.err.find("too old"), std::string::npos);

    const std::regex identity(R"(HW:\d+\.\d+\.\d+\.\d+ \| FW:\d+\.\d+\.\d+\.\d+ \| Port type:\d+)");
    for (int level = 1; level <= 6; ++level) {
        const RunResult& r = results[static_cast<size_t>(level)];
        SCOPED_TRACE(describe(runs[static_cast<size_t>(level)], r));
        ASSERT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find("Connection established."), std::string::npos);
        EXPECT_TRUE(std::regex_search(r.out, identity));
        EXPECT_NE(r.out.find("Feature level: " + std::to_string(level)), std::string::npos);
        EXPECT_NE(r.out.find("gearRatio"), std::string::npos);
        const bool motor = r.out.find("motorCurrent run") != std::string::npos;
        EXPECT_EQ(motor, level >= 3);
        const bool site = r.out.find("latitude: ") != std::string::npos &&
                          r.out.find("meridianFlipHysteresis: ") != std::string::npos;
        EXPECT_EQ(site, level >= 5);
    }

    // JSON: one object per line, the settings with every field as plain integers.
    const RunResult& j = results.back();
    ASSERT_EQ(j.exitCode, 0) << describe(runs.back(), j);
    const auto lines = jsonLines(j.out);
    ASSERT_EQ(lines.size(), 3u) << j.out;
    EXPECT_EQ(lines[0],
              json::parse(R"({"type":"status","code":1,"text":"Opening port, please wait..."})"));
    EXPECT_EQ(lines[1], json::parse(R"({"type":"status","code":2,"text":"Connecting..."})"));
    const json& report = lines[2];
    EXPECT_EQ(report["type"], "settings");
    EXPECT_EQ(report["kind"], 1);
    EXPECT_TRUE(std::regex_match(report["identity"].get<std::string>(), identity));
    const json& s = report["settings"];
    EXPECT_EQ(s["featureLevel"], 5);
    EXPECT_EQ(s.size(), 32u);
    for (const auto& [key, value] : s.items()) {
        const bool integers = value.is_number_integer() ||
                              (value.is_array() && value.size() == 2 &&
                               std::all_of(value.begin(), value.end(), [](const json& e) {
                                   return e.is_number_integer() ||
                                          (e.is_array() && e.size() == 3 &&
                                           std::all_of(e.begin(), e.end(), [](const json& x) {
                                               return x.is_number_integer();
                                           }));
                               }));
        EXPECT_TRUE(integers) << key << " = " << value;
    }
    EXPECT_EQ(s["motorCurrent"].size(), 2u);
    EXPECT_EQ(s["motorCurrent"][0].size(), 3u);
    EXPECT_NE(s["latitude"], 0);  // the simulator's site is not at 0/0
}

// --- every operation by name ---

TEST(CliDo, RunsEveryOperationInOrderAndTheControllerKeepsTheWrites) {
    SimProcess sim({"--level", "6"});
    const Args args = {"--port",
                       sim.path(),
                       "--json",
                       "do",
                       "reloadDefaults",
                       "setGearRatios 172800 164000",
                       "setMaxSpeeds 630 800",
                       "setAccelerations 100 90",
                       "setDecelerations 80 70",
                       "setMotorCurrent 0x82 900",
                       "setDecay 0x40 2",
                       "setOvertone 0x80 -5",
                       "setCurrentBoost 0x40 140 140",
                       "setGuidingRates 4 12",
                       "setReverseFlags 1 2 3",
                       "applySiteSettings 15 1 -4104360 1000 12",
                       "setTracking 1",
                       "setExp 0",
                       "sendCode20",
                       "sendCode22",
                       "setPositionPair 1 2",
                       "measureVoltage",
                       "initScope 8",
                       "defineParkPosition",
                       "startMove 2 10",
                       "stopMove 4",
                       "storeSettings",
                       "disconnect",
                       "connect 1 9600"};
    const RunResult r = runCli(args);
    ASSERT_EQ(r.exitCode, 0) << describe(args, r);

    // Every report, in order, after the connection's own three.
    std::vector<std::string> seen;
    json last;
    int operations = 0;
    for (const json& line : jsonLines(r.out)) {
        if (line["type"] == "operation") {
            ++operations;
            seen.push_back("op:" + line["name"].get<std::string>());
        } else if (line["type"] == "status") {
            seen.push_back("status:" + std::to_string(line["code"].get<int>()));
        } else if (line["type"] == "settings") {
            seen.push_back("settings:" + std::to_string(line["kind"].get<int>()));
            last = line["settings"];
        } else if (line["type"] == "voltage") {
            seen.push_back("voltage:" + std::to_string(line["hundredths"].get<int>()));
        }
    }
    EXPECT_EQ(operations, 25);
    const std::vector<std::string> expected = {"status:1",
                                               "status:2",
                                               "settings:1",
                                               "op:reloadDefaults",
                                               "settings:2",
                                               "op:setGearRatios",
                                               "settings:4",
                                               "op:setMaxSpeeds",
                                               "op:setAccelerations",
                                               "op:setDecelerations",
                                               "op:setMotorCurrent",
                                               "op:setDecay",
                                               "op:setOvertone",
                                               "op:setCurrentBoost",
                                               "op:setGuidingRates",
                                               "op:setReverseFlags",
                                               "op:applySiteSettings",
                                               "status:24",
                                               "op:setTracking",
                                               "op:setExp",
                                               "op:sendCode20",
                                               "op:sendCode22",
                                               "op:setPositionPair",
                                               "op:measureVoltage",
                                               "voltage:1234",
                                               "op:initScope",
                                               "status:20",
                                               "op:defineParkPosition",
                                               "status:21",
                                               "op:startMove",
                                               "status:18",
                                               "op:stopMove",
                                               "status:15",
                                               "op:storeSettings",
                                               "status:22",
                                               "op:disconnect",
                                               "status:4",
                                               "op:connect",
                                               "status:1",
                                               "status:2",
                                               "settings:1"};
    EXPECT_EQ(seen, expected);

    // The settings read back over the new connection come from the controller.
    ASSERT_TRUE(last.is_object());
    EXPECT_EQ(last["gearRatio"], json::parse("[172800, 164000]"));
    EXPECT_EQ(last["maxSpeed"], json::parse("[630, 800]"));
    EXPECT_EQ(last["acceleration"], json::parse("[100, 90]"));
    EXPECT_EQ(last["deceleration"], json::parse("[80, 70]"));
    EXPECT_EQ(last["motorCurrent"][0][2], 900);
    EXPECT_EQ(last["decay"][1][0], 2);
    EXPECT_EQ(last["thirdOvertone"][0], -5);
    EXPECT_EQ(last["incCurrentAt"][1], 140);
    EXPECT_EQ(last["guidingRate"], json::parse("[4, 12]"));
    EXPECT_EQ(last["reverseRotation"], 1);
    EXPECT_EQ(last["reverseAutoguiding"], 2);
    EXPECT_EQ(last["reverseLimitSwitches"], 3);
    EXPECT_EQ(last["mountType"], 1);
    EXPECT_EQ(last["latitude"], -4104360);
    EXPECT_EQ(last["longitude"], 1000);
    EXPECT_EQ(last["meridianFlipHysteresis"], 12);
}

TEST(CliDo, StopsAtTheFirstErrorStatus) {
    // Below feature level 4 the controller cannot park: status 14 ends the run with status 1 and
    // the operations after it are not sent.
    const Args args = {"--simulate=3", "do", "setMaxSpeeds 500 500", "defineParkPosition",
                       "measureVoltage"};
    const RunResult r = runCli(args);
    EXPECT_EQ(r.exitCode, 1) << describe(args, r);
    EXPECT_NE(r.out.find("Error: The connected KZ2 does not support parking"), std::string::npos);
    EXPECT_EQ(r.out.find("> measureVoltage"), std::string::npos);
    EXPECT_NE(r.err.find("does not support parking"), std::string::npos);
}

// --- the friendly commands send what the dialog sends ---

TEST(CliCommands, EachCommandSendsTheDialogsRequest) {
    struct Case {
        Args args;
        std::string frame;   // expected on the wire (trace), "" for none
        std::string output;  // expected on stdout, "" for none
        int exitCode = 0;
    };
    const std::vector<Case> cases = {
        {{"set", "maxSpeed", "630", "800"}, "-> AA 07 35 00 C0 76 02 20 03", ""},
        // The axis not named keeps the controller's value (64).
        {{"set", "acceleration", "ra", "100"}, "-> AA 05 37 00 C0 64 40", ""},
        {{"set", "motorCurrent", "ra", "run", "900"}, "-> AA 05 33 00 82 84 03", ""},
        {{"set", "decay", "de", "idle", "2"}, "-> AA 04 34 00 40 02", ""},
        {{"set", "thirdOvertone", "ra", "-5"}, "-> AA 04 3B 00 80 FB", ""},
        {{"set", "incCurrentAt", "de", "140"}, "-> AA 07 3C 00 40 8C 00 8C 00", ""},
        {{"set", "guidingRate", "8", "12"}, "-> AA 05 36 00 C0 08 0C", ""},
        {{"set", "reverse", "rotation", "de", "on"}, "-> AA 06 32 00 C0 02 00 00", ""},
        {{"set", "gearRatio", "172800", "164000"},
         "-> AA 0B 1A 01 C0 00 A3 02 00 A0 80 02 00",
         "Gear ratios: RA 172800, DE 164000"},
        {{"set", "site", "--latitude", "N 47:30:15", "--longitude", "E 8:00:00", "--mount-type",
          "1", "--hysteresis", "12"},
         "-> AA 0A 65 01 A8 A0 3E 00 00 8C 0A 00",
         "Settings done."},
        {{"sync", "West-Side-Equator"},
         "-> AA 05 6A 01 45 57 20",
         "Telescope synchronized to the given position."},
        {{"park"}, "-> AA 03 69 01 01", "Current position marked as park position."},
        {{"track", "on"}, "-> AA 03 24 00 01", ""},
        {{"stop"}, "-> AA 03 21 00 C0", "Ready"},
        {{"voltage"}, "-> AA 03 2B 00 00", "Supply voltage: 12.34V"},
        {{"save"}, "-> AA 02 0D 01", "Parameters stored..."},
        {{"reload-defaults"}, "-> AA 02 0C 01", "Default settings reloaded"},
        {{"move", "east", "--speed", "2", "--seconds", "0.2"},
         "-> AA 07 23 00 80 18 FC FF FF",
         "Ready"},
    };
    std::vector<Args> runs;
    for (const auto& c : cases) {
        Args args = {"--simulate", "--trace"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        runs.push_back(args);
    }
    const auto results = runAll(runs);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(describe(runs[i], results[i]));
        EXPECT_EQ(results[i].exitCode, cases[i].exitCode);
        EXPECT_NE(results[i].err.find(cases[i].frame), std::string::npos);
        EXPECT_NE(results[i].out.find(cases[i].output), std::string::npos);
    }
    // The site change walks the whole chain: coordinates, mount type, then hysteresis with the
    // controller's two meridian-flip parameters.
    const std::string& siteTrace = results[9].err;
    const size_t coordinates = siteTrace.find("-> AA 0A 65 01");
    const size_t mount = siteTrace.find("-> AA 03 1B 01 01");
    const size_t hysteresis = siteTrace.find("-> AA 06 3E 01 01");
    EXPECT_LT(coordinates, mount);
    EXPECT_LT(mount, hysteresis);
    EXPECT_NE(hysteresis, std::string::npos);
    // A manual move always ends with the stop.
    EXPECT_NE(results.back().err.find("-> AA 03 21 00 C0"), std::string::npos);
}

TEST(CliCommands, OlderControllersGetTheirOwnRequestsOrARefusal) {
    const std::vector<Args> runs = {
        // Level 5 sets the position directly: a quarter turn on each axis.
        {"--simulate=5", "--trace", "sync", "4"},
        {"--simulate=5", "sync", "east-side-zenith"},
        {"--simulate=5", "--trace", "park"},
        {"--simulate=4", "set", "site", "--hysteresis", "5"},
        {"--simulate=2", "set", "thirdOvertone", "ra", "3"},
        {"--simulate=6", "set", "motorCurrent", "de", "idle", "1501"},
    };
    const auto r = runAll(runs);
    EXPECT_EQ(r[0].exitCode, 0) << describe(runs[0], r[0]);
    EXPECT_NE(r[0].err.find("-> AA 0B 20 01 C0 00 BA FA FF 00 46 05 00"), std::string::npos)
        << describe(runs[0], r[0]);
    EXPECT_NE(r[0].out.find("Position set to Default east side - Equator"), std::string::npos);

    EXPECT_EQ(r[1].exitCode, 1) << describe(runs[1], r[1]);
    EXPECT_NE(r[1].err.find("can only be synchronised"), std::string::npos);

    EXPECT_EQ(r[2].exitCode, 0) << describe(runs[2], r[2]);
    EXPECT_NE(r[2].err.find("-> AA 04 1D 01 00 00"), std::string::npos) << describe(runs[2], r[2]);

    for (size_t i = 3; i < r.size(); ++i) {
        EXPECT_EQ(r[i].exitCode, 1) << describe(runs[i], r[i]);
        EXPECT_EQ(r[i].out.find("> "), std::string::npos) << describe(runs[i], r[i]);
    }
    EXPECT_NE(r[3].err.find("no site settings"), std::string::npos);
    EXPECT_NE(r[4].err.find("feature level 2"), std::string::npos);
    EXPECT_NE(r[5].err.find("maximum current of 1500 mA"), std::string::npos);
}

TEST(CliCommands, EveryWayOutOfAMoveSendsTheStop) {
    // Ctrl-C, kill, a closed terminal, Ctrl-\.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(sig);
        ChildProcess cli(cliBinary(), {"--simulate", "--trace", "move", "north"});
        ASSERT_TRUE(cli.waitForOutput("Manual movement", 20)) << cli.out();
        cli.signal(sig);
        const RunResult r = cli.finish(20);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("Ready"), std::string::npos);
        const size_t start = r.err.find("-> AA 07 23 00 40");
        const size_t stop = r.err.find("-> AA 03 21 00 C0");
        ASSERT_NE(start, std::string::npos) << r.err;
        ASSERT_NE(stop, std::string::npos) << r.err;
        EXPECT_LT(start, stop);
    }
}

// --- backup, change, diff, restore, verify ---

TEST(CliBackup, BackupChangeDiffRestoreVerify) {
    SimProcess sim({"--level", "6"});
    TempDir dir;
    const std::string file = dir.file("kz2.json");
    const Args port = {"--port", sim.path()};
    auto run = [&](Args more) {
        Args args = port;
        args.insert(args.end(), more.begin(), more.end());
        RunResult r = runCli(args);
        return std::make_pair(args, r);
    };

    auto [backupArgs, backup] = run({"backup", file});
    ASSERT_EQ(backup.exitCode, 0) << describe(backupArgs, backup);
    const json doc = json::parse(readFile(file));
    EXPECT_EQ(doc["vornicBackup"], 1);
    EXPECT_EQ(doc["featureLevel"], 6);
    EXPECT_TRUE(std::regex_match(doc["date"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(doc["identity"].get<std::string>().rfind("HW:", 0), 0u);
    EXPECT_EQ(doc["settings"]["maxSpeed"], json::parse("[800, 800]"));
    EXPECT_TRUE(doc["settings"].contains("latitude"));

    auto [changeArgs, change] =
        run({"do", "setMaxSpeeds 630 700", "setMotorCurrent 0x82 900", "setReverseFlags 1 0 0",
             "applySiteSettings 3 0 -4104360 -1000 10"});
    ASSERT_EQ(change.exitCode, 0) << describe(changeArgs, change);

    auto [diffArgs, diff] = run({"--json", "diff", file});
    ASSERT_EQ(diff.exitCode, 0) << describe(diffArgs, diff);
    std::vector<std::string> fields;
    for (const json& line : jsonLines(diff.out)) {
        if (line["type"] == "difference") {
            fields.push_back(line["field"]);
        }
        if (line.value("field", "") == "maxSpeed") {
            EXPECT_EQ(line["file"], json::parse("[800, 800]"));
            EXPECT_EQ(line["controller"], json::parse("[630, 700]"));
        }
    }
    EXPECT_EQ(fields, (std::vector<std::string>{"maxSpeed", "motorCurrent", "reverseRotation",
                                                "latitude", "longitude"}));

    auto [restoreArgs, restore] = run({"restore", file, "--save"});
    ASSERT_EQ(restore.exitCode, 0) << describe(restoreArgs, restore);
    // Only what differed was sent; the site change carries both coordinate bits.
    EXPECT_NE(restore.out.find("> setMaxSpeeds 800 800"), std::string::npos);
    EXPECT_NE(restore.out.find("> setMotorCurrent 130 1200"), std::string::npos);
    EXPECT_NE(restore.out.find("> setReverseFlags 0 0 0"), std::string::npos);
    EXPECT_NE(restore.out.find("> applySiteSettings 3 "), std::string::npos);
    EXPECT_EQ(restore.out.find("> setAccelerations"), std::string::npos);
    EXPECT_EQ(restore.out.find("> setGearRatios"), std::string::npos);
    EXPECT_NE(restore.out.find("Verified: the controller holds the file's settings."),
              std::string::npos);
    EXPECT_NE(restore.out.find("Parameters stored..."), std::string::npos);

    auto [againArgs, again] = run({"diff", file});
    ASSERT_EQ(again.exitCode, 0) << describe(againArgs, again);
    EXPECT_NE(again.out.find("No differences."), std::string::npos);
}

TEST(CliBackup, RestoreRefusesBadFilesNamingTheFieldAndChangesNothing) {
    TempDir dir;
    struct Case {
        std::string content;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"not json at all", "not valid JSON"},
        {R"({"settings":{}})", "vornicBackup"},
        {R"({"vornicBackup":1,"settings":{"maxSpeed":[800]}})", "settings.maxSpeed"},
        {R"({"vornicBackup":1,"settings":{"maxSpeed":[800,"fast"]}})", "settings.maxSpeed[1]"},
        {R"({"vornicBackup":1,"settings":{"decay":[[0,1,2],[0,1,4]]}})", "settings.decay[1][2]"},
        {R"({"vornicBackup":1,"settings":{"guidingRate":[8,8.5]}})", "settings.guidingRate[1]"},
        {R"({"vornicBackup":1,"settings":{"maxSpeeds":[1,2]}})", "settings.maxSpeeds"},
        {R"({"vornicBackup":1,"settings":{},"extra":true})", "extra"},
        {std::string(5000, '[') + std::string(5000, ']'), "nested too deeply"},
    };
    // The port does not exist: a file that got as far as connecting would fail with status 1.
    std::vector<Args> runs;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string file = dir.write("bad" + std::to_string(i) + ".json", cases[i].content);
        runs.push_back({"--port", "/dev/vornic-no-such-port", "restore", file});
    }
    runs.push_back({"--port", "/dev/vornic-no-such-port", "restore", dir.file("missing.json")});
    const auto results = runAll(runs);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(describe(runs[i], results[i]));
        EXPECT_EQ(results[i].exitCode, 2);
        EXPECT_NE(results[i].err.find(cases[i].message), std::string::npos);
        EXPECT_NE(results[i].err.find("nothing was changed"), std::string::npos);
        EXPECT_EQ(results[i].out, "");
    }
    EXPECT_EQ(results.back().exitCode, 2);

    // What only the controller can judge: a level-6 backup onto a level-3 controller, a current
    // above the axis's maximum. Refused after connecting, before anything is sent.
    const std::string site = dir.write(
        "site.json", R"({"vornicBackup":1,"settings":{"maxSpeed":[700,700],"latitude":100}})");
    const std::string current = dir.write(
        "current.json",
        R"({"vornicBackup":1,"settings":{"motorCurrent":[[300,600,1200],[300,600,2000]]}})");
    const std::vector<Args> controllerRuns = {{"--simulate=3", "restore", site},
                                              {"--simulate=6", "restore", current}};
    const auto refused = runAll(controllerRuns);
    EXPECT_EQ(refused[0].exitCode, 1) << describe(controllerRuns[0], refused[0]);
    EXPECT_NE(refused[0].err.find("settings.latitude"), std::string::npos);
    EXPECT_EQ(refused[1].exitCode, 1) << describe(controllerRuns[1], refused[1]);
    EXPECT_NE(refused[1].err.find("settings.motorCurrent[1][2]"), std::string::npos);
    for (const auto& r : refused) {
        EXPECT_EQ(r.out.find("> "), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("nothing was changed"), std::string::npos);
    }
}

// --- line faults ---

TEST(CliFaults, SilentControllerTimesOutWithStatus7AfterAboutEightSeconds) {
    SimProcess sim({"--fault", "silent"});
    const Args args = {"--port", sim.path(), "info"};
    const RunResult r = runCli(args);
    EXPECT_EQ(r.exitCode, 1) << describe(args, r);
    EXPECT_NE(r.out.find("Error: Cannot connect: Timeout error"), std::string::npos);
    EXPECT_NE(r.err.find("did not answer"), std::string::npos);
    EXPECT_GE(r.seconds, 7.0);
    EXPECT_LT(r.seconds, 13.0);
}

TEST(CliFaults, GarbageBeforeRepliesAndSplitRepliesStillConnect) {
    SimProcess garbage({"--fault", "garbage"});
    SimProcess split({"--fault", "split", "--fault", "garbage"});
    const std::vector<Args> runs = {{"--port", garbage.path(), "do", "measureVoltage"},
                                    {"--port", split.path(), "do", "measureVoltage"}};
    const auto results = runAll(runs);
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(describe(runs[i], results[i]));
        EXPECT_EQ(results[i].exitCode, 0);
        EXPECT_NE(results[i].out.find("Connection established."), std::string::npos);
        EXPECT_NE(results[i].out.find("Supply voltage: 12.34V"), std::string::npos);
    }
}

TEST(CliFaults, TruncatedRepliesAreErrorsNeverValues) {
    // A cut voltage reply is a communication error, not a reading; a settings block cut while
    // connecting means an unknown device, never settings with zeros where bytes were missing.
    SimProcess voltage({"--fault", "truncate=0x2B"});
    SimProcess settings({"--fault", "truncate=0x15"});
    const std::vector<Args> runs = {{"--port", voltage.path(), "voltage"},
                                    {"--port", settings.path(), "set", "maxSpeed", "ra", "630"}};
    const auto results = runAll(runs);
    const char* expected[] = {"Error: Communication error",
                              "Error: Cannot connect: Unknown device"};
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(describe(runs[i], results[i]));
        EXPECT_EQ(results[i].exitCode, 1);
        EXPECT_NE(results[i].out.find(expected[i]), std::string::npos);
        EXPECT_EQ(results[i].out.find("Supply voltage"), std::string::npos);
    }
}

TEST(CliFaults, HangUpMidSessionEndsPromptlyWithAClearErrorAndNoSpinning) {
    // The line drops right after the seven requests of the connection.
    SimProcess sim({"--fault", "hangup-after=7"});
    const Args args = {"--port", sim.path(), "--timeout", "30", "do", "measureVoltage"};
    const RunResult r = runCli(args);
    EXPECT_EQ(r.exitCode, 1) << describe(args, r);
    EXPECT_NE(r.err.find("serial line to the controller was lost"), std::string::npos)
        << describe(args, r);
    EXPECT_LT(r.seconds, 10.0);
    EXPECT_LT(r.cpuSeconds, 0.5 * r.seconds + 0.5);
}

TEST(CliFaults, AnUnansweredCommandTimesOutWithExit1) {
    // Replies to commands have no time-out of their own in the link; the tool's wait has one.
    SimProcess sim({"--fault", "no-reply=0x2B"});
    const Args args = {"--port", sim.path(), "--timeout", "1", "voltage"};
    const RunResult r = runCli(args);
    EXPECT_EQ(r.exitCode, 1) << describe(args, r);
    EXPECT_NE(r.err.find("timed out after 1 s waiting for the supply voltage"), std::string::npos)
        << describe(args, r);
    EXPECT_EQ(r.out.find("Supply voltage"), std::string::npos);
}

TEST(CliFaults, ASecondProgramCannotOpenAPortInUse) {
    SimProcess sim;
    ChildProcess first(cliBinary(), {"--port", sim.path(), "move", "west", "--seconds", "8"});
    ASSERT_TRUE(first.waitForOutput("Manual movement", 20)) << first.out();
    const Args args = {"--port", sim.path(), "info"};
    const RunResult second = runCli(args);
    EXPECT_EQ(second.exitCode, 1) << describe(args, second);
    EXPECT_NE(second.out.find("Error: Cannot open port."), std::string::npos);
    EXPECT_NE(second.err.find("in use"), std::string::npos) << second.err;
    first.signal(SIGINT);
    const RunResult firstResult = first.finish(20);
    EXPECT_EQ(firstResult.exitCode, 0) << firstResult.out << firstResult.err;
    EXPECT_NE(firstResult.out.find("Ready"), std::string::npos);
}

TEST(CliFaults, MissingPortSaysSoAndExits1) {
    const Args args = {"--port", "/dev/vornic-no-such-port", "info"};
    const RunResult r = runCli(args);
    EXPECT_EQ(r.exitCode, 1) << describe(args, r);
    EXPECT_NE(r.out.find("Error: Cannot open port."), std::string::npos);
    EXPECT_NE(r.err.find("no such serial port"), std::string::npos);
    EXPECT_NE(r.err.find("vornic-cli ports"), std::string::npos);
}

// --simulate runs kz2-sim as a child: found beside vornic-cli or on PATH, told why it failed, and
// ended once vornic-cli is done, however the run went. A stand-in kz2-sim notes its PID first.
TEST(CliFaults, SimulateFindsItsSimulatorAndAlwaysEndsIt) {
    struct Case {
        const char* name;
        const char* script;  // the stand-in's body; empty: no kz2-sim anywhere
        bool besideCli;      // else on PATH
        int exitCode;
        const char* err;
    };
    const std::string real = simBinary();
    const Case cases[] = {
        {"beside", "exec '$REAL' \"$@\"", true, 0, ""},
        {"on PATH", "exec '$REAL' \"$@\"", false, 0, ""},
        {"missing", "", false, 1, "cannot start the simulator: kz2-sim was not found beside"},
        {"gives up", "echo 'kz2-sim: no pseudo-terminal today' >&2; exit 1", true, 1,
         "cannot start the simulator: kz2-sim ended without giving its device: no "
         "pseudo-terminal today"},
        {"prints noise", "printf 'ready\\n'; exec sleep 30", true, 1,
         "kz2-sim printed \"ready\" instead of its device"},
        // Started but unusable: the connection fails, and the child must still be ended.
        {"bad device", "echo /dev/vornic-no-such-port; exec sleep 30", false, 1,
         "no such serial port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir bin;
        TempDir path;
        const std::string cli = bin.file("vornic-cli");
        ASSERT_EQ(std::system(("cp '" + std::string(cliBinary()) + "' '" + cli + "'").c_str()), 0);
        const std::string pidFile = bin.file("sim.pid");
        if (*c.script != '\0') {
            std::string body = c.script;
            if (const size_t at = body.find("$REAL"); at != std::string::npos) {
                body.replace(at, 5, real);
            }
            const std::string stub = (c.besideCli ? bin : path).file("kz2-sim");
            std::ofstream(stub) << "#!/bin/sh\necho $$ > '" << pidFile << "'\n" << body << "\n";
            ASSERT_EQ(::chmod(stub.c_str(), 0755), 0);
        }
        const Args args = {"PATH=" + path.file("") + ":/nonexistent", cli, "--simulate", "info"};
        const RunResult r = ChildProcess("/usr/bin/env", args).finish(30);
        EXPECT_EQ(r.exitCode, c.exitCode) << describe(args, r);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << describe(args, r);
        EXPECT_LT(r.seconds, 10.0);
        const std::string pid = readFile(pidFile);
        if (*c.script != '\0') {
            ASSERT_FALSE(pid.empty()) << "the stand-in kz2-sim was not run";
            EXPECT_NE(::kill(std::stoi(pid), 0), 0) << "kz2-sim was left running";
        }
    }
}

// --- usage ---

TEST(CliUsage, UsageErrorsExitWith2BeforeTouchingAnyPort) {
    const std::vector<Args> runs = {
        {},
        {"frobnicate"},
        {"info"},
        {"--port", "/dev/null", "--simulate", "info"},
        {"--simulate=7", "info"},
        {"--baud", "4800", "--simulate", "info"},
        {"--timeout", "0", "--simulate", "info"},
        {"--timeout", "nan", "--simulate", "info"},
        {"--simulate", "do"},
        {"--simulate", "do", "bogus"},
        {"--simulate", "do", "setMaxSpeeds 1"},
        {"--simulate", "do", "setMaxSpeeds 1 2 3"},
        {"--simulate", "do", "setMaxSpeeds 1 x"},
        {"--simulate", "do", "measureVoltage 5"},
        {"--simulate", "do", "initScope 0x100000000"},
        // Values the field cannot carry, or codes the operation has no use for, are refused
        // instead of being cut to the field's width or dropped without a word.
        {"--simulate", "do", "initScope 99"},
        {"--simulate", "do", "setMaxSpeeds 0x1FFFF 0x1FFFF"},
        {"--simulate", "do", "setOvertone 0x80 999"},
        {"--simulate", "do", "applySiteSettings 8 0 0 0 999"},
        {"--simulate", "do", "setMotorCurrent 0x83 900"},
        {"--simulate", "do", "startMove 4 10"},
        {"--simulate", "backup", ""},
        // A hemisphere letter and a minus sign contradict each other.
        {"--simulate", "set", "site", "--latitude", "S -47:30:00"},
        {"--simulate", "set", "site", "--longitude", "W -8:00:00"},
        {"--simulate", "move", "up"},
        {"--simulate", "move", "north", "--speed", "32"},
        {"--simulate", "move", "north", "--seconds", "nan"},
        {"--simulate", "track", "maybe"},
        {"--simulate", "set"},
        {"--simulate", "set", "bogus", "1"},
        {"--simulate", "set", "decay", "ra", "idle", "4"},
        {"--simulate", "set", "maxSpeed", "70000", "1"},
        {"--simulate", "set", "thirdOvertone", "ra", "-21"},
        {"--simulate", "set", "guidingRate", "0", "8"},
        {"--simulate", "set", "site"},
        {"--simulate", "set", "site", "--latitude", "Q 47:00:00"},
        {"--simulate", "set", "site", "--latitude", "N 95:00:00"},
        {"--simulate", "set", "site", "--longitude", "E 8:61:00"},
        {"--simulate", "set", "maxSpeed", "1", "2", "--latitude", "N 1"},
        {"--simulate", "sync", "3"},
        {"--simulate", "sync", "somewhere"},
        {"--simulate", "backup"},
        {"--simulate", "restore", "/nonexistent/vornic.json"},
    };
    // Usage errors are found before a simulator or a port is opened, so these are quick.
    const auto results = runAll(runs, 8);
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(describe(runs[i], results[i]));
        EXPECT_EQ(results[i].exitCode, 2);
        EXPECT_FALSE(results[i].err.empty());
        EXPECT_EQ(results[i].out.find("Opening port"), std::string::npos);
        EXPECT_LT(results[i].seconds, 5.0);
    }
}

// Both programs print the one project version, and nothing else, before anything else happens.
TEST(CliUsage, VersionIsTheProjectVersion) {
    for (const auto& [binary, name] :
         {std::pair{cliBinary(), "vornic-cli"}, std::pair{simBinary(), "kz2-sim"}}) {
        ChildProcess child(binary, {"--version"});
        const RunResult run = child.finish(20);
        EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
        EXPECT_EQ(run.out, std::string(name) + " " VORNIC_VERSION "\n");
    }
}

TEST(CliUsage, HelpAndPortsNeedNoController) {
    const RunResult help = runCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("restore"), std::string::npos);
    const RunResult ports = runCli({"--json", "ports"});
    EXPECT_EQ(ports.exitCode, 0) << ports.err;
    for (const json& line : jsonLines(ports.out)) {
        EXPECT_EQ(line["type"], "port");
        EXPECT_TRUE(line["path"].is_string());
    }
}

}  // namespace
}  // namespace vornic::testing
