// vornic-cli and kz2-sim used as a careless or hostile user would: files that are not files,
// settings that do not take, writes that fail, and the messages that explain each case.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "platform/Files.h"

namespace vornic::testing {
namespace {

using nlohmann::json;
using Args = std::vector<std::string>;

std::string describe(const Args& args, const RunResult& r) {
    std::string text = "vornic-cli";
    for (const auto& a : args) {
        text += " '" + a.substr(0, 80) + "'";
    }
    return text + "\nexit " + std::to_string(r.exitCode) + "\n--- stdout\n" + r.out +
           "--- stderr\n" + r.err;
}

class Dir {
  public:
    Dir() {
        char pattern[] = "/tmp/vornic-hostile-XXXXXX";
        path_ = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    }
    ~Dir() { [[maybe_unused]] const int rc = std::system(("rm -rf '" + path_ + "'").c_str()); }
    [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }
    [[nodiscard]] std::string read(const std::string& name) const {
        std::ifstream in(file(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

  private:
    std::string path_;
};

bool isCharDevice(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// --- files ---

TEST(HostileFiles, BackupReplacesOnlyRegularFilesAndFollowsLinksToThem) {
    Dir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    ::mkdir(dir.file("sub").c_str(), 0755);
    dir.write("target.json", "old");
    ASSERT_EQ(::symlink("target.json", dir.file("link").c_str()), 0);
    struct Case {
        std::string path;
        int exit;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"/dev/null", 2, "/dev/null: it is a character device"},
        {dir.file("fifo"), 2, "it is a FIFO"},
        {dir.file("sub"), 2, "it is a directory"},
        {dir.file("link"), 0, ""},
    };
    for (const Case& c : cases) {
        const Args args = {"--simulate", "backup", c.path};
        const RunResult r = runCli(args);
        EXPECT_EQ(r.exitCode, c.exit) << describe(args, r);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << describe(args, r);
    }
    EXPECT_TRUE(isCharDevice("/dev/null"));
    // The link is still a link, and the file it points to holds the backup.
    char target[64] = {};
    EXPECT_EQ(::readlink(dir.file("link").c_str(), target, sizeof target - 1), 11);
    EXPECT_EQ(json::parse(dir.read("target.json"))["vornicBackup"], 1);
}

TEST(HostileFiles, ATemporaryNameTakenByAPlantedLinkIsNeverWrittenThrough) {
    Dir dir;
    dir.write("victim", "precious");
    // Every name the writer could pick first is a link to the victim.
    for (int i = 0; i < 20; ++i) {
        const std::string name =
            dir.file(".vornic-" + std::to_string(::getpid()) + "-" + std::to_string(i) + ".tmp");
        ASSERT_EQ(::symlink(dir.file("victim").c_str(), name.c_str()), 0);
    }
    std::string error;
    ASSERT_TRUE(platform::replaceFile(dir.file("out.json"), "new", error)) << error;
    EXPECT_EQ(dir.read("victim"), "precious");
    EXPECT_EQ(dir.read("out.json"), "new");
    // A private file stays private when it is replaced.
    ASSERT_EQ(::chmod(dir.file("out.json").c_str(), 0600), 0);
    ASSERT_TRUE(platform::replaceFile(dir.file("out.json"), "newer", error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("out.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(dir.read("out.json"), "newer");
}

TEST(HostileFiles, SimulatorRefusesStateFilesItCouldHangOnOrNotWrite) {
    Dir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    ::mkdir(dir.file("adir").c_str(), 0755);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {dir.file("fifo"), "is a FIFO"},
        {dir.file("adir"), "is a directory"},
        {"/nonexistent/dir/x.json", "cannot write /nonexistent/dir/x.json"},
    };
    for (const auto& [path, message] : cases) {
        ChildProcess sim(simBinary(), {"--state", path});
        const RunResult r = sim.finish(10);
        EXPECT_EQ(r.exitCode, 2) << path << "\n" << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << "it must not serve: " << r.out;
    }
}

TEST(HostileFiles, SimulatorDoesNotAcknowledgeAStoreItCouldNotWrite) {
    Dir dir;
    const std::string state = dir.file("state.json");
    // A file size limit of 0 makes every write of the state file fail as a full disk would.
    ChildProcess sim("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\"", simBinary(),
                                 "--trace", "--state", state});
    const std::string device = sim.firstLine(20);
    ASSERT_FALSE(device.empty());
    // No --timeout: the link's own time-out for an unanswered request (32 heartbeat ticks) ends
    // the wait, before the command line's 15 s would, and says so.
    const Args args = {"--port", device, "save"};
    const RunResult r = runCli(args);
    EXPECT_EQ(r.exitCode, 1) << describe(args, r);
    EXPECT_NE(r.err.find("No answer from the controller"), std::string::npos) << describe(args, r);
    sim.signal(SIGTERM);
    const RunResult s = sim.finish(20);
    EXPECT_NE(s.err.find("host -> AA 02 0D 01"), std::string::npos) << s.err;
    EXPECT_EQ(s.err.find("55 01 0D"), std::string::npos) << s.err;
    EXPECT_NE(s.err.find("settings not saved, store not acknowledged"), std::string::npos) << s.err;
    EXPECT_NE(::access(state.c_str(), F_OK), 0) << "no state file may appear";
}

// --- results that must match what happened ---

TEST(HonestResults, ASettingThatDoesNotTakeFailsAndNamesIt) {
    const Args args = {"--simulate", "set", "gearRatio", "600000000", "172800"};
    const RunResult r = runCli(args);
    EXPECT_EQ(r.exitCode, 1) << describe(args, r);
    EXPECT_NE(r.err.find("did not take gearRatio"), std::string::npos) << describe(args, r);
    const Args fine = {"--simulate", "set", "maxSpeed", "ra", "600"};
    const RunResult ok = runCli(fine);
    EXPECT_EQ(ok.exitCode, 0) << describe(fine, ok);
}

TEST(HonestResults, AFailedWriteToStandardOutputIsAnError) {
    ChildProcess child("/bin/sh", {"-c", "exec \"$0\" --simulate info > /dev/full", cliBinary()});
    const RunResult r = child.finish(30);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write to standard output"), std::string::npos) << r.err;
}

TEST(HonestResults, AStopThatCannotBeSentIsNotReported) {
    // The line drops right after the connection's requests, so the move's start is the last
    // thing written; the stop can no longer reach the controller.
    SimProcess sim({"--fault", "hangup-after=7"});
    const Args args = {"--port", sim.path(), "move", "west", "--seconds", "5"};
    const RunResult r = runCli(args);
    EXPECT_EQ(r.exitCode, 1) << describe(args, r);
    EXPECT_EQ(r.out.find("> stopMove"), std::string::npos) << describe(args, r);
    EXPECT_EQ(r.out.find("Ready"), std::string::npos) << describe(args, r);
    EXPECT_NE(r.err.find("the stop could not be sent"), std::string::npos) << describe(args, r);
}

TEST(HonestResults, ValuesTheControllerHoldsRoundTripThroughBackupAndRestore) {
    SimProcess sim({"--level", "6"});
    Dir dir;
    const std::string file = dir.file("kz2.json");
    const Args port = {"--port", sim.path()};
    auto run = [&](Args more) {
        Args args = port;
        args.insert(args.end(), more.begin(), more.end());
        const RunResult r = runCli(args);
        return std::make_pair(r, describe(args, r));
    };
    // Values outside what `set` allows but within what the controller holds.
    auto [set, setText] =
        run({"do", "setOvertone 0x80 -25", "setGuidingRates 40 0", "setReverseFlags 0 12 0"});
    ASSERT_EQ(set.exitCode, 0) << setText;
    auto [backup, backupText] = run({"backup", file});
    ASSERT_EQ(backup.exitCode, 0) << backupText;
    ASSERT_EQ(json::parse(dir.read("kz2.json"))["settings"]["thirdOvertone"][0], -25);
    auto [change, changeText] = run({"do", "setOvertone 0x80 3", "setGuidingRates 8 8"});
    ASSERT_EQ(change.exitCode, 0) << changeText;
    auto [restore, restoreText] = run({"restore", file});
    EXPECT_EQ(restore.exitCode, 0) << restoreText;
    auto [diff, diffText] = run({"diff", file});
    EXPECT_EQ(diff.exitCode, 0) << diffText;
    EXPECT_NE(diff.out.find("No differences."), std::string::npos) << diffText;
}

TEST(HonestResults, ARestoreThatDoesNotTakeIsPutBackUnlessAskedToKeepIt) {
    SimProcess sim({"--level", "6"});
    Dir dir;
    const Args port = {"--port", sim.path()};
    auto run = [&](Args more) {
        Args args = port;
        args.insert(args.end(), more.begin(), more.end());
        const RunResult r = runCli(args);
        return std::make_pair(r, describe(args, r));
    };
    auto [backup, backupText] = run({"backup", dir.file("before.json")});
    ASSERT_EQ(backup.exitCode, 0) << backupText;
    // A gear ratio the controller refuses, after a max speed it takes.
    json doc = json::parse(dir.read("before.json"));
    doc["settings"]["gearRatio"] = json::array({4294967295u, 172800});
    doc["settings"]["maxSpeed"] = json::array({500, 600});
    const std::string bad = dir.write("bad.json", doc.dump());

    struct Case {
        Args extra;
        std::string message;
        bool maxSpeedKept;
    };
    const std::vector<Case> cases = {
        {{}, "were put back and verified", false},
        {{"--keep-partial"}, "the others were kept", true},
    };
    for (const Case& c : cases) {
        Args args = {"restore", bad};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        auto [restore, restoreText] = run(args);
        EXPECT_EQ(restore.exitCode, 1) << restoreText;
        EXPECT_NE(restore.err.find("1 setting(s) did not take"), std::string::npos) << restoreText;
        EXPECT_NE(restore.err.find(c.message), std::string::npos) << restoreText;
        auto [diff, diffText] = run({"--json", "diff", dir.file("before.json")});
        EXPECT_EQ(diff.out.find(R"("field":"maxSpeed")") != std::string::npos, c.maxSpeedKept)
            << diffText;
    }
}

TEST(HonestResults, ABackupOfAnotherControllerIsRestoredOnlyWhenSaidSo) {
    SimProcess sim({"--level", "6"});
    Dir dir;
    const RunResult backup = runCli({"--port", sim.path(), "backup", dir.file("kz2.json")});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    json doc = json::parse(dir.read("kz2.json"));
    doc["firmwareVersion"] = 0x01000001;
    doc["settings"]["maxSpeed"] = json::array({321, 322});
    const std::string other = dir.write("other.json", doc.dump());
    const std::vector<std::pair<Args, std::string>> cases = {
        {{}, "is a backup of another controller (HW:"},
        {{"--other-controller"}, ""},
    };
    for (const auto& [extra, message] : cases) {
        Args args = {"--port", sim.path(), "restore", other};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = runCli(args);
        EXPECT_EQ(r.exitCode, message.empty() ? 0 : 1) << describe(args, r);
        // Refused: nothing at all is sent; allowed: the file's speeds are.
        EXPECT_EQ(
            r.out.find(message.empty() ? "> setMaxSpeeds 321 322" : "> ") != std::string::npos,
            message.empty())
            << describe(args, r);
        if (!message.empty()) {
            EXPECT_NE(r.err.find(message), std::string::npos) << describe(args, r);
            EXPECT_NE(r.err.find("FW:1.0.0.1 |"), std::string::npos) << describe(args, r);
        }
    }
}

TEST(HonestResults, CtrlCDuringARestorePutsBackWhatChangedAndASecondOneEndsAtOnce) {
    // Slow replies leave time to interrupt between the restore's writes.
    SimProcess sim({"--level", "6", "--fault", "delay=150"});
    Dir dir;
    ASSERT_EQ(runCli({"--port", sim.path(), "backup", dir.file("before.json")}).exitCode, 0);
    json doc = json::parse(dir.read("before.json"));
    doc["settings"]["maxSpeed"] = json::array({501, 502});
    doc["settings"]["acceleration"] = json::array({11, 12});
    doc["settings"]["deceleration"] = json::array({13, 14});
    doc["settings"]["incCurrentAt"] = json::array({15, 16});
    const std::string changed = dir.write("changed.json", doc.dump());
    const std::vector<std::pair<int, std::string>> cases = {
        {1,
         "the restore was interrupted; the settings that had changed were put back and verified"},
        {2, "the restore was interrupted; interrupted"},
    };
    for (const auto& [interrupts, message] : cases) {
        ChildProcess cli(cliBinary(), {"--port", sim.path(), "restore", changed});
        ASSERT_TRUE(cli.waitForOutput("> setAccelerations", 30)) << cli.finish(5).out;
        cli.signal(SIGINT);
        if (interrupts == 2) {
            ASSERT_TRUE(cli.waitForOutput("Interrupted:", 30)) << cli.finish(5).out;
            cli.signal(SIGINT);
        }
        const RunResult r = cli.finish(60);
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.out << r.err;
        if (interrupts == 1) {
            const RunResult diff = runCli({"--port", sim.path(), "diff", dir.file("before.json")});
            EXPECT_NE(diff.out.find("No differences."), std::string::npos) << diff.out << diff.err;
        }
    }
}

// --- messages ---

TEST(Messages, SayWhatIsWrongInTheToolsOwnWordsAndQuoteInputSafely) {
    Dir dir;
    const std::string digits(100000, '9');
    struct Case {
        std::string program;  // "cli" or "sim"
        Args args;
        std::string wanted;
        std::string unwanted;
    };
    const std::vector<Case> cases = {
        {"cli",
         {"--simulate", "diff", dir.write("a.json", "\n  nonsense")},
         "not valid JSON at line 2, column 4: expected a value",
         "json.exception"},
        {"cli",
         {"--simulate", "diff",
          dir.write("b.json",
                    R"({"vornicBackup":1,"settings":{"maxSpeed":[18446744073709551616,1]}})")},
         "settings.maxSpeed[0]: the number is out of range 0..65535",
         "e+19"},
        {"cli",
         {"--simulate", "diff",
          dir.write("c.json", R"({"vornicBackup":1,"settings":{"maxSpeed":[)" + digits + "]}}")},
         "a number is too large",
         "99999999999"},
        {"cli",
         {"--simulate", "diff",
          dir.write("d.json",
                    R"({"vornicBackup":1,"settings":{"\u001b[31mRED\u001b[0m\u0007":1}})")},
         "unknown field settings.\\x1B[31mRED\\x1B[0m\\x07",
         "\x1b"},
        {"cli", {"--simulate", "backup", "/dev/full"}, "cannot write /dev/full", ".tmp"},
        {"cli", {"--simulate", "backup", ""}, "backup: the file name is empty", "cannot write"},
        {"cli",
         {"--port", "/tmp/" + std::string(200, 'b') + "/" + std::string(210, 'b'), "info"},
         "(No such file or directory)",
         "\x1b"},
        {"cli", {"--baud", "-9600", "--simulate", "info"}, "must be 9600 or 115200, not -9600", ""},
        {"cli",
         {"bogus"},
         "unknown command bogus; the commands are: ports, info, do",
         "subcommand"},
        {"cli",
         {"--port", "a", "--port", "b", "info"},
         "--port is given more than once",
         "At Most"},
        {"cli",
         {"--simulate", "set", "acceleration", "xx", "100"},
         "xx is neither an axis (ra, de) nor a number",
         "whole number"},
        {"cli", {"--simulate", "move", "\x1b[2Jnorth"}, "not \\x1B[2Jnorth", "\x1b"},
        {"sim",
         {"--state", "/"},
         "state file: / is a directory, not a regular file",
         "cannot read it"},
        {"sim",
         {"--state", dir.write("s.json", "{\"format\": tru}")},
         "line 1, column 15",
         "parse_error"},
    };
    for (const Case& c : cases) {
        ChildProcess child(c.program == "cli" ? cliBinary() : simBinary(), c.args);
        const RunResult r = child.finish(30);
        const std::string text = describe(c.args, r);
        EXPECT_NE(r.exitCode, 0) << text;
        EXPECT_NE(r.err.find(c.wanted), std::string::npos) << text;
        if (!c.unwanted.empty()) {
            EXPECT_EQ(r.err.find(c.unwanted), std::string::npos) << text;
        }
        // Nothing from the input reaches the terminal raw, and nothing is echoed at length.
        EXPECT_LT(r.err.size(), 2000u) << text;
    }
}

TEST(Messages, APortWithoutPermissionGivesTheDialoutAdviceOnce) {
    Dir dir;
    const std::string port = dir.write("port", "");
    ASSERT_EQ(::chmod(port.c_str(), 0), 0);
    // Root may open anything, so as root the tool runs as nobody.
    const bool root = ::geteuid() == 0;
    if (root && ::access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "running as root without setpriv";
    }
    ::chmod(dir.file("").c_str(), 0755);
    Args args = {"--port", port, "info"};
    std::string program = cliBinary();
    if (root) {
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", program});
        program = "/usr/bin/setpriv";
    }
    ChildProcess child(program, args);
    const RunResult r = child.finish(30);
    EXPECT_EQ(r.exitCode, 1) << describe(args, r);
    const size_t first = r.err.find("must be in the");
    ASSERT_NE(first, std::string::npos) << describe(args, r);
    EXPECT_EQ(r.err.find("must be in the", first + 1), std::string::npos) << describe(args, r);
}

}  // namespace
}  // namespace vornic::testing
