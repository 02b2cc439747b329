// How the command line shows reports (text and JSON), the report queue between the worker and the
// main thread, and the observing serial port (trace lines, line failure).
#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/Commands.h"
#include "cli/Format.h"
#include "cli/ObservedSerialPort.h"
#include "cli/Reports.h"

namespace vornic::cli {
namespace {

MountSettings sample(uint8_t level) {
    MountSettings s;
    s.featureLevel = level;
    s.hardwareVersion = 0x01020304;
    s.firmwareVersion = 0x02040100;
    s.portType = 1;
    s.gearRatio[0] = 172800;
    s.gearRatio[1] = 164000;
    s.maxSpeed[0] = 800;
    s.motorCurrent[1][2] = 1200;
    s.decay[0][1] = 3;
    s.thirdOvertone[0] = -20;
    s.reverseRotation = 2;
    s.latitude = -4104360;
    s.longitude = 691200;
    s.meridianFlipHysteresis = 10;
    s.siderealRate[1] = -7;
    return s;
}

TEST(CliFormat, IdentityVoltageAndAnglesReadLikeTheDialog) {
    EXPECT_EQ(identityLine(sample(6)), "HW:1.2.3.4 | FW:2.4.1.0 | Port type:1");
    MountSettings s;
    s.hardwareVersion = 0xFFFFFFFF;
    s.portType = 255;
    EXPECT_EQ(identityLine(s), "HW:255.255.255.255 | FW:0.0.0.0 | Port type:255");
    EXPECT_EQ(voltageText(1234), "12.34V");
    EXPECT_EQ(voltageText(905), " 9.05V");
    EXPECT_EQ(voltageText(0), " 0.00V");
    EXPECT_EQ(angleText(-4104360, true), "S 47:30:15");
    EXPECT_EQ(angleText(0, false), "E 0:00:00");
    EXPECT_EQ(angleText(-10, false), "W 0:00:00");
    EXPECT_EQ(angleText(INT32_MIN, true).substr(0, 2), "S ");
    EXPECT_EQ(statusTextOf(22), "Parameters stored...");
    EXPECT_EQ(statusTextOf(status::kLast + 1), "");
}

TEST(CliFormat, JsonReportsCarryEveryFieldAsPlainIntegers) {
    const Json status = statusReportJson(7);
    EXPECT_EQ(status.dump(),
              R"({"type":"status","code":7,"text":"Error: Cannot connect: Timeout error"})");
    EXPECT_EQ(voltageReportJson(905).dump(),
              R"({"type":"voltage","hundredths":905,"text":" 9.05V"})");

    const Json report = settingsReportJson(sample(6), 1);
    EXPECT_EQ(report["type"], "settings");
    EXPECT_EQ(report["kind"], 1);
    EXPECT_EQ(report["identity"], "HW:1.2.3.4 | FW:2.4.1.0 | Port type:1");
    const Json& s = report["settings"];
    EXPECT_EQ(s.size(), 32u);
    EXPECT_EQ(s["gearRatio"], Json::parse("[172800,164000]"));
    EXPECT_EQ(s["motorCurrent"], Json::parse("[[0,0,0],[0,0,1200]]"));
    EXPECT_EQ(s["decay"], Json::parse("[[0,3,0],[0,0,0]]"));
    EXPECT_EQ(s["thirdOvertone"], Json::parse("[-20,0]"));
    EXPECT_EQ(s["siderealRate"], Json::parse("[0,-7]"));
    EXPECT_EQ(s["hardwareVersion"], 0x01020304);
    EXPECT_EQ(s["reverseRotation"], 2);
    EXPECT_EQ(s["latitude"], -4104360);
    // Field names in the record's order.
    EXPECT_EQ(s.begin().key(), "mountType");
    EXPECT_EQ((--s.end()).key(), "maxRate");
}

TEST(CliFormat, ListingShowsWhatTheLevelReports) {
    const std::string six = settingsListing(sample(6));
    EXPECT_NE(six.find("HW:1.2.3.4 | FW:2.4.1.0 | Port type:1\n"), std::string::npos);
    EXPECT_NE(six.find("Feature level: 6"), std::string::npos);
    EXPECT_NE(six.find("latitude: S 47:30:15 (-4104360 angle units)"), std::string::npos);
    EXPECT_NE(six.find("meridianFlipHysteresis: 10 degrees"), std::string::npos);
    EXPECT_NE(six.find("reverseRotation"), std::string::npos);
    EXPECT_NE(six.find("mA"), std::string::npos);

    const std::string four = settingsListing(sample(4));
    EXPECT_EQ(four.find("latitude:"), std::string::npos);
    EXPECT_NE(four.find("Site settings: not reported"), std::string::npos);
    EXPECT_NE(four.find("motorCurrent run"), std::string::npos);

    const std::string two = settingsListing(sample(2));
    EXPECT_EQ(two.find("motorCurrent run"), std::string::npos);
    EXPECT_NE(two.find("Motor settings: not reported"), std::string::npos);
    EXPECT_NE(two.find("gearRatio"), std::string::npos);
}

std::string printed(bool json, const Report& report, bool full = false) {
    std::FILE* file = std::tmpfile();
    {
        Output out(json, file);
        out.setFullListing(full);
        out.report(report);
        out.text("plain");
        out.json(Json{{"type", "extra"}});
    }
    std::rewind(file);
    std::string text;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(file);
    return text;
}

TEST(CliFormat, OutputIsTextForPeopleOrOneJsonObjectPerLine) {
    Report status;
    status.code = 22;
    EXPECT_EQ(printed(false, status), "Parameters stored...\nplain\n");
    EXPECT_EQ(printed(true, status),
              "{\"type\":\"status\",\"code\":22,\"text\":\"Parameters stored...\"}\n"
              "{\"type\":\"extra\"}\n");

    Report settings;
    settings.type = Report::Type::Settings;
    settings.settings = sample(6);
    settings.kind = 3;
    EXPECT_EQ(printed(false, settings),
              "Error: The connected KZ2 is too old. Use Vornic 1.0.\n"
              "HW:1.2.3.4 | FW:2.4.1.0 | Port type:1\nplain\n");
    settings.kind = 4;
    EXPECT_EQ(printed(false, settings), "Gear ratios: RA 172800, DE 164000\nplain\n");
    settings.kind = 2;
    EXPECT_EQ(printed(false, settings),
              "Default settings reloaded\nHW:1.2.3.4 | FW:2.4.1.0 | Port type:1\nplain\n");
    settings.kind = 1;
    const std::string full = printed(false, settings, true);
    EXPECT_EQ(full.rfind("Connection established.\nHW:1.2.3.4", 0), 0u);
    EXPECT_NE(full.find("Feature level: 6"), std::string::npos);

    Report voltage;
    voltage.type = Report::Type::Voltage;
    voltage.hundredths = 1234;
    EXPECT_EQ(printed(false, voltage), "Supply voltage: 12.34V\nplain\n");
}

TEST(CliReports, QueueKeepsOrderWakesTheWaiterAndCountsOverflow) {
    WakePipe wake;
    ReportQueue queue(wake);
    Report r;
    EXPECT_FALSE(queue.pop(r));
    std::thread worker([&] {
        queue.onStatus(1);
        queue.onSettings(sample(5), 2);
        queue.onVoltage(1234);
        queue.lineLost();
    });
    std::vector<Report::Type> types;
    while (types.size() < 4) {
        wake.wait(5000);
        wake.drain();
        while (queue.pop(r)) {
            types.push_back(r.type);
            if (r.type == Report::Type::Settings) {
                EXPECT_EQ(r.kind, 2u);
                EXPECT_EQ(r.settings, sample(5));
            }
        }
    }
    worker.join();
    EXPECT_EQ(types, (std::vector<Report::Type>{Report::Type::Status, Report::Type::Settings,
                                                Report::Type::Voltage, Report::Type::LineLost}));

    // A worker never waits: beyond the ring's room reports are counted as lost, never blocked on.
    for (int i = 0; i < 200; ++i) {
        queue.onStatus(15);
    }
    EXPECT_EQ(queue.lost(), 200u - 128u);
    int popped = 0;
    while (queue.pop(r)) {
        ++popped;
    }
    EXPECT_EQ(popped, 128);
}

TEST(CliReports, WakePipeNeverBlocksAWriter) {
    WakePipe wake;
    for (int i = 0; i < 200000; ++i) {
        wake.wake();  // far more than a pipe holds
    }
    wake.drain();
    const auto start = std::chrono::steady_clock::now();
    wake.wait(50);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
}

// A serial port that replays scripted reads and records writes.
class ScriptedPort final : public platform::SerialPort {
  public:
    std::vector<std::vector<uint8_t>> reads;
    bool failAtEnd = true;
    std::vector<std::vector<uint8_t>> written;

