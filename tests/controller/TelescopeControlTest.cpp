// TelescopeControl with its real worker and reader threads, the real ControllerLink, a scripted
// serial port and a command pipe that records every write. Tests synchronise by waiting for the
// worker and the reader to go idle, never by sleeping.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controller/Contract.h"
#include "controller/TelescopeControl.h"
#include "platform/CommandPipe.h"
#include "platform/PortTable.h"
#include "support/FakeSerialPort.h"
#include "support/IdleWatchPipe.h"
#include "support/RecordingListener.h"

namespace vornic {
namespace {

using test::FakeSerialPort;
using test::IdleWatchPipe;
using test::RecordingTelescopeListener;
using Bytes = std::vector<uint8_t>;

constexpr unsigned kReportWait = 5000;
constexpr uint32_t kLevel1Firmware = 0x01000000;
constexpr uint32_t kLevel3Firmware = 0x01000002;

// The platform's pipe, with every write recorded whole, and a way for a test to put raw bytes
// into it as if a writer had.
class RecordingPipe final : public platform::CommandPipe {
  public:
    explicit RecordingPipe(size_t capacity) : inner_(std::make_unique<IdleWatchPipe>(capacity)) {}

    bool write(const uint8_t* bytes, size_t count) override {
        const bool written = inner_->write(bytes, count);
        if (written) {
            std::lock_guard lock(mutex_);
            writes_.emplace_back(bytes, bytes + count);
        }
        return written;
    }
    bool write(const uint8_t* bytes, size_t count, const std::atomic<bool>& abandon) override {
        const bool written = inner_->write(bytes, count, abandon);
        if (written) {
            std::lock_guard lock(mutex_);
            writes_.emplace_back(bytes, bytes + count);
        }
        return written;
    }
    void wakeWriters() override { inner_->wakeWriters(); }
    size_t read(uint8_t* buffer, size_t max) override { return inner_->read(buffer, max); }
    void signalStop() override { inner_->signalStop(); }
    void close() override { inner_->close(); }
    [[nodiscard]] bool waitReaderIdle(unsigned timeoutMs) {
        if (!inner_->waitReaderIdle(timeoutMs)) {
            return false;
        }
        // With idle ticks left out, the next tick must meet the reader blocked on the empty pipe,
        // not merely on its way there. A pipe that cannot tell stays on its way until the time-out.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (tellsIdle.load() && !inner_->readerWaitingOnEmpty() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return true;
    }
    // Off unless a test asks: then ticks the link does not need are not written at all.
    bool readerWaitingOnEmpty() override {
        return tellsIdle.load() && inner_->readerWaitingOnEmpty();
    }
    std::atomic<bool> tellsIdle{false};

    std::vector<Bytes> writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        writes_.clear();
    }
    // Serial-data messages only (kind 2), in pipe order.
    std::vector<Bytes> serialWrites() const {
        std::vector<Bytes> result;
        for (const Bytes& message : writes()) {
            if (!message.empty() && (message[0] & 0xE0) == 0xC0) {
                result.push_back(message);
            }
        }
        return result;
    }

  private:
    std::unique_ptr<IdleWatchPipe> inner_;
    mutable std::mutex mutex_;
    std::vector<Bytes> writes_;
};

Bytes withLe32(Bytes bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    return bytes;
}

Bytes sequence(size_t count, uint8_t first = 1) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(first + i);
    }
    return bytes;
}

class TelescopeControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ports.set(1, "/dev/fake-kz2");
        ports.set(256, "/dev/fake-kz2-256");
        create();
    }

    void create(size_t pipeCapacity = platform::CommandPipe::kDefaultCapacity,
                unsigned connectPauseMs = 0) {
        control.reset();
        auto fakePort = std::make_unique<FakeSerialPort>();
        auto recordingPipe = std::make_unique<RecordingPipe>(pipeCapacity);
        port = fakePort.get();
        pipe = recordingPipe.get();
        TelescopeControl::Options options;
        options.connectPauseMs = connectPauseMs;
        options.pipe = std::move(recordingPipe);
        control = std::make_unique<TelescopeControl>(listener, std::move(fakePort), ports,
                                                     std::move(options));
    }

    // Waits until everything written so far has gone all the way through: the worker has handled
    // the pipe, the reader has forwarded every injected chunk, and no new bytes came in meanwhile.
    void settle() {
        for (int round = 0; round < 1000; ++round) {
            const size_t reads = port->readCalls();
            ASSERT_TRUE(pipe->waitReaderIdle(kReportWait));
            ASSERT_TRUE(port->waitIdle(kReportWait));
            ASSERT_TRUE(pipe->waitReaderIdle(kReportWait));
            if (port->readCalls() == reads) {
                return;
            }
        }
        FAIL() << "never settled";
    }

    void tick(int count = 1) {
        for (int i = 0; i < count; ++i) {
            control->onHeartBeat();
        }
        settle();
    }

    // Answers every handshake request at once, as a controller of hardware type 1 with the given
    // firmware would.
    void scriptController(uint32_t firmware) {
        port->setResponder([this, firmware](const Bytes& request) {
            if (request == Bytes{0xAA, 0x01, 0x01}) {
                port->inject({0x55, 0x05, 0x01, 0x00, 0x00, 0x01, 0x00});
            } else if (request == Bytes{0xAA, 0x01, 0x03}) {
                port->inject({0x55, 0x02, 0x03, 0x00});
            } else if (request == Bytes{0xAA, 0x01, 0x02}) {
                port->inject(withLe32({0x55, 0x05, 0x02}, firmware));
            } else if (request == Bytes{0xAA, 0x01, 0x14}) {
                Bytes reply = {0x55, 0x1D, 0x14};
                reply.resize(reply.size() + 28, 0x00);
                port->inject(reply);
            } else if (request == Bytes{0xAA, 0x01, 0x15}) {
                Bytes reply = {0x55, 0x3A, 0x15};
                reply.resize(reply.size() + 57, 0x00);
                port->inject(reply);
            }
        });
    }

    // Connects and runs the whole handshake; afterwards the connection is in the Connected state.
    void connectAndHandshake(uint32_t firmware) {
        scriptController(firmware);
        control->connect(1, 115200);
        settle();
        for (int i = 0; i < 40 && listener.reports().empty(); ++i) {
            tick();
        }
        ASSERT_EQ(listener.reports().size(), 1u);
        ASSERT_EQ(listener.reports()[0].kind, report::kConnected);
        port->setResponder(nullptr);
        port->clearWrites();
        pipe->clear();
        listener.clear();
    }

    // Connecting: the port is open and the identity request is out, unanswered.
    void connectWithoutAnswer() {
        control->connect(1, 115200);
        settle();
        ASSERT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2}));
        ASSERT_EQ(port->writes(), (std::vector<Bytes>{{0xAA, 0x01, 0x01}}));
    }

    void rawPipeWrite(const Bytes& bytes) { ASSERT_TRUE(pipe->write(bytes.data(), bytes.size())); }

    RecordingTelescopeListener listener;
    platform::PortTable ports;
    FakeSerialPort* port = nullptr;
    RecordingPipe* pipe = nullptr;
    std::unique_ptr<TelescopeControl> control;
};

TEST(PipeName, ProcessIdIsWrittenLeastSignificantDigitFirst) {
    char name[256];
    const uint32_t length = buildPipeName(name, sizeof name, 0xABCD);
    EXPECT_STREQ(name, "\\\\.\\Pipe\\kestrova_vornic24_DCBA0000");
    EXPECT_EQ(length, std::strlen(name));

    buildPipeName(name, sizeof name, 0x1A2C);
    EXPECT_STREQ(name + std::strlen(name) - 8, "C2A10000");

    // Never past the buffer.
    char small[12];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(buildPipeName(small, 10, 0xFFFFFFFF), 9u);
    EXPECT_STREQ(small, "\\\\.\\Pipe\\");
    EXPECT_EQ(small[10], 'x');
}

