// TelescopeControl end to end over a pseudo-terminal: the real serial port, the real command pipe
// and the real link, with the test playing the controller on the pty's master side.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "controller/Contract.h"
#include "controller/TelescopeControl.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "support/IdleWatchPipe.h"
#include "support/RecordingListener.h"

namespace vornic {
namespace {

using test::IdleWatchPipe;
using test::RecordingTelescopeListener;
using Bytes = std::vector<uint8_t>;

constexpr unsigned kPtyWait = 5000;

// The controller's end of the line.
class PtyMaster {
  public:
    PtyMaster() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
            return;
        }
        char name[128];
        if (::ptsname_r(fd_, name, sizeof name) != 0) {
            return;
        }
        slavePath_ = name;
        termios tio{};
        if (::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~PtyMaster() { close(); }

    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;

    [[nodiscard]] bool ok() const { return fd_ >= 0 && !slavePath_.empty(); }
    [[nodiscard]] const std::string& slavePath() const { return slavePath_; }

    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    void send(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(n, 0);
            done += static_cast<size_t>(n);
        }
    }

    // Up to `count` bytes, waiting at most `timeoutMs` for all of them.
    Bytes receive(size_t count, unsigned timeoutMs) {
        Bytes bytes;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd in{fd_, POLLIN, 0};
            if (::poll(&in, 1, static_cast<int>(left.count())) <= 0 || (in.revents & POLLIN) == 0) {
                break;
            }
            uint8_t buffer[64];
            const size_t want = std::min(sizeof buffer, count - bytes.size());
            const ssize_t n = ::read(fd_, buffer, want);
            if (n <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

  private:
    int fd_ = -1;
    std::string slavePath_;
};

double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

Bytes withLe32At(Bytes bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return bytes;
}

class TelescopeControlPtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(master.ok()) << "no pseudo-terminal available";
        ports.set(1, master.slavePath());
        ports.set(2, "/nonexistent/vornic-kz2");
        TelescopeControl::Options options;
        options.connectPauseMs = 0;
        auto watchedPipe = std::make_unique<IdleWatchPipe>();
        pipe = watchedPipe.get();
        options.pipe = std::move(watchedPipe);
        control = std::make_unique<TelescopeControl>(listener, platform::makeSerialPort(), ports,
                                                     std::move(options));
    }

    void expectRequest(const Bytes& request) {
        EXPECT_EQ(master.receive(request.size(), kPtyWait), request);
    }

    // Answers a handshake request and ticks until the next request is on the line; the link pauses
    // two ticks between requests.
    void answerThenExpect(const Bytes& reply, const Bytes& nextRequest) {
        master.send(reply);
        Bytes received;
        for (int i = 0; i < 100 && received.size() < nextRequest.size(); ++i) {
            control->onHeartBeat();
            const Bytes more = master.receive(nextRequest.size() - received.size(), 50);
            received.insert(received.end(), more.begin(), more.end());
        }
        EXPECT_EQ(received, nextRequest);
    }

    // Connects and runs a level-1 handshake to its settings report, the axis block carrying the
    // gear ratios given.
    void connectWithGearRatios(uint32_t ra, uint32_t de) {
        control->connect(1, 115200);
        expectRequest({0xAA, 0x01, 0x01});
        answerThenExpect({0x55, 0x05, 0x01, 0x00, 0x00, 0x01, 0x00}, {0xAA, 0x01, 0x03});
        answerThenExpect({0x55, 0x02, 0x03, 0x00}, {0xAA, 0x01, 0x02});
        answerThenExpect({0x55, 0x05, 0x02, 0x00, 0x00, 0x00, 0x01}, {0xAA, 0x01, 0x14});
        Bytes axisBlock(2 + 29, 0x00);
        axisBlock[0] = 0x55;
        axisBlock[1] = 0x1D;
        axisBlock[2] = 0x14;
        axisBlock = withLe32At(axisBlock, 2 + 3, ra);
        axisBlock = withLe32At(axisBlock, 2 + 16, de);
        answerThenExpect(axisBlock, {0xAA, 0x01, 0x15});
        Bytes settingsBlock(2 + 58, 0x00);
        settingsBlock[0] = 0x55;
        settingsBlock[1] = 0x3A;
        settingsBlock[2] = 0x15;
        master.send(settingsBlock);
        ASSERT_TRUE(listener.waitForReports(1, kPtyWait));
    }

