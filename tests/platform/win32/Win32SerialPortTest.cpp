// The Windows serial port against a controller simulator on a COM port. scripts/windows.sh starts
// kz2-sim on a pseudo-terminal, maps a COM port to it in Wine and names the port in
// VORNIC_TEST_COM_PORT; without it the tests that need the line are skipped.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

#include "app/HeartBeat.h"
#include "controller/TelescopeControl.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "platform/Watchdog.h"
#include "support/RecordingListener.h"

namespace vornic::platform {
namespace {

using namespace std::chrono_literals;

std::string simulatorPort() {
    const char* name = std::getenv("VORNIC_TEST_COM_PORT");
    return name != nullptr ? devicePathForName(name) : std::string();
}

#define REQUIRE_SIMULATOR(path)                                                         \
    const std::string path = simulatorPort();                                           \
    if (path.empty()) {                                                                 \
        GTEST_SKIP() << "VORNIC_TEST_COM_PORT is not set (scripts/windows.sh sets it)"; \
    }

// Reads one reply frame (55 N payload); empty when none comes within the watchdog's time. Bytes
// after the frame stay in `pending` for the next call.
std::vector<uint8_t> readReply(SerialPort& port, std::vector<uint8_t>& pending) {
    testing::Watchdog watchdog(5s, [&port] { port.signalStop(); });
    uint8_t buffer[128];
    while (pending.size() < 2 || pending.size() < size_t{2} + pending[1]) {
        const ReadResult result = port.read(buffer, sizeof buffer);
        if (result.status != ReadStatus::Data) {
            port.resetStop();
            return {};
        }
        EXPECT_LE(result.count, sizeof buffer);
        pending.insert(pending.end(), buffer, buffer + result.count);
    }
    const auto end = pending.begin() + 2 + pending[1];
    std::vector<uint8_t> frame(pending.begin(), end);
    pending.erase(pending.begin(), end);
    return frame;
}

std::vector<uint8_t> readReply(SerialPort& port) {
    std::vector<uint8_t> pending;
    auto frame = readReply(port, pending);
    EXPECT_TRUE(pending.empty());
    return frame;
}

bool containsPair(const std::vector<uint8_t>& bytes, uint16_t value) {
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == (value & 0xFF) && bytes[i + 1] == (value >> 8)) {
            return true;
        }
    }
    return false;
}

TEST(Win32SerialPort, ExchangesBytesBothWaysAndClosesWithAReadPending) {
    REQUIRE_SIMULATOR(path);
    auto port = makeSerialPort();
    ASSERT_TRUE(port->open(path.c_str(), 9600).ok());
    for (int round = 0; round < 3; ++round) {
        const uint8_t firmware[] = {0xAA, 0x01, 0x02};
        ASSERT_TRUE(port->write(firmware, sizeof firmware, 1000));
        const auto reply = readReply(*port);
        ASSERT_EQ(reply.size(), 7u);  // 55 05 02 and the 32-bit version
        EXPECT_EQ(reply[0], 0x55);
        EXPECT_EQ(reply[2], 0x02);
    }
    // A reader waiting on a quiet line ends on the stop, and the port then closes at once.
    auto reader = std::async(std::launch::async, [&] {
        uint8_t buffer[128];
        return port->read(buffer, sizeof buffer).status;
    });
    EXPECT_EQ(reader.wait_for(300ms), std::future_status::timeout);
    port->signalStop();
    ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(reader.get(), ReadStatus::Stopped);
    const auto before = std::chrono::steady_clock::now();
    port->close();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_FALSE(port->isOpen());
}