TEST_F(TelescopeControlTest, EveryOperationWritesItsExactMessage) {
    control->onHeartBeat();
    control->connect(5, 115200);
    control->disconnect();
    control->startMove(3, 31);
    control->stopMove(4);
    control->setTracking(1);
    control->setExp(0);
    control->sendCode20();
    control->storeSettings();
    control->sendCode22();
    control->reloadDefaults();
    control->setGearRatios(0x11223344, 0xAABBCCDD);
    control->setReverseFlags(1, 2, 3);
    control->setMotorCurrent(0x81, 0x0456);
    control->setDecay(0x42, 3);
    control->setMaxSpeeds(0x1234, 0x56);
    control->setAccelerations(0x10, 0xF0);
    control->setDecelerations(0x20, 0xE0);
    control->setGuidingRates(8, 16);
    control->setPositionPair(0x01020304, 0x0A0B0C0D);
    control->applySiteSettings(SiteSettings{});
    control->measureVoltage();
    control->initScope(13);
    control->defineParkPosition();
    settle();

    const std::vector<Bytes> expected = {
        {0xA0, 0x00},
        {0x86, 0x03, 0x05, 0x00, 0xC2, 0x01, 0x00},
        {0x81, 0x04},
        {0x83, 0x05, 0x03, 0x1F},
        {0x82, 0x06, 0x04},
        {0x82, 0x07, 0x01},
        {0x82, 0x08, 0x00},
        {0x81, 0x14},
        {0x81, 0x15},
        {0x81, 0x16},
        {0x81, 0x17},
        {0x89, 0x18, 0x44, 0x33, 0x22, 0x11, 0xDD, 0xCC, 0xBB, 0xAA},
        {0x84, 0x1A, 0x01, 0x02, 0x03},
        {0x84, 0x1B, 0x81, 0x56, 0x04},
        {0x84, 0x1C, 0x42, 0x03, 0x00},
        {0x85, 0x20, 0x34, 0x12, 0x56, 0x00},
        {0x83, 0x21, 0x10, 0xF0},
        {0x83, 0x22, 0x20, 0xE0},
        {0x83, 0x23, 0x08, 0x10},
        {0x89, 0x24, 0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A},
        {0x81, 0x25},
        {0x81, 0x26},
        {0x82, 0x27, 0x0D},
        {0x81, 0x28},
    };
    EXPECT_EQ(pipe->writes(), expected);
}

TEST_F(TelescopeControlTest, OvertoneAndBoostAreQueuedOnlyFromLevelThree) {
    control->setOvertone(0x80, -2);
    control->setCurrentBoost(0x40, 500, 500);
    settle();
    EXPECT_TRUE(pipe->writes().empty());
    EXPECT_TRUE(listener.statuses().empty());

    // Level 1: still nothing.
    connectAndHandshake(kLevel1Firmware);
    EXPECT_EQ(control->featureLevel(), 1);
    control->setOvertone(0x80, -2);
    settle();
    EXPECT_TRUE(pipe->writes().empty());

    control->disconnect();
    settle();
    connectAndHandshake(kLevel3Firmware);
    EXPECT_EQ(control->featureLevel(), 3);
    control->setOvertone(0x80, -2);
    control->setCurrentBoost(0x40, 0x01F4, 0x01F4);
    settle();
    EXPECT_EQ(pipe->writes(), (std::vector<Bytes>{{0x83, 0x1D, 0x80, 0xFE},
                                                  {0x86, 0x1E, 0x40, 0xF4, 0x01, 0xF4, 0x01}}));
    // And they reach the controller.
    EXPECT_EQ(port->writes(),
              (std::vector<Bytes>{{0xAA, 0x04, 0x3B, 0x00, 0x80, 0xFE},
                                  {0xAA, 0x07, 0x3C, 0x00, 0x40, 0xF4, 0x01, 0xF4, 0x01}}));
}

