// The serial port against a real pseudo-terminal: the test holds the master side and plays the
// controller; the port under test opens the slave side like any serial device.

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/SerialPort.h"
#include "platform/Watchdog.h"
#include "platform/posix/BusyOwner.h"

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

TEST_F(SerialPortTest, AFrameWrittenJustBeforeACloseLeavesDespiteAnOpenRightAfter) {
    // The terminal hands written bytes on to its far end a moment later; neither the close nor
    // the next open may discard them meanwhile. Many rounds, since each loses them only by chance.
    std::vector<uint8_t> sent;
    for (int round = 0; round < 200; ++round) {
        const uint8_t frame[] = {0xAA, 0x02, 0x35, static_cast<uint8_t>(round)};
        ASSERT_TRUE(port_->write(frame, sizeof frame, 1000));
        sent.insert(sent.end(), std::begin(frame), std::end(frame));
        port_->close();
        ASSERT_TRUE(port_->open(pty_.slavePath(), 115200).ok());
    }
    EXPECT_EQ(pty_.receive(sent.size()), sent);
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

// Processes forked to hold the device in some way while the test looks on. Each reports whether
// it got its hold and keeps it until the group is released, or until the test process goes away
// (the release pipe then reads as ended). Children only ever leave through _exit, so nothing of
// the test framework runs twice.
class Children {
  public:
    Children() {
        if (::pipe2(release_, O_CLOEXEC) != 0) {
            release_[0] = release_[1] = -1;
        }
    }
    ~Children() {
        if (release_[1] >= 0) {
            ::close(release_[1]);
        }
        for (const pid_t pid : pids_) {
            reap(pid);
        }
        if (release_[0] >= 0) {
            ::close(release_[0]);
        }
    }
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;

    // Runs take() in a new process that then holds on; its pid once it reports success, else -1.
    pid_t spawn(const std::function<bool()>& take) {
        const std::string answer = run([&take] { return std::string(take() ? "1" : "0"); }, true);
        return answer == "1" ? pids_.back() : -1;
    }

    // Runs ask() in a new process and returns what it answers; the process then ends.
    std::string ask(const std::function<std::string()>& question) { return run(question, false); }

  private:
    std::string run(const std::function<std::string()>& work, bool hold) {
        int answer[2];
        if (release_[0] < 0 || ::pipe2(answer, O_CLOEXEC) != 0) {
            return {};
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(release_[1]);
            ::close(answer[0]);
            const std::string text = work();
            [[maybe_unused]] const ssize_t n = ::write(answer[1], text.data(), text.size());
            ::close(answer[1]);
            if (hold) {
                char byte = 0;
                while (::read(release_[0], &byte, 1) != 0 && errno == EINTR) {
                }
            }
            ::_exit(0);
        }
        ::close(answer[1]);
        std::string text;
        if (pid > 0) {
            pids_.push_back(pid);
            const auto deadline = Clock::now() + kGenerous;
            while (Clock::now() < deadline) {
                pollfd in{answer[0], POLLIN, 0};
                if (::poll(&in, 1, 100) <= 0) {
                    continue;
                }
                char buffer[256];
                const ssize_t n = ::read(answer[0], buffer, sizeof buffer);
                if (n <= 0) {
                    break;  // the child has answered in full
                }
                text.append(buffer, static_cast<size_t>(n));
            }
        }
        ::close(answer[0]);
        return text;
    }

    static void reap(pid_t pid) {
        const auto deadline = Clock::now() + kGenerous;
        while (::waitpid(pid, nullptr, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ADD_FAILURE() << "child " << pid << " did not let go; killed";
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
                return;
            }
            ::poll(nullptr, 0, 5);
        }
    }

    int release_[2] = {-1, -1};
    std::vector<pid_t> pids_;
};

bool renameThisProcess(const char* name) {
    return ::prctl(PR_SET_NAME, name, 0, 0, 0) == 0;
}

// Root may open a tty that another program made exclusive, so to see that refusal a child has to
// give up root first. It stays inspectable through /proc by others of the same user.
bool becomeOrdinaryUser() {
    if (::geteuid() != 0) {
        return true;
    }
    constexpr uid_t kNobody = 65534;
    [[maybe_unused]] const int ignored = ::setgroups(0, nullptr);
    return ::setresgid(kNobody, kNobody, kNobody) == 0 &&
           ::setresuid(kNobody, kNobody, kNobody) == 0 && ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0) == 0;
}

std::string pidText(pid_t pid) {
    return "(pid " + std::to_string(pid) + ")";
}

