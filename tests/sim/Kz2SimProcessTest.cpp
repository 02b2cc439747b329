// The kz2-sim executable as a user runs it: path on stdout, serves until SIGTERM, keeps its
// stored settings in the state file across runs, refuses bad input with status 2.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SimTestUtil.h"
#include "sim/StateFile.h"

extern char** environ;

namespace vornic::sim {
namespace {

using test::Bytes;
using test::readFor;
using test::writeAll;

constexpr int kGenerousMs = 10000;
constexpr int kExitLimitMs = 30000;

std::string simPath() {
#ifdef VORNIC_KZ2_SIM_PATH
    return VORNIC_KZ2_SIM_PATH;
#else
    return "kz2-sim";
#endif
}

// A running kz2-sim with pipes on its stdout and stderr.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> all = {simPath()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, all[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }

    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
        if (err_ >= 0) {
            ::close(err_);
        }
    }

    [[nodiscard]] bool started() const { return pid_ > 0; }

    // The first line on stdout, without its newline; empty if none came in time.
    std::string firstLine() {
        std::string line;
        while (line.empty() || line.back() != '\n') {
            const Bytes b = readFor(out_, 1, kGenerousMs).bytes;
            if (b.empty()) {
                return {};
            }
            line.append(b.begin(), b.end());
        }
        return line.substr(0, line.find('\n'));
    }

    void signal(int sig) { ::kill(pid_, sig); }

    // Waits for the process to end (its stdout and stderr close), collects stderr, returns the exit
    // status, or -1 if it did not exit normally in time. An exit slower than kGenerousMs is
    // tolerated up to kExitLimitMs but described on stderr (what each thread was waiting in), so
    // that a rare slow exit seen on a loaded machine can be told from a hang in our own code.
    int wait() {
        if (pid_ <= 0) {
            return -1;
        }
        const auto start = std::chrono::steady_clock::now();
        bool described = false;
        for (int fd : {out_, err_}) {
            bool hungUp = false;
            while (!hungUp) {
                const int64_t spent = test::millisSince(start);
                if (spent >= kExitLimitMs) {
                    return -1;  // still running: the destructor kills it
                }
                if (spent >= kGenerousMs && !described) {
                    described = true;
                    std::fprintf(stderr,
                                 "kz2-sim still running %lld ms after the request to end:\n%s",
                                 static_cast<long long>(spent), threadStates().c_str());
                }
                const test::ReadResult r = readFor(fd, 1 << 16, 1000);
                if (fd == err_) {
                    stderr_.append(r.bytes.begin(), r.bytes.end());
                }
                hungUp = r.hungUp;
            }
        }
        int status = 0;
        if (::waitpid(pid_, &status, 0) != pid_) {
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    [[nodiscard]] const std::string& errors() const { return stderr_; }

  private:
    // Each thread's name, state and kernel wait channel, as /proc shows them.
    std::string threadStates() const {
        std::string out;
        const std::string task = "/proc/" + std::to_string(pid_) + "/task/";
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(task, ignored)) {
            const std::string dir = entry.path().string() + "/";
            std::string stat;
            std::string wchan;
            std::getline(std::ifstream(dir + "stat"), stat);
            std::getline(std::ifstream(dir + "wchan"), wchan);
            out += "  " + stat.substr(0, 60) + " wchan=" + wchan + "\n";
        }
        return out;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string stderr_;
};

std::string tempPath(const char* name) {
    return ::testing::TempDir() + "kz2sim_proc_" + std::to_string(::getpid()) + "_" + name;
}

Bytes askOn(const std::string& device, const Bytes& request, size_t replySize) {
    const int fd = test::openRaw(device);
    if (fd < 0) {
        return {};
    }
    Bytes reply;
    if (writeAll(fd, request)) {
        reply = readFor(fd, replySize, kGenerousMs).bytes;
    }
    ::close(fd);
    return reply;
}

TEST(Kz2SimProcess, ServesUntilSigtermAndExitsCleanly) {
    SimProcess sim({"--level", "0"});
    ASSERT_TRUE(sim.started());
    const std::string device = sim.firstLine();
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << device;
    EXPECT_EQ(askOn(device, {0xAA, 0x01, 0x01}, 5), (Bytes{0x55, 0x03, 0x01, 0x01, 0x01}));
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(), 0) << sim.errors();
}

TEST(Kz2SimProcess, StoredSettingsSurviveARestart) {
    const std::string state = tempPath("state.json");
    std::remove(state.c_str());
    {
        SimProcess sim({"--state", state, "--level", "5", "--trace"});
        const std::string device = sim.firstLine();
        ASSERT_FALSE(device.empty()) << sim.errors();
        // RA max speed 300, DE 400, then store.
        EXPECT_EQ(askOn(device, {0xAA, 0x07, 0x35, 0x00, 0xC0, 0x2C, 0x01, 0x90, 0x01}, 3),
                  (Bytes{0x55, 0x01, 0x35}));
        EXPECT_EQ(askOn(device, {0xAA, 0x02, 0x0D, 0x01}, 3), (Bytes{0x55, 0x01, 0x0D}));
        sim.signal(SIGINT);
        EXPECT_EQ(sim.wait(), 0) << sim.errors();
        EXPECT_NE(sim.errors().find("host -> AA 02 0D 01"), std::string::npos) << sim.errors();
    }
    {
        SimProcess sim({"--state", state});
        const std::string device = sim.firstLine();
        ASSERT_FALSE(device.empty()) << sim.errors();
        const Bytes s = askOn(device, {0xAA, 0x01, 0x15}, 60);
        ASSERT_EQ(s.size(), 60u);
        EXPECT_EQ(test::payload16(s, 4), 300);
        EXPECT_EQ(test::payload16(s, 31), 400);
        sim.signal(SIGTERM);
        EXPECT_EQ(sim.wait(), 0) << sim.errors();
    }
    std::remove(state.c_str());
}

TEST(Kz2SimProcess, ABadStateFileStopsItWithStatusTwo) {
    const std::string state = tempPath("bad.json");
    std::string text = stateToJson(factoryImage());
    const std::string field = "\"mountType\": 0";
    ASSERT_NE(text.find(field), std::string::npos);
    text.replace(text.find(field), field.size(), "\"mountType\": \"german\"");
    {
        std::ofstream out(state);
        out << text;
    }
    SimProcess sim({"--state", state});
    ASSERT_TRUE(sim.started());
    EXPECT_EQ(sim.wait(), 2);
    EXPECT_NE(sim.errors().find("field \"mountType\""), std::string::npos) << sim.errors();
    std::ifstream in(state);
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), text);
    std::remove(state.c_str());
}