// Ticks reach the worker only while a time-out counts or a pause runs; the timing of both stays
// exactly as when every tick is written.
TEST_F(TelescopeControlTest, TicksTheLinkDoesNotNeedAreNotWritten) {
    // One tick at a time, each handled before the next, as the 250 ms heartbeat comes.
    const auto ticksWritten = [&](int ticks) {
        pipe->clear();
        for (int i = 0; i < ticks; ++i) {
            tick();
        }
        const auto writes = pipe->writes();
        return std::count(writes.begin(), writes.end(), Bytes{0xA0, 0x00});
    };
    pipe->tellsIdle = true;
    ASSERT_TRUE(pipe->waitReaderIdle(kReportWait));
    if (!pipe->readerWaitingOnEmpty()) {
        // The Windows named pipe cannot tell an idle reader race-free, so it passes every tick on.
        GTEST_SKIP() << "this pipe writes every tick";
    }
    EXPECT_EQ(ticksWritten(5), 0) << "closed";
    connectAndHandshake(kLevel1Firmware);
    EXPECT_EQ(ticksWritten(40), 0) << "every request was answered: nothing left to count";
    EXPECT_TRUE(listener.statuses().empty());

    // A read-back pauses between its requests, so its ticks are written again.
    scriptController(kLevel1Firmware);
    control->reloadDefaults();
    port->inject({0x55, 0x01, 0x0C});
    settle();
    EXPECT_EQ(ticksWritten(40), 2) << "the pause; the answered settings request counts nothing";
    ASSERT_EQ(listener.reports().size(), 1u);
    EXPECT_EQ(listener.reports()[0].kind, report::kDefaultsReloaded);
}

TEST_F(TelescopeControlTest, ClosedState) {
    control->disconnect();
    control->setTracking(1);
    control->onHeartBeat();
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{12, 12}));
    EXPECT_EQ(port->openCount(), 0);

    control->connect(1, 9600);
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{12, 12, 1, 2}));
    EXPECT_TRUE(port->isOpen());
    EXPECT_EQ(port->lastOpenPath(), "/dev/fake-kz2");
    EXPECT_EQ(port->lastBaudRate(), 9600u);
    EXPECT_EQ(port->writes(), (std::vector<Bytes>{{0xAA, 0x01, 0x01}}));
}

TEST_F(TelescopeControlTest, ConnectingState) {
    connectWithoutAnswer();

    // A second connect leaves the running handshake alone.
    control->connect(1, 115200);
    control->setTracking(1);
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 11, 12}));
    EXPECT_EQ(port->openCount(), 1);
    EXPECT_EQ(port->writes(), (std::vector<Bytes>{{0xAA, 0x01, 0x01}}));

    control->disconnect();
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 11, 12, 4}));
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->closeCount(), 1);
    EXPECT_FALSE(port->closedUnderReader());

    control->disconnect();
    settle();
    EXPECT_EQ(listener.statuses().back(), 12u);
}

TEST_F(TelescopeControlTest, ConnectedState) {
    connectAndHandshake(kLevel1Firmware);

    control->connect(1, 115200);
    control->setTracking(1);
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{11}));
    EXPECT_EQ(port->writes(), (std::vector<Bytes>{{0xAA, 0x03, 0x24, 0x00, 0x01}}));

    control->disconnect();
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{11, 4}));
    EXPECT_FALSE(port->isOpen());

    // The handshake-done flag went with the port.
    control->setTracking(0);
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{11, 4, 12}));
}

TEST_F(TelescopeControlTest, HandshakeTimeoutClosesThePortWithoutStatusFour) {
    connectWithoutAnswer();
    tick(31);
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2}));
    tick();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 7}));
    EXPECT_FALSE(port->isOpen());

    // Closed again: a new connect opens afresh.
    control->connect(1, 115200);
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 7, 1, 2}));
    EXPECT_EQ(port->openCount(), 2);
}

TEST_F(TelescopeControlTest, IncompatibleDeviceClosesThePort) {
    connectWithoutAnswer();
    // Split over two reads: the reply reassembler does not care.
    port->inject({0x55, 0x05, 0x01});
    port->inject({0x01, 0x00, 0x02, 0x00});
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 9}));
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->closeCount(), 1);
}

TEST_F(TelescopeControlTest, TicksAndReceivedBytesAreDroppedWhileClosed) {
    // After a disconnect the link still waits for its identity reply with an armed time-out; only
    // the dispatcher keeps ticks and bytes away from it.
    connectWithoutAnswer();
    control->disconnect();
    settle();
    for (int i = 0; i < 40; ++i) {
        control->onHeartBeat();
    }
    rawPipeWrite({0xC7, 0x55, 0x05, 0x01, 0x01, 0x00, 0x02, 0x00});
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 4}));
}