    platform::OpenResult open(const char*, uint32_t) override { return {}; }
    bool isOpen() const override { return true; }
    bool write(const uint8_t* bytes, size_t count, unsigned) override {
        written.emplace_back(bytes, bytes + count);
        return true;
    }
    platform::ReadResult read(uint8_t* buffer, size_t max) override {
        if (next_ < reads.size()) {
            const auto& chunk = reads[next_++];
            const size_t n = std::min(max, chunk.size());
            std::copy(chunk.begin(), chunk.begin() + static_cast<long>(n), buffer);
            return {platform::ReadStatus::Data, n};
        }
        return {failAtEnd ? platform::ReadStatus::Failed : platform::ReadStatus::Stopped, 0};
    }
    void waitForStop() override {}
    void signalStop() override {}
    void resetStop() override {}
    void close() override {}

  private:
    size_t next_ = 0;
};

class CountingWatcher final : public LineWatcher {
  public:
    void lineFailed() override { ++failures; }
    std::atomic<int> failures{0};
};

TEST(CliObservedPort, PassesEverythingThroughAndReportsALineFailure) {
    auto inner = std::make_unique<ScriptedPort>();
    ScriptedPort* script = inner.get();
    script->reads = {{0x55, 0x02}, {0x03, 0x01}};
    CountingWatcher watcher;
    ObservedSerialPort port(std::move(inner), watcher, false);
    ASSERT_TRUE(port.open("/dev/x", 9600).ok());
    const uint8_t frame[] = {0xAA, 0x01, 0x01};
    EXPECT_TRUE(port.write(frame, sizeof frame, 1000));
    ASSERT_EQ(script->written.size(), 1u);
    EXPECT_EQ(script->written[0], std::vector<uint8_t>(frame, frame + 3));

    uint8_t buffer[128];
    platform::ReadResult r = port.read(buffer, sizeof buffer);
    EXPECT_EQ(r.status, platform::ReadStatus::Data);
    EXPECT_EQ(r.count, 2u);
    EXPECT_EQ(buffer[0], 0x55);
    r = port.read(buffer, sizeof buffer);
    EXPECT_EQ(r.count, 2u);
    EXPECT_EQ(watcher.failures.load(), 0);
    r = port.read(buffer, sizeof buffer);
    EXPECT_EQ(r.status, platform::ReadStatus::Failed);
    EXPECT_EQ(watcher.failures.load(), 1);
}

TEST(CliObservedPort, TraceLinesAreStampedAndCutToTheirBuffer) {
    char line[64];
    const uint8_t bytes[] = {0xAA, 0x01, 0x01};
    ObservedSerialPort::formatTraceLine(line, sizeof line, 1.5, "->", bytes, 3);
    EXPECT_STREQ(line, "[    1.500] -> AA 01 01\n");

    uint8_t many[300];
    for (size_t i = 0; i < sizeof many; ++i) {
        many[i] = static_cast<uint8_t>(i);
    }
    for (size_t size : {1u, 2u, 12u, 20u, 21u, 64u}) {
        char guarded[80];
        std::memset(guarded, 'Z', sizeof guarded);
        ObservedSerialPort::formatTraceLine(guarded, size, 123.25, "<-", many, sizeof many);
        EXPECT_LT(std::strlen(guarded), size) << size;
        for (size_t i = size; i < sizeof guarded; ++i) {
            ASSERT_EQ(guarded[i], 'Z') << "written past " << size;
        }
    }
}

TEST(CliObservedPort, TraceCutsRepliesIntoFramesWhateverTheChunks) {
    auto inner = std::make_unique<ScriptedPort>();
    inner->reads = {{0x13, 0x37, 0x55}, {0x05, 0x01, 0x01}, {0x00, 0x01, 0x00, 0x55, 0x00, 0x42}};
    inner->failAtEnd = false;
    CountingWatcher watcher;
    ObservedSerialPort port(std::move(inner), watcher, true);

    // The trace goes to stderr; catch it in a file for the length of the test.
    std::fflush(stderr);
    std::FILE* capture = std::tmpfile();
    const int saved = ::dup(2);
    ::dup2(::fileno(capture), 2);
    uint8_t buffer[128];
    for (int i = 0; i < 4; ++i) {
        (void)port.read(buffer, sizeof buffer);
    }
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::rewind(capture);
    std::string text;
    char chunk[1024];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, capture)) > 0) {
        text.append(chunk, n);
    }
    std::fclose(capture);

    EXPECT_NE(text.find("] <- noise 13 37\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] <- 55 05 01 01 00 01 00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] <- 55 00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] <- noise 42\n"), std::string::npos) << text;
    EXPECT_EQ(watcher.failures.load(), 0);
}

}  // namespace
}  // namespace vornic::cli