    PtyMaster master;
    RecordingTelescopeListener listener;
    platform::PortTable ports;
    IdleWatchPipe* pipe = nullptr;  // owned by control
    std::unique_ptr<TelescopeControl> control;
};

TEST_F(TelescopeControlPtyTest, UnsupportedDeviceIsRejectedAndThePortReleased) {
    control->connect(1, 115200);
    ASSERT_TRUE(listener.waitForStatusCount(2, kPtyWait));
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2}));
    expectRequest({0xAA, 0x01, 0x01});

    master.send({0x55, 0x05, 0x01, 0x01, 0x00, 0x02, 0x00});
    ASSERT_TRUE(listener.waitForStatus(status::kIncompatibleDevice, kPtyWait));
    ASSERT_TRUE(pipe->waitReaderIdle(kPtyWait));
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 9}));

    // The device was closed, so it opens again.
    control->connect(1, 115200);
    ASSERT_TRUE(listener.waitForStatusCount(5, kPtyWait));
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 9, 1, 2}));
    expectRequest({0xAA, 0x01, 0x01});
}

TEST_F(TelescopeControlPtyTest, HandshakeAndControlBytesCrossTheLineIntact) {
    // Gear ratios full of bytes a terminal would like to interpret: CR, LF, XON, XOFF, 0xFF.
    connectWithGearRatios(0x130A0D11, 0x0000FF13);
    const auto reports = listener.reports();
    EXPECT_EQ(reports[0].kind, report::kConnected);
    EXPECT_EQ(reports[0].settings.gearRatio[0], 0x130A0D11u);
    EXPECT_EQ(reports[0].settings.gearRatio[1], 0xFF13u);

    control->setGearRatios(0x130A0D11, 0xFF13);
    expectRequest({0xAA, 0x0B, 0x1A, 0x01, 0xC0, 0x11, 0x0D, 0x0A, 0x13, 0x13, 0xFF, 0x00, 0x00});

    control->connect(1, 115200);
    control->disconnect();
    ASSERT_TRUE(listener.waitForStatus(status::kConnectionClosed, kPtyWait));
    ASSERT_TRUE(pipe->waitReaderIdle(kPtyWait));
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 11, 4}));
}

// A stop written just before the port closes must still reach the mount: closing lets the
// output drain first and discards only input. The far end reads nothing until the port has
// closed, so the last requests still wait in the line's buffer when the close comes.
TEST_F(TelescopeControlPtyTest, StopWrittenRightBeforeClosingReachesASlowFarEnd) {
    connectWithGearRatios(0, 0);

    // More than the far end's line buffer holds, so the tail waits in the pty's queue.
    constexpr size_t kMoves = 1000;
    for (size_t i = 0; i < kMoves; ++i) {
        control->startMove(direction::kWest, 0);
    }
    control->stopMove(direction::kBoth);
    control->disconnect();
    ASSERT_TRUE(listener.waitForStatus(status::kConnectionClosed, kPtyWait));
    ASSERT_TRUE(pipe->waitReaderIdle(kPtyWait));

    const Bytes received = master.receive(kMoves * 9 + 5, kPtyWait);
    ASSERT_EQ(received.size(), kMoves * 9 + 5);
    EXPECT_EQ(Bytes(received.end() - 5, received.end()), (Bytes{0xAA, 0x03, 0x21, 0x00, 0xC0}));
}

TEST_F(TelescopeControlPtyTest, MissingDeviceReportsSix) {
    control->connect(2, 115200);
    ASSERT_TRUE(listener.waitForStatusCount(2, kPtyWait));
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 6}));
    EXPECT_EQ(control->lastOpenError().error, platform::OpenError::NoSuchDevice);
}

TEST_F(TelescopeControlPtyTest, FarEndGoneDoesNotMakeTheReaderSpin) {
    control->connect(1, 115200);
    expectRequest({0xAA, 0x01, 0x01});
    master.close();

    const double before = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double used = processCpuSeconds() - before;
    EXPECT_LT(used, 0.2) << "CPU seconds used while the line was gone";

    // The hang-up is reported, and the port is closed without being asked.
    ASSERT_TRUE(listener.waitForStatus(status::kConnectionLost, kPtyWait));
    ASSERT_TRUE(pipe->waitReaderIdle(kPtyWait));
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, status::kConnectionLost}));
}

// A line that stops taking bytes (flow control held off at the far end): the stop cannot leave,
// which is said, never "Ready", and the port is closed.
TEST_F(TelescopeControlPtyTest, StopThatCannotLeaveAStalledLineIsReported) {
    // Opened before the program takes the line for itself; output on it is then held.
    const int line = ::open(master.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(line, 0);
    connectWithGearRatios(0, 0);
    control->startMove(direction::kWest, 3);
    EXPECT_EQ(master.receive(9, kPtyWait).size(), 9u);
    ASSERT_EQ(::tcflow(line, TCOOFF), 0);

    control->stopMove(direction::kBoth);
    EXPECT_TRUE(listener.waitForStatus(status::kSendFailed, kPtyWait));
    ASSERT_TRUE(pipe->waitReaderIdle(kPtyWait));
    const std::vector<StatusCode> statuses = listener.statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), status::kSendFailed);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), status::kReady), 0);
    ::tcflow(line, TCOON);
    ::close(line);
}

}  // namespace
}  // namespace vornic