TEST_F(TelescopeControlTest, FailedOpenReportsSixAndKeepsTheError) {
    port->failNextOpen(platform::OpenError::Busy, 16);
    control->connect(1, 115200);
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 6}));
    EXPECT_EQ(control->lastOpenError().error, platform::OpenError::Busy);
    EXPECT_EQ(control->lastOpenError().systemError, 16);
    EXPECT_EQ(port->readCalls(), 0u);  // no reader was started

    control->disconnect();
    settle();
    EXPECT_EQ(listener.statuses().back(), 12u);
}

TEST_F(TelescopeControlTest, PortNumberTwoHundredFiftySixIsReachable) {
    control->connect(256, 115200);
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2}));
    EXPECT_EQ(port->lastOpenPath(), "/dev/fake-kz2-256");
}

TEST_F(TelescopeControlTest, PipeStreamEdgeCases) {
    connectWithoutAnswer();
    // A connect with n = 5 is just an operation before the handshake; then: a heartbeat, whose
    // filler is not taken for a header; a stray byte; an empty operation with its filler.
    rawPipeWrite({0x85, 0x03, 0x05, 0x00, 0xC2, 0x01});
    rawPipeWrite({0xA0, 0x00, 0x05, 0x80, 0x00});
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 12}));
    EXPECT_EQ(port->openCount(), 1);

    // A filler with bit 7 set is eaten whole; the disconnect after the stray 0x04 still counts.
    rawPipeWrite({0x80, 0x81, 0x04, 0x81, 0x04});
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 12, 4}));
    EXPECT_FALSE(port->isOpen());
}

TEST_F(TelescopeControlTest, OperationDuringTheConnectPauseIsRefused) {
    create(platform::CommandPipe::kDefaultCapacity, 100);
    control->connect(1, 115200);
    ASSERT_TRUE(listener.waitForStatus(status::kConnecting, kReportWait));
    control->setTracking(1);
    settle();
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 12}));
    EXPECT_EQ(port->writes(), (std::vector<Bytes>{{0xAA, 0x01, 0x01}}));
}

TEST_F(TelescopeControlTest, ApplySiteSettingsHandsTheRecordToTheWorker) {
    connectAndHandshake(kLevel1Firmware);
    SiteSettings site;
    site.changeMask = site::kLatitudeChanged;
    site.latitude = 0x01020304;
    site.longitude = -2;
    control->applySiteSettings(site);
    settle();
    EXPECT_EQ(port->writes(), (std::vector<Bytes>{{0xAA, 0x0A, 0x65, 0x01, 0x04, 0x03, 0x02, 0x01,
                                                   0xFE, 0xFF, 0xFF, 0xFF}}));
}

TEST_F(TelescopeControlTest, ReceivedRunsAreCutIntoMessagesOfThirtyOne) {
    connectWithoutAnswer();
    pipe->clear();

    port->inject(sequence(31));
    settle();
    auto messages = pipe->serialWrites();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0][0], 0xDF);
    EXPECT_EQ(Bytes(messages[0].begin() + 1, messages[0].end()), sequence(31));

    pipe->clear();
    port->inject(sequence(32));
    settle();
    messages = pipe->serialWrites();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0][0], 0xDF);
    EXPECT_EQ(messages[1], (Bytes{0xC1, 32}));

    // 200 bytes come in two reads of 128 and 72.
    pipe->clear();
    port->inject(sequence(200));
    settle();
    messages = pipe->serialWrites();
    std::vector<size_t> sizes;
    Bytes joined;
    for (const Bytes& message : messages) {
        sizes.push_back(message.size() - 1);
        EXPECT_EQ(message[0], 0xC0 + message.size() - 1);
        joined.insert(joined.end(), message.begin() + 1, message.end());
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{31, 31, 31, 31, 4, 31, 31, 10}));
    EXPECT_EQ(joined, sequence(200));

    // A read that brings nothing forwards nothing; the reader reads on.
    pipe->clear();
    port->inject(Bytes{});
    port->inject({0x10});
    settle();
    EXPECT_EQ(pipe->serialWrites(), (std::vector<Bytes>{{0xC1, 0x10}}));
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2}));
}

