// The simulator on a real pseudo-terminal, talked to the way a serial program talks to a port.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "SimTestUtil.h"
#include "sim/PtySimulator.h"

namespace vornic::sim {
namespace {

using test::Bytes;
using test::openRaw;
using test::readFor;
using test::writeAll;

constexpr int kGenerousMs = 5000;

const Bytes kIdentity = {0xAA, 0x01, 0x01};
const Bytes kIdentityReply = {0x55, 0x05, 0x01, 0x01, 0x00, 0x01, 0x00};

SimSetup levelSix() {
    SimSetup s;
    (void)identityForLevel(6, s.identity);
    return s;
}

class Line {
  public:
    explicit Line(const std::string& path) : fd_(openRaw(path)) {}
    ~Line() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    [[nodiscard]] int fd() const { return fd_; }
    Bytes ask(const Bytes& request, size_t replySize) {
        EXPECT_TRUE(writeAll(fd_, request));
        return readFor(fd_, replySize, kGenerousMs).bytes;
    }

  private:
    int fd_;
};

TEST(SimPty, AnswersTheIdentityRequestOnTheSlaveDevice) {
    PtySimulator sim(levelSix());
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    ASSERT_FALSE(sim.slavePath().empty());
    Line line(sim.slavePath());
    ASSERT_GE(line.fd(), 0);
    EXPECT_EQ(line.ask(kIdentity, 7), kIdentityReply);
    EXPECT_EQ(line.ask({0xAA, 0x01, 0x15}, 60).size(), 60u);
    sim.stop();
    sim.stop();  // harmless twice
}

TEST(SimPty, TheHostCanCloseAndReopenThePort) {
    PtySimulator sim(levelSix());
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    for (int round = 0; round < 3; ++round) {
        Line line(sim.slavePath());
        ASSERT_GE(line.fd(), 0) << round;
        EXPECT_EQ(line.ask(kIdentity, 7), kIdentityReply) << round;
    }
    EXPECT_FALSE(sim.hungUp());
}

TEST(SimPty, LinkPointsAtTheDeviceAndGoesAwayOnStop) {
    const std::string link = ::testing::TempDir() + "kz2sim_link_" + std::to_string(::getpid());
    SimSetup setup = levelSix();
    setup.linkPath = link;
    {
        PtySimulator sim(std::move(setup));
        std::string error;
        ASSERT_TRUE(sim.start(error)) << error;
        char target[256] = {};
        ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(sim.slavePath(), target);
        Line line(link);
        EXPECT_EQ(line.ask(kIdentity, 7), kIdentityReply);
    }
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);

    // A regular file in the way is not clobbered.
    {
        FILE* f = std::fopen(link.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    SimSetup again = levelSix();
    again.linkPath = link;
    PtySimulator refused(std::move(again));
    std::string error;
    EXPECT_FALSE(refused.start(error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    std::remove(link.c_str());
}

TEST(SimPty, SplitRepliesTrickleInAtSerialSpeed) {
    SimSetup setup = levelSix();
    setup.faults.split = true;
    PtySimulator sim(std::move(setup));
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    Line line(sim.slavePath());
    ASSERT_TRUE(writeAll(line.fd(), {0xAA, 0x01, 0x15}));
    const test::ReadResult r = readFor(line.fd(), 60, kGenerousMs);
    ASSERT_EQ(r.bytes.size(), 60u);
    EXPECT_EQ(r.bytes[1], 58);
    // 59 gaps of at least a millisecond lie between the first byte and the last.
    ASSERT_GE(r.arrivalMs.size(), 2u);
    EXPECT_GE(r.arrivalMs.back() - r.arrivalMs.front(), 55);
    EXPECT_GT(r.reads, 1);
}

TEST(SimPty, GarbageComesBeforeTheRealReply) {
    SimSetup setup = levelSix();
    setup.faults.garbage = true;
    PtySimulator sim(std::move(setup));
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    Line line(sim.slavePath());
    ASSERT_TRUE(writeAll(line.fd(), kIdentity));
    // The reply ends in its own bytes; read until they are all there.
    Bytes got;
    const auto start = std::chrono::steady_clock::now();
    while (test::millisSince(start) < kGenerousMs &&
           (got.size() < kIdentityReply.size() ||
            !std::equal(kIdentityReply.rbegin(), kIdentityReply.rend(), got.rbegin()))) {
        const Bytes part = readFor(line.fd(), 1, kGenerousMs).bytes;
        got.insert(got.end(), part.begin(), part.end());
    }
    ASSERT_GT(got.size(), kIdentityReply.size());
    const size_t noise = got.size() - kIdentityReply.size();
    for (size_t i = 0; i < noise; ++i) {
        EXPECT_NE(got[i], 0x55);
    }
    EXPECT_EQ(Bytes(got.begin() + static_cast<long>(noise), got.end()), kIdentityReply);
}

TEST(SimPty, HangupAfterNRequestsDropsTheLine) {
    const std::string link = ::testing::TempDir() + "kz2sim_hup_" + std::to_string(::getpid());
    SimSetup setup = levelSix();
    setup.faults.hangupAfter = 2;
    setup.linkPath = link;
    PtySimulator sim(std::move(setup));
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    Line line(sim.slavePath());
    EXPECT_EQ(line.ask(kIdentity, 7), kIdentityReply);
    EXPECT_EQ(line.ask({0xAA, 0x01, 0x03}, 4), (Bytes{0x55, 0x02, 0x03, 0x01}));
    const test::ReadResult r = readFor(line.fd(), 1, kGenerousMs);
    EXPECT_TRUE(r.hungUp);
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_TRUE(sim.hungUp());
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);  // the device is gone, and so is its link
}

TEST(SimPty, SilentControllerSendsNothingBeforeTheLineDrops) {
    SimSetup setup = levelSix();
    setup.faults.silent = true;
    setup.faults.hangupAfter = 1;
    PtySimulator sim(std::move(setup));
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    Line line(sim.slavePath());
    ASSERT_TRUE(writeAll(line.fd(), kIdentity));
    const test::ReadResult r = readFor(line.fd(), 1, kGenerousMs);
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_TRUE(r.hungUp);
}

TEST(SimPty, StoreReachesTheHandlerOnTheSimulatorThread) {
    std::mutex m;
    std::condition_variable cv;
    int stores = 0;
    uint16_t stored = 0;
    SimSetup setup = levelSix();
    setup.onStore = [&](const ConfigImage& image) {
        std::lock_guard<std::mutex> lock(m);
        ++stores;
        stored = image.axis[kRa].maxSpeed;
        cv.notify_all();
        return true;
    };
    PtySimulator sim(std::move(setup));
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    Line line(sim.slavePath());
    EXPECT_EQ(line.ask({0xAA, 0x07, 0x35, 0x00, 0xC0, 0x2C, 0x01, 0x90, 0x01}, 3),
              (Bytes{0x55, 0x01, 0x35}));
    EXPECT_EQ(line.ask({0xAA, 0x02, 0x0D, 0x01}, 3), (Bytes{0x55, 0x01, 0x0D}));
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(
            cv.wait_for(lock, std::chrono::milliseconds(kGenerousMs), [&] { return stores == 1; }));
        EXPECT_EQ(stored, 300);
    }
    sim.stop();
    EXPECT_EQ(sim.controller().device().stored().axis[kDe].maxSpeed, 400);
}

}  // namespace
}  // namespace vornic::sim