TEST(SerialPortBusy, NamesTheProgramHoldingTheLockNotOneMerelyHavingItOpen) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    const std::string path = pty.slavePath();
    Children children;
    // Spawned first so that a look-up going by open descriptors in process order meets it first,
    // as it would a simulator keeping the other end of the line open.
    const pid_t bystander = children.spawn([&path] {
        return renameThisProcess("bystander") && ::open(path.c_str(), O_RDWR | O_NOCTTY) >= 0;
    });
    ASSERT_GT(bystander, 0);
    std::unique_ptr<SerialPort> heldInChild;
    const pid_t holder = children.spawn([&] {
        heldInChild = makeSerialPort();
        return renameThisProcess("vornic-holder") && heldInChild->open(path.c_str(), 115200).ok();
    });
    ASSERT_GT(holder, 0);

    auto port = makeSerialPort();
    const OpenResult busy = port->open(path.c_str(), 115200);
    EXPECT_EQ(busy.error, OpenError::Busy);
    EXPECT_FALSE(port->isOpen());
    const std::string detail = busy.detail;
    EXPECT_NE(detail.find("vornic-holder " + pidText(holder)), std::string::npos) << detail;
    EXPECT_EQ(detail.find(pidText(bystander)), std::string::npos) << detail;
    EXPECT_NE(detail.find(path), std::string::npos) << detail;
}

TEST(SerialPortBusy, WithoutALockNamesTheOthersHavingTheDeviceOpenButNotItself) {
    PseudoTerminal pty;
    ASSERT_TRUE(pty.ok());
    const std::string path = pty.slavePath();
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    // Inherited by every child from here on, so the one that tries the port has the device open
    // itself and must leave itself out.
    const int inherited = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(inherited, 0);
    Children children;
    // Exclusive through the tty alone, with no flock: what a terminal program does.
    const pid_t exclusive = children.spawn([&path, &pty] {
        pty.closeMaster();  // a terminal program has no hold on the line's far end
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        return fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 && renameThisProcess("vornic-excl") &&
               becomeOrdinaryUser();
    });
    if (exclusive < 0) {
        ::close(inherited);
        GTEST_SKIP() << "could not set up a process holding the tty as an ordinary user";
    }
    const std::string answer = children.ask([&path] {
        if (!becomeOrdinaryUser()) {
            return std::string("skip");
        }
        const OpenResult busy = makeSerialPort()->open(path.c_str(), 115200);
        return std::to_string(::getpid()) + "|" + std::to_string(static_cast<int>(busy.error)) +
               "|" + busy.detail;
    });
    ::close(inherited);
    if (answer == "skip") {
        GTEST_SKIP() << "could not give up root in a child";
    }
    const size_t first = answer.find('|');
    const size_t second = answer.find('|', first + 1);
    ASSERT_NE(second, std::string::npos) << answer;
    const auto opener = static_cast<pid_t>(std::stol(answer.substr(0, first)));
    EXPECT_EQ(answer.substr(first + 1, second - first - 1),
              std::to_string(static_cast<int>(OpenError::Busy)))
        << answer;
    const std::string detail = answer.substr(second + 1);
    EXPECT_NE(detail.find("vornic-excl " + pidText(exclusive)), std::string::npos) << detail;
    EXPECT_EQ(detail.find(pidText(opener)), std::string::npos) << detail;
}

// A program that has the line open without a lock (a terminal program, `cat`) would take the
// controller's replies, so the open is refused and names it; the far end of a pseudo-terminal (a
// simulator holding its master side, and its slave to keep the line up) is no such program.
TEST(SerialPortBusy, RefusesALineAnotherProgramHasOpenButNotItsFarEnd) {
    PseudoTerminal shared;
    PseudoTerminal simulated;
    ASSERT_TRUE(shared.ok() && simulated.ok());
    const std::string sharedPath = shared.slavePath();
    const std::string simulatedPath = simulated.slavePath();
    Children children;
    const pid_t reader = children.spawn([&] {
        // Leaves the master side to the test, as `cat` on a real device would have none.
        shared.closeMaster();
        return renameThisProcess("vornic-cat") &&
               ::open(sharedPath.c_str(), O_RDWR | O_NOCTTY) >= 0;
    });
    ASSERT_GT(reader, 0);
    const pid_t simulator = children.spawn([&] {
        return renameThisProcess("vornic-sim") &&
               ::open(simulatedPath.c_str(), O_RDWR | O_NOCTTY) >= 0;
    });
    ASSERT_GT(simulator, 0);

    auto port = makeSerialPort();
    const OpenResult busy = port->open(sharedPath.c_str(), 115200);
    EXPECT_EQ(busy.error, OpenError::Busy);
    EXPECT_FALSE(port->isOpen());
    EXPECT_NE(std::string(busy.detail).find("vornic-cat " + pidText(reader)), std::string::npos)
        << busy.detail;
    EXPECT_TRUE(port->open(simulatedPath.c_str(), 115200).ok());
}