TEST_F(TelescopeControlTest, FailedLineIsReportedAndClosesWithoutSpinning) {
    connectWithoutAnswer();
    const size_t readsBefore = port->readCalls();
    port->hangUp();
    settle();
    // The read that was waiting saw the failure; the reader then waits for its stop instead of
    // reading again, and the worker closes the port and says why.
    EXPECT_EQ(port->readCalls(), readsBefore);
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, status::kConnectionLost}));
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(port->closedUnderReader());

    // Nothing is left open for a disconnect, and a new connect opens afresh.
    control->disconnect();
    control->connect(1, 115200);
    settle();
    EXPECT_EQ(listener.statuses(),
              (std::vector<StatusCode>{1, 2, status::kConnectionLost, 12, 1, 2}));
    EXPECT_TRUE(port->isOpen());
}

// Every way the port closes while a hand move runs writes the stop of both axes first.
TEST_F(TelescopeControlTest, EveryWayOutStopsAHandMoveFirst) {
    struct Way {
        const char* what;
        std::function<void()> take;
        std::vector<StatusCode> reported;
    };
    const std::vector<Way> ways{
        {"disconnect", [this] { control->disconnect(); }, {4}},
        {"shutdown", [this] { control->shutdown(); }, {}},
        {"line lost", [this] { port->hangUp(); }, {26}},
        {"no answer",
         [this] {
             control->measureVoltage();
             tick(32);
         },
         {25}},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.what);
        create();
        ASSERT_NO_FATAL_FAILURE(connectAndHandshake(kLevel3Firmware));
        control->startMove(direction::kNorth, 3);
        settle();
        port->clearWrites();
        listener.clear();
        way.take();
        if (way.reported.empty()) {
            EXPECT_FALSE(port->isOpen());
        } else {
            settle();
        }
        const std::vector<Bytes> writes = port->writes();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back(), (Bytes{0xAA, 0x03, 0x21, 0x00, 0xC0}));
        EXPECT_FALSE(port->isOpen());
        EXPECT_EQ(listener.statuses(), way.reported);
    }
}

TEST_F(TelescopeControlTest, DisconnectWhileTheReaderIsBlockedOnAFullPipe) {
    // A small pipe and a controller that never stops sending: while the worker pauses after
    // opening, the reader fills the pipe and blocks in its write. The disconnect queued behind the
    // connect must still close the port instead of waiting for a reader that waits for the worker.
    create(64, 100);
    port->setStreaming(true, 0x01);
    control->connect(1, 115200);
    control->disconnect();
    ASSERT_TRUE(listener.waitForStatus(status::kConnectionClosed, kReportWait));
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(port->closedUnderReader());

    // The worker is alive, and the bytes it took out of the pipe while closing were handled.
    control->setTracking(1);
    ASSERT_TRUE(listener.waitForStatusCount(4, kReportWait));
    EXPECT_EQ(listener.statuses(), (std::vector<StatusCode>{1, 2, 4, 12}));
    settle();
}

// Many connect/disconnect pairs queued while the line streams without pause: each close must end a
// reader that is blocked writing into the full pipe, however much the worker has queued up. A
// stuck worker cannot be shut down, so on failure the test ends the process instead of hanging.
TEST_F(TelescopeControlTest, RapidConnectDisconnectWhileTheLineStreamsNeverDeadlocks) {
    create(platform::CommandPipe::kDefaultCapacity, 20);
    port->setStreaming(true, 0x01);
    constexpr int kPairs = 200;
    std::thread ui([&] {
        for (int i = 0; i < kPairs; ++i) {
            control->connect(1, 115200);
            control->disconnect();
        }
    });
    if (!listener.waitForStatusCount(3 * kPairs, 30000)) {  // 1, 2 and 4 per pair
        ADD_FAILURE() << "worker stopped after " << listener.statuses().size() << " of "
                      << 3 * kPairs << " statuses";
        std::fflush(stdout);
        std::_Exit(1);
    }
    ui.join();
    EXPECT_FALSE(port->isOpen());
}