TEST(Win32SerialPort, OpenFailuresHaveTheKindsOfTheOtherPlatforms) {
    auto absent = makeSerialPort();
    EXPECT_EQ(absent->open("\\\\.\\COM231", 9600).error, OpenError::NoSuchDevice);
    EXPECT_EQ(absent->open("\\\\.\\COM231", 1234).error, OpenError::BadBaudRate);

    REQUIRE_SIMULATOR(path);
    auto first = makeSerialPort();
    ASSERT_TRUE(first->open(path.c_str(), 115200).ok());
    auto second = makeSerialPort();
    const OpenResult refused = second->open(path.c_str(), 115200);
    EXPECT_EQ(refused.error, OpenError::Busy) << refused.detail;
    EXPECT_NE(std::string(refused.detail).find("in use"), std::string::npos) << refused.detail;
    EXPECT_EQ(first->open(path.c_str(), 115200).error, OpenError::Other);  // already open
    first->close();
    ASSERT_TRUE(second->open(path.c_str(), 115200).ok());  // free again once closed
}

TEST(Win32SerialPort, WriteJustBeforeCloseReachesTheController) {
    REQUIRE_SIMULATOR(path);
    // Max speeds of both axes, values that appear nowhere else in the settings block.
    const uint16_t ra = 0x02A7;
    const uint16_t de = 0x0313;
    for (int round = 0; round < 3; ++round) {
        const uint16_t bump = static_cast<uint16_t>(round);
        auto port = makeSerialPort();
        ASSERT_TRUE(port->open(path.c_str(), 9600).ok());
        const uint8_t set[] = {0xAA,
                               0x07,
                               0x35,
                               0x00,
                               0xC0,
                               static_cast<uint8_t>((ra + bump) & 0xFF),
                               static_cast<uint8_t>((ra + bump) >> 8),
                               static_cast<uint8_t>((de + bump) & 0xFF),
                               static_cast<uint8_t>((de + bump) >> 8)};
        ASSERT_TRUE(port->write(set, sizeof set, 1000));
        port->close();  // at once: the frame must still get out

        ASSERT_TRUE(port->open(path.c_str(), 9600).ok());
        const uint8_t settings[] = {0xAA, 0x01, 0x15};
        ASSERT_TRUE(port->write(settings, sizeof settings, 1000));
        std::vector<uint8_t> pending;
        auto reply = readReply(*port, pending);
        // The acknowledgement of the write may come first when it was not purged.
        if (reply.size() > 2 && reply[2] == 0x35) {
            reply = readReply(*port, pending);
        }
        ASSERT_GT(reply.size(), 2u);
        EXPECT_EQ(reply[2], 0x15);
        EXPECT_TRUE(containsPair(reply, static_cast<uint16_t>(ra + bump))) << "round " << round;
        EXPECT_TRUE(containsPair(reply, static_cast<uint16_t>(de + bump))) << "round " << round;
        port->close();
    }
}

// The whole engine on Windows: named pipe, heartbeat, worker, COM port by its number, reader.
TEST(Win32SerialPort, EngineConnectsReadsAndDisconnectsThroughTheComPort) {
    REQUIRE_SIMULATOR(path);
    const std::string name = std::getenv("VORNIC_TEST_COM_PORT");
    const auto number = static_cast<uint32_t>(std::atoi(name.c_str() + (name.size() > 3 ? 3 : 0)));
    ASSERT_GE(number, 1u);
    test::RecordingTelescopeListener listener;
    PortTable ports;  // empty: the number maps to \\.\COMn
    TelescopeControl control(listener, makeSerialPort(), ports);
    HeartBeat heartBeat;
    heartBeat.attachListener(&control);
    heartBeat.start();
    for (int round = 0; round < 2; ++round) {
        listener.clear();
        control.connect(number, 115200);
        // The handshake ends with the settings report of kind 1.
        ASSERT_TRUE(listener.waitForReports(1, 30000))
            << "round " << round << ", statuses " << ::testing::PrintToString(listener.statuses());
        EXPECT_EQ(listener.reports().front().kind, 1u);
        EXPECT_GE(listener.reports().front().settings.featureLevel, 1);
        control.measureVoltage();
        EXPECT_TRUE(listener.waitForVoltages(1, 10000));
        control.disconnect();
        EXPECT_TRUE(listener.waitForStatus(status::kConnectionClosed, 15000));
    }
    heartBeat.detachListener();
    EXPECT_TRUE(heartBeat.stop());
    control.shutdown();
}

}  // namespace
}  // namespace vornic::platform
