// The serial port against a real pseudo-terminal: the test holds the master side and plays the
// controller; the port under test opens the slave side like any serial device.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialPort.h"
#include "platform/Watchdog.h"

namespace vornic::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kGenerous = 5s;

class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            return;
        }
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0) {
            return;
        }
        // Leave the line the way a previous program might have: cooked, echoing, 7 bits with
        // parity, software flow control, CR/LF translation both ways. Opening the port must
        // undo all of it. (The master itself needs nothing: it starts raw.)
        const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) {
            return;
        }
        termios tio{};
        if (::tcgetattr(slave, &tio) == 0) {
            tio.c_iflag |= ICRNL | INLCR | IXON | IXOFF | ISTRIP | PARMRK | INPCK;
            tio.c_oflag |= OPOST | ONLCR;
            tio.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
            tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
            ::tcsetattr(slave, TCSANOW, &tio);
        }
        ::close(slave);
        slavePath_ = name;
    }
    ~PseudoTerminal() { closeMaster(); }

    [[nodiscard]] bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    [[nodiscard]] const char* slavePath() const { return slavePath_.c_str(); }

    void send(const std::vector<uint8_t>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(n, 0) << "master write failed, errno " << errno;
            done += static_cast<size_t>(n);
        }
    }

    // What the port sent, up to `count` bytes, waiting at most a generous time.
    [[nodiscard]] std::vector<uint8_t> receive(size_t count) const {
        std::vector<uint8_t> out;
        const auto deadline = Clock::now() + kGenerous;
        while (out.size() < count && Clock::now() < deadline) {
            pollfd in{master_, POLLIN, 0};
            if (::poll(&in, 1, 100) <= 0) {
                continue;
            }
            uint8_t buffer[256];
            const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - out.size()));
            if (n <= 0) {
                break;
            }
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};

// Reads through the port until `count` bytes are in, in reads of at most `max`.
std::vector<uint8_t> readThrough(SerialPort& port, size_t count, size_t max) {
    testing::Watchdog watchdog(kGenerous, [&port] { port.signalStop(); });
    std::vector<uint8_t> out;
    std::vector<uint8_t> buffer(max);
    while (out.size() < count) {
        const ReadResult result = port.read(buffer.data(), max);
        if (result.status != ReadStatus::Data) {
            break;
        }
        EXPECT_GE(result.count, 1u);
        EXPECT_LE(result.count, max);
        out.insert(out.end(), buffer.begin(),
                   buffer.begin() + static_cast<ptrdiff_t>(std::min(result.count, max)));
    }
    EXPECT_FALSE(watchdog.fired()) << "only " << out.size() << " of " << count << " bytes came";
    port.resetStop();
    return out;
}

// One read that may block; a read that never returns is turned into a failed expectation.
ReadResult readOnce(SerialPort& port, uint8_t* buffer, size_t max) {
    testing::Watchdog watchdog(kGenerous, [&port] { port.signalStop(); });
    const ReadResult result = port.read(buffer, max);
    EXPECT_FALSE(watchdog.fired()) << "the read did not return";
    if (watchdog.fired()) {
        port.resetStop();
    }
    return result;
}

std::vector<uint8_t> everyByteValue() {
    std::vector<uint8_t> bytes(256);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    return bytes;
}

double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal available";
        const OpenResult opened = port_->open(pty_.slavePath(), 115200);
        ASSERT_TRUE(opened.ok()) << opened.detail;
    }

    PseudoTerminal pty_;
    std::unique_ptr<SerialPort> port_ = makeSerialPort();
};

TEST_F(SerialPortTest, EveryByteValuePassesUnchangedBothWays) {
    // Control characters a cooked tty would eat or rewrite: CR, LF, XON, XOFF, DEL, 0xFF.
    const auto bytes = everyByteValue();
    pty_.send(bytes);
    EXPECT_EQ(readThrough(*port_, bytes.size(), 128), bytes);

    std::vector<uint8_t> reversed(bytes.rbegin(), bytes.rend());
    ASSERT_TRUE(port_->write(reversed.data(), reversed.size(), 1000));
    EXPECT_EQ(pty_.receive(reversed.size()), reversed);
}