TEST(Kz2SimProcess, BadOptionsStopItWithStatusTwo) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--level", "7"},
                                               {"--fault", "loud"},
                                               {"--firmware", "0x1FFFFFFFF"},
                                               {"--old", "1"},
                                               {"--old", "1,1", "--hardware-type", "1"},
                                               {"--no-such-option"}}) {
        SimProcess sim(args);
        ASSERT_TRUE(sim.started());
        EXPECT_EQ(sim.wait(), 2) << args[0];
        EXPECT_FALSE(sim.errors().empty()) << args[0];
    }
}

TEST(Kz2SimProcess, IdentityOptionsShapeTheIdentityReplies) {
    SimProcess sim({"--hardware-type", "5", "--firmware", "0x01000005", "--port-type", "7",
                    "--fault", "truncate=0x3D"});
    const std::string device = sim.firstLine();
    ASSERT_FALSE(device.empty()) << sim.errors();
    const Bytes id = askOn(device, {0xAA, 0x01, 0x01}, 7);
    ASSERT_EQ(id.size(), 7u);
    EXPECT_EQ(test::payload32(id, 1) >> 16, 5u);
    EXPECT_EQ(test::payload32(askOn(device, {0xAA, 0x01, 0x02}, 7), 1), 0x01000005u);
    EXPECT_EQ(askOn(device, {0xAA, 0x01, 0x03}, 4), (Bytes{0x55, 0x02, 0x03, 0x07}));
    EXPECT_EQ(askOn(device, {0xAA, 0x01, 0x3D}, 4), (Bytes{0x55, 0x02, 0x3D, 0x00}));
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
}

}  // namespace
}  // namespace vornic::sim
