// The Windows serial port against a controller simulator on a COM port. scripts/windows.sh starts
// kz2-sim on a pseudo-terminal, maps a COM port to it in Wine and names the port in
// VORNIC_TEST_COM_PORT; without it the tests that need the line are skipped.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "app/HeartBeat.h"
#include "app/PortList.h"
#include "controller/TelescopeControl.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "platform/SystemText.h"
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

// What people read about a port that cannot be opened: the system's words for its error, the
// reason once, and no device name of another system.
void expectWindowsWords(const OpenResult& result, const char* shouldSay) {
    const std::string said = describeOpenError("COM231", result);
    EXPECT_NE(said.find(systemErrorText(result.systemError)), std::string::npos) << said;
    EXPECT_NE(said.find(shouldSay), std::string::npos) << said;
    EXPECT_EQ(said.find(shouldSay), said.rfind(shouldSay)) << said;
    for (const char* foreign : {"/dev/", "No such file", "Input/output", "dialout"}) {
        EXPECT_EQ(said.find(foreign), std::string::npos) << said;
    }
}

TEST(Win32SerialPort, OpenFailuresHaveTheKindsOfTheOtherPlatforms) {
    auto absent = makeSerialPort();
    const OpenResult missing = absent->open("\\\\.\\COM231", 9600);
    EXPECT_EQ(missing.error, OpenError::NoSuchDevice);
    expectWindowsWords(missing, "no such serial port");
    EXPECT_EQ(absent->open("\\\\.\\COM231", 1234).error, OpenError::BadBaudRate);

    REQUIRE_SIMULATOR(path);
    auto first = makeSerialPort();
    ASSERT_TRUE(first->open(path.c_str(), 115200).ok());
    auto second = makeSerialPort();
    const OpenResult refused = second->open(path.c_str(), 115200);
    EXPECT_EQ(refused.error, OpenError::Busy) << refused.detail;
    expectWindowsWords(refused, "in use");
    EXPECT_EQ(first->open(path.c_str(), 115200).error, OpenError::Other);  // already open
    first->close();
    ASSERT_TRUE(second->open(path.c_str(), 115200).ok());  // free again once closed
}

// Sets both axes' max speeds; values that appear nowhere else in the settings block make them easy
// to find in the settings report.
void writeMaxSpeeds(SerialPort& port, uint16_t ra, uint16_t de) {
    const uint8_t set[] = {0xAA,
                           0x07,
                           0x35,
                           0x00,
                           0xC0,
                           static_cast<uint8_t>(ra & 0xFF),
                           static_cast<uint8_t>(ra >> 8),
                           static_cast<uint8_t>(de & 0xFF),
                           static_cast<uint8_t>(de >> 8)};
    ASSERT_TRUE(port.write(set, sizeof set, 1000));
}

// Asks for the settings and checks that both max speeds are in the report.
void expectMaxSpeeds(SerialPort& port, uint16_t ra, uint16_t de, const std::string& when) {
    const uint8_t settings[] = {0xAA, 0x01, 0x15};
    ASSERT_TRUE(port.write(settings, sizeof settings, 1000));
    std::vector<uint8_t> pending;
    auto reply = readReply(port, pending);
    // The acknowledgement of the write may come first when it was not purged.
    if (reply.size() > 2 && reply[2] == 0x35) {
        reply = readReply(port, pending);
    }
    ASSERT_GT(reply.size(), 2u) << when;
    EXPECT_EQ(reply[2], 0x15) << when;
    EXPECT_TRUE(containsPair(reply, ra)) << when;
    EXPECT_TRUE(containsPair(reply, de)) << when;
}

TEST(Win32SerialPort, WriteJustBeforeCloseReachesTheController) {
    REQUIRE_SIMULATOR(path);
    for (int round = 0; round < 3; ++round) {
        const auto ra = static_cast<uint16_t>(0x02A7 + round);
        const auto de = static_cast<uint16_t>(0x0313 + round);
        auto port = makeSerialPort();
        ASSERT_TRUE(port->open(path.c_str(), 9600).ok());
        writeMaxSpeeds(*port, ra, de);
        port->close();  // at once: the frame must still get out

        ASSERT_TRUE(port->open(path.c_str(), 9600).ok());
        expectMaxSpeeds(*port, ra, de, "round " + std::to_string(round));
        port->close();
    }
}

// What an earlier program left on the port is undone: with XON/XOFF the bytes 0x11 and 0x13 of
// a frame would be taken as flow control, with hardware flow control or abort-on-error a
// transfer could stall or fail.
TEST(Win32SerialPort, OpeningTurnsOffFlowControlAndAbortOnError) {
    REQUIRE_SIMULATOR(path);
    const auto withState = [&path](const std::function<void(DCB&)>& use) {
        const HANDLE raw = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(raw, INVALID_HANDLE_VALUE);
        DCB state{};
        state.DCBlength = sizeof state;
        EXPECT_TRUE(GetCommState(raw, &state));
        use(state);
        SetCommState(raw, &state);
        CloseHandle(raw);
    };
    withState([](DCB& state) {
        state.fOutX = state.fInX = TRUE;
        state.fOutxCtsFlow = state.fOutxDsrFlow = state.fAbortOnError = TRUE;
    });
    withState([](DCB& state) { ASSERT_TRUE(state.fOutX && state.fInX); });

    auto port = makeSerialPort();
    ASSERT_TRUE(port->open(path.c_str(), 9600).ok());
    writeMaxSpeeds(*port, 0x1113, 0x1311);
    expectMaxSpeeds(*port, 0x1113, 0x1311, "0x11 and 0x13 both ways");
    port->close();

    withState([](DCB& state) {
        EXPECT_TRUE(state.fBinary);
        EXPECT_FALSE(state.fOutX || state.fInX);
        EXPECT_FALSE(state.fOutxCtsFlow || state.fOutxDsrFlow || state.fDsrSensitivity);
        EXPECT_NE(state.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
        EXPECT_NE(state.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
        EXPECT_FALSE(state.fAbortOnError);
    });
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