TEST_F(SerialPortTest, ReadsEndAtMaxOrWhenTheLineGoesQuiet) {
    std::vector<uint8_t> burst(300);
    for (size_t i = 0; i < burst.size(); ++i) {
        burst[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    pty_.send(burst);
    EXPECT_EQ(readThrough(*port_, burst.size(), 64), burst);

    // A short run is handed over once the line is quiet, without waiting for `max`.
    pty_.send({0x55, 0x03, 0x01});
    uint8_t buffer[128];
    const ReadResult first = readOnce(*port_, buffer, sizeof buffer);
    ASSERT_EQ(first.status, ReadStatus::Data);
    EXPECT_EQ(first.count, 3u);
    pty_.send({0x02, 0x03});
    const ReadResult second = readOnce(*port_, buffer, sizeof buffer);
    ASSERT_EQ(second.status, ReadStatus::Data);
    ASSERT_EQ(second.count, 2u);
    EXPECT_EQ(buffer[0], 0x02);
}

TEST_F(SerialPortTest, StopEndsAWaitingReadAndStaysSetUntilReset) {
    auto reader = std::async(std::launch::async, [this] {
        uint8_t buffer[16];
        return port_->read(buffer, sizeof buffer).status;
    });
    EXPECT_EQ(reader.wait_for(20ms), std::future_status::timeout)
        << "read returned on a quiet line";
    port_->signalStop();
    if (reader.wait_for(kGenerous) != std::future_status::ready) {
        pty_.closeMaster();  // end the read some other way so that the test can fail, not hang
        FAIL() << "the stop did not end the read";
    }
    EXPECT_EQ(reader.get(), ReadStatus::Stopped);

    // Still set: a later read ends at once, even with data waiting.
    pty_.send({0x42});
    uint8_t buffer[16];
    EXPECT_EQ(readOnce(*port_, buffer, sizeof buffer).status, ReadStatus::Stopped);

    port_->resetStop();
    const ReadResult after = readOnce(*port_, buffer, sizeof buffer);
    EXPECT_EQ(after.status, ReadStatus::Data);
    EXPECT_EQ(after.count, 1u);
    EXPECT_EQ(buffer[0], 0x42);
}

TEST_F(SerialPortTest, LostLineFailsTheReadThenWaitForStopSleeps) {
    auto reader = std::async(std::launch::async, [this] {
        uint8_t buffer[16];
        return port_->read(buffer, sizeof buffer);
    });
    EXPECT_EQ(reader.wait_for(20ms), std::future_status::timeout);
    pty_.closeMaster();  // the adapter is pulled out
    if (reader.wait_for(kGenerous) != std::future_status::ready) {
        port_->signalStop();
        FAIL() << "losing the line did not end the read";
    }
    const ReadResult lost = reader.get();
    EXPECT_EQ(lost.status, ReadStatus::Failed);
    EXPECT_EQ(lost.count, 0u);

    // Writing to a dead line fails instead of blocking.
    const uint8_t frame[] = {0xAA, 0x02, 0x0D, 0x01};
    const auto writeStart = Clock::now();
    EXPECT_FALSE(port_->write(frame, sizeof frame, 1000));
    EXPECT_LT(Clock::now() - writeStart, 1500ms);

    auto waiter = std::async(std::launch::async, [this] { port_->waitForStop(); });
    const double cpuBefore = processCpuSeconds();
    EXPECT_EQ(waiter.wait_for(1s), std::future_status::timeout) << "waitForStop returned unasked";
    const double cpuUsed = processCpuSeconds() - cpuBefore;
    EXPECT_LT(cpuUsed, 0.1) << "waiting for the stop used " << cpuUsed << " s of CPU";

    port_->signalStop();
    EXPECT_EQ(waiter.wait_for(kGenerous), std::future_status::ready);
    port_->close();
    port_->close();
    EXPECT_FALSE(port_->isOpen());
}

TEST_F(SerialPortTest, WriteGivesUpAtItsTimeOutWhenNobodyReads) {
    // Far more than the terminal's queues hold; the master never reads.
    std::vector<uint8_t> flood(1 << 20, 0x5A);
    const auto start = Clock::now();
    EXPECT_FALSE(port_->write(flood.data(), flood.size(), 100));
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 90ms);
    EXPECT_LT(took, 2s);
}

TEST_F(SerialPortTest, OpenFailuresAreToldApart) {
    // The port is held by the fixture: a second open, in this process too, finds it busy.
    auto second = makeSerialPort();
    const OpenResult busy = second->open(pty_.slavePath(), 115200);
    EXPECT_EQ(busy.error, OpenError::Busy);
    EXPECT_NE(busy.systemError, 0);
    if (::access("/proc/self/fd", R_OK) == 0) {
        EXPECT_NE(std::string(busy.detail).find("pid " + std::to_string(::getpid())),
                  std::string::npos)
            << busy.detail;
    }
    EXPECT_FALSE(second->isOpen());
    // The same object refuses a second open while it holds a port.
    EXPECT_FALSE(port_->open(pty_.slavePath(), 115200).ok());
    EXPECT_FALSE(port_->open(nullptr, 115200).ok());
    EXPECT_TRUE(port_->isOpen());

    // Once released, the device can be opened again.
    port_->close();
    EXPECT_FALSE(port_->isOpen());
    const OpenResult reopened = second->open(pty_.slavePath(), 9600);
    EXPECT_TRUE(reopened.ok()) << reopened.detail;
    second->close();

    auto port = makeSerialPort();
    const OpenResult missing = port->open("/dev/vornic-no-such-port", 115200);
    EXPECT_EQ(missing.error, OpenError::NoSuchDevice);
    EXPECT_EQ(missing.systemError, ENOENT);
    EXPECT_NE(std::string(missing.detail).find("/dev/vornic-no-such-port"), std::string::npos);

    EXPECT_EQ(port->open("", 115200).error, OpenError::NoSuchDevice);
    EXPECT_EQ(port->open(nullptr, 115200).error, OpenError::NoSuchDevice);
    EXPECT_EQ(port->open("/dev/null", 115200).error, OpenError::NotATerminal);
    EXPECT_EQ(port->open(pty_.slavePath(), 12345).error, OpenError::BadBaudRate);
    EXPECT_FALSE(port->isOpen());

    // Root may open anything, so the permission case can only be seen as an ordinary user.
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(pty_.slavePath(), 0), 0);
        const OpenResult denied = port->open(pty_.slavePath(), 115200);
        EXPECT_EQ(denied.error, OpenError::PermissionDenied);
        EXPECT_NE(std::string(denied.detail).find("dialout"), std::string::npos);
    }
}

TEST(SerialPortClosed, ReadWriteAndStopOnAClosedPortNeitherBlockNorCrash) {
    auto port = makeSerialPort();
    uint8_t buffer[4];
    EXPECT_EQ(port->read(buffer, sizeof buffer).status, ReadStatus::Failed);
    EXPECT_FALSE(port->write(buffer, sizeof buffer, 10));
    port->signalStop();
    EXPECT_EQ(port->read(buffer, sizeof buffer).status, ReadStatus::Stopped);
    port->waitForStop();  // set, so returns at once
    port->close();
}

}  // namespace
}  // namespace vornic::platform