// The lock table as the kernel writes it; the device sought is 00:1a, inode 3.
class LockTable : public ::testing::Test {
  protected:
    long holderIn(const std::string& table) {
        std::string path = ::testing::TempDir() + "vornic-locks-XXXXXX";
        const int fd = ::mkstemp(path.data());
        if (fd < 0) {
            ADD_FAILURE() << "no temporary file";
            return -1;
        }
        const bool written =
            ::write(fd, table.data(), table.size()) == static_cast<ssize_t>(table.size());
        ::close(fd);
        EXPECT_TRUE(written);
        const long holder = flockHolderIn(path.c_str(), 0x00, 0x1a, 3);
        ::unlink(path.c_str());
        return holder;
    }
};

TEST_F(LockTable, OnlyAnExclusiveFlockOnThatVeryInodeCounts) {
    const std::string table =
        "1: POSIX  ADVISORY  WRITE 101 00:1a:3 0 EOF\n"
        "2: FLOCK  ADVISORY  READ  102 00:1a:3 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 103 00:1a:4 0 EOF\n"
        "4: FLOCK  ADVISORY  WRITE 104 00:26:3 0 EOF\n"  // the numbers are hex: 0x26 is not 26
        "5: FLOCK  ADVISORY  WRITE 105 01:1a:3 0 EOF\n"
        "6: OFDLCK ADVISORY  WRITE -1 00:1a:3 0 EOF\n"
        "7: FLOCK  ADVISORY  WRITE 107 00:1a:31 0 EOF\n"
        "8: -> FLOCK  ADVISORY  WRITE 108 00:1a:3 0 EOF\n"  // waiting for the lock, not holding it
        "9: FLOCK  ADVISORY  WRITE 109 00:1a:3 0 EOF\n";
    EXPECT_EQ(holderIn(table), 109);
    EXPECT_EQ(holderIn(table.substr(0, table.rfind("9:"))), 0);
}

TEST_F(LockTable, MalformedLinesAreSkippedAndTheTableIsReadAcrossItsWholeLength) {
    std::string table =
        "FLOCK  ADVISORY  WRITE 201 00:1a:3 0 EOF\n"
        "x: FLOCK  ADVISORY  WRITE 202 00:1a:3 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE -203 00:1a:3 0 EOF\n"
        "4: FLOCK  ADVISORY  WRITE 0 00:1a:3 0 EOF\n"
        "5: FLOCK  ADVISORY  WRITE 99999999999999999999999 00:1a:3 0 EOF\n"
        "6: FLOCK  ADVISORY  WRITE 206 00:1a:3x 0 EOF\n"
        "7: FLOCK  ADVISORY  WRITE 207 00:1a\n"
        "8: FLOCK  ADVISORY  WRITE 208 00::3 0 EOF\n"
        "9: FLOCK  ADVISORY  WRITE 209 g0:1a:3 0 EOF\n"
        "10: FLOCK  ADVISORY  WRITE 210 00:1a:99999999999999999999999 0 EOF\n"
        "11: FLOCK  ADVISORY  WRITE\n"
        "\n\t \n"
        "12: FLOCK\tADVISORY\tWRITE\t\t212\t00:1a:2 0 EOF\n";
    // An overlong line is dropped whole: neither its start nor anything after the point where a
    // line buffer would fill up passes for a line of its own.
    table += "13: FLOCK  ADVISORY  WRITE 213 00:1a:3 0 EOF" + std::string(400, ' ') +
             "14: FLOCK  ADVISORY  WRITE 214 00:1a:3 0 EOF\n";
    // Enough other locks that the holder's line lies well past the first read.
    for (int i = 0; i < 400; ++i) {
        table += std::to_string(i + 20) + ": FLOCK  ADVISORY  WRITE " + std::to_string(i + 1000) +
                 " 00:1a:" + std::to_string(i + 100) + " 0 EOF\n";
    }
    EXPECT_EQ(holderIn(table), 0);
    // The last line may lack its newline.
    EXPECT_EQ(holderIn(table + "99: FLOCK\tADVISORY WRITE 4321 0:1a:3 0 EOF"), 4321);
    EXPECT_EQ(holderIn(""), 0);
    EXPECT_EQ(flockHolderIn("/nonexistent/vornic-locks", 0x00, 0x1a, 3), 0);
}

}  // namespace
}  // namespace vornic::platform