TEST_F(TelescopeControlTest, ShutdownWhileStreamingEnds) {
    create(64, 0);
    port->setStreaming(true, 0x01);
    control->connect(1, 115200);
    ASSERT_TRUE(listener.waitForStatus(status::kConnecting, kReportWait));
    control->shutdown();
    EXPECT_FALSE(port->isOpen());
    EXPECT_FALSE(port->closedUnderReader());
}

TEST_F(TelescopeControlTest, ShutdownClosesThePortAfterTheWorkerStopped) {
    connectAndHandshake(kLevel1Firmware);
    control->shutdown();
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(port->closeCount(), 1);
    // Closed on this thread, which happens only once the worker has ended.
    EXPECT_EQ(port->lastCloseThread(), std::this_thread::get_id());
    EXPECT_FALSE(port->closedUnderReader());

    // Afterwards operations write nothing, and a second shutdown is harmless.
    control->setTracking(1);
    control->onHeartBeat();
    control->applySiteSettings(SiteSettings{});
    control->shutdown();
    EXPECT_TRUE(pipe->writes().empty());
    EXPECT_TRUE(listener.statuses().empty());
}

// A listener may take the link down from inside a report, on the worker: the worker cannot wait
// for its own end, so the call only stops it, and the owner's shutdown finishes the job.
TEST_F(TelescopeControlTest, ShutdownAskedFromAReportOnTheWorker) {
    struct Stopper final : TelescopeListener {
        TelescopeControl* control = nullptr;
        std::atomic<bool> returned{false};
        void onStatus(StatusCode code) override {
            if (code == status::kConnecting) {
                control->shutdown();
                returned = true;
            }
        }
        void onSettings(const MountSettings&, ReportKind) override {}
        void onVoltage(uint32_t) override {}
    } stopper;
    auto fakePort = std::make_unique<FakeSerialPort>();
    FakeSerialPort* line = fakePort.get();
    TelescopeControl::Options options;
    options.connectPauseMs = 0;
    TelescopeControl link(stopper, std::move(fakePort), ports, std::move(options));
    stopper.control = &link;
    link.connect(1, 115200);
    for (int i = 0; i < 500 && !stopper.returned; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(stopper.returned);
    link.shutdown();
    EXPECT_FALSE(line->isOpen());
    EXPECT_EQ(line->lastCloseThread(), std::this_thread::get_id());
    EXPECT_FALSE(line->closedUnderReader());
}

TEST_F(TelescopeControlTest, ConcurrentWritersKeepEveryMessageWhole) {
    connectAndHandshake(kLevel1Firmware);

    constexpr int kThreads = 4;
    constexpr int kCallsPerThread = 150;
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kCallsPerThread; ++i) {
                control->setTracking(static_cast<uint32_t>(t * 64 + i % 64));
            }
        });
    }
    threads.emplace_back([&] {
        while (!go.load()) {
            std::this_thread::yield();
        }
        for (int i = 0; i < 300; ++i) {
            control->onHeartBeat();
        }
    });
    threads.emplace_back([&] {
        while (!go.load()) {
            std::this_thread::yield();
        }
        for (int i = 0; i < 60; ++i) {
            port->inject(Bytes(static_cast<size_t>(1 + i * 3 % 150), 0x01));
        }
    });
    go.store(true);
    for (auto& thread : threads) {
        thread.join();
    }
    settle();

    // Every call became one request frame, and each thread's calls kept their order.
    std::vector<std::vector<int>> seen(kThreads);
    for (const Bytes& frame : port->writes()) {
        ASSERT_EQ(frame.size(), 5u);
        ASSERT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0xAA, 0x03, 0x24, 0x00}));
        seen[frame[4] / 64].push_back(frame[4] % 64);
    }
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<size_t>(kCallsPerThread));
        for (int i = 0; i < kCallsPerThread; ++i) {
            EXPECT_EQ(seen[t][i], i % 64);
        }
    }
    EXPECT_TRUE(listener.statuses().empty());
    EXPECT_TRUE(port->isOpen());
}

}  // namespace
}  // namespace vornic
