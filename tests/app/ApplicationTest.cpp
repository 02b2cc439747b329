// Start-up, wiring and shutdown of the whole application with the headless front end: the real
// HeartBeat, AppModel, TelescopeControl and DlgConfig, and a fake serial port.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Application.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "support/HeadlessFrontEnd.h"
#include "ui/MainDialogIds.h"

namespace vornic {
namespace {

using namespace std::chrono_literals;

// A serial port with nothing on the line. It counts every call, and notes what a port must never
// see: a write or read after close, a close while a read is still running.
class FakePort final : public platform::SerialPort {
  public:
    struct Record {
        int calls = 0;  // every call of any kind
        int opens = 0;
        int closes = 0;
        int writes = 0;
        std::string openedPath;
        uint32_t baud = 0;
        std::thread::id closedOn;
        bool misuse = false;
    };

    FakePort(std::shared_ptr<std::mutex> mutex, std::shared_ptr<Record> record, bool failOpen)
        : mutex_(std::move(mutex)), record_(std::move(record)), failOpen_(failOpen) {}

    platform::OpenResult open(const char* devicePath, uint32_t baudRate) override {
        std::lock_guard<std::mutex> lock(*mutex_);
        ++record_->calls;
        ++record_->opens;
        record_->openedPath = devicePath;
        record_->baud = baudRate;
        platform::OpenResult result;
        if (failOpen_ || open_) {
            result.error = platform::OpenError::NoSuchDevice;
            return result;
        }
        open_ = true;
        return result;
    }
    bool isOpen() const override {
        std::lock_guard<std::mutex> lock(*mutex_);
        return open_;
    }
    bool write(const uint8_t*, size_t, unsigned) override {
        std::lock_guard<std::mutex> lock(*mutex_);
        ++record_->calls;
        ++record_->writes;
        record_->misuse |= !open_;
        return open_;
    }
    platform::ReadResult read(uint8_t*, size_t) override {
        std::unique_lock<std::mutex> lock(*mutex_);
        ++record_->calls;
        record_->misuse |= !open_;
        ++reading_;
        changed_.wait(lock, [this] { return stop_; });
        --reading_;
        return {platform::ReadStatus::Stopped, 0};
    }
    void waitForStop() override {
        std::unique_lock<std::mutex> lock(*mutex_);
        ++record_->calls;
        changed_.wait(lock, [this] { return stop_; });
    }
    void signalStop() override {
        {
            std::lock_guard<std::mutex> lock(*mutex_);
            ++record_->calls;
            stop_ = true;
        }
        changed_.notify_all();
    }
    void resetStop() override {
        std::lock_guard<std::mutex> lock(*mutex_);
        ++record_->calls;
        stop_ = false;
    }
    void close() override {
        std::lock_guard<std::mutex> lock(*mutex_);
        ++record_->calls;
        ++record_->closes;
        record_->closedOn = std::this_thread::get_id();
        record_->misuse |= reading_ > 0;
        open_ = false;
    }

  private:
    std::shared_ptr<std::mutex> mutex_;
    std::shared_ptr<Record> record_;
    const bool failOpen_;
    std::condition_variable changed_;
    bool open_ = false;
    bool stop_ = false;
    int reading_ = 0;
};

class ApplicationTest : public ::testing::Test {
  protected:
    // The record outlives the port, which the application destroys during shutdown.
    FakePort::Record record() const {
        std::lock_guard<std::mutex> lock(*mutex_);
        return *record_;
    }

    Application::SerialPortFactory factory(bool failOpen = false) {
        return [this, failOpen] {
            ++portsMade_;
            return std::make_unique<FakePort>(mutex_, record_, failOpen);
        };
    }

    static ApplicationOptions fastOptions() {
        ApplicationOptions options;
        options.heartbeatInterval = 10ms;
        options.controlOptions.connectPauseMs = 0;
        options.controlOptions.readerStopTimeoutMs = 2000;
        return options;
    }

    std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
    std::shared_ptr<FakePort::Record> record_ = std::make_shared<FakePort::Record>();
    int portsMade_ = 0;
    platform::PortTable ports_;
};

size_t threadCount() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

// A front end whose common-control registration fails; it counts the threads when the message
// box shows.
class FailingFrontEnd final : public FrontEnd, public ui::UiPoster {
  public:
    bool initCommonControls() override { return false; }
    void showMessageBox(const char* text, const char* caption) override {
        shown.push_back(std::string(text) + "|" + caption);
        threadsAtMessage = threadCount();
    }
    ui::UiPoster& poster() override { return *this; }
    int runMainDialog(ui::DlgConfig&) override {
        ++runs;
        return 1;
    }
    void post(uint32_t, uint32_t) override {}

    std::vector<std::string> shown;
    size_t threadsAtMessage = 0;
    int runs = 0;
};

TEST_F(ApplicationTest, CommonControlsFailureShowsMessageAndCreatesNothing) {
    if (!std::filesystem::exists("/proc/self/task")) {
        GTEST_SKIP() << "needs /proc to count threads";
    }
    FailingFrontEnd frontEnd;
    Application app(frontEnd, factory(), ports_, fastOptions());
    const size_t before = threadCount();
    EXPECT_EQ(app.run(), 0);
    ASSERT_EQ(frontEnd.shown.size(), 1u);
    EXPECT_EQ(frontEnd.shown[0], "Init Common Controls failed|Error");
    EXPECT_EQ(frontEnd.threadsAtMessage, before);
    EXPECT_EQ(frontEnd.runs, 0);
    EXPECT_EQ(portsMade_, 0);
    EXPECT_EQ(app.telescopeControl(), nullptr);
}

TEST_F(ApplicationTest, OpenAndCloseWithoutConnectingTouchesNoPort) {
    HeadlessFrontEnd frontEnd;
    bool ran = false;
    Application* appSeen = nullptr;
    Application app(frontEnd, factory(), ports_, fastOptions());
    appSeen = &app;
    frontEnd.setScript([&](HeadlessFrontEnd&, ui::InMemoryControlModel& model, ui::DlgConfig&) {
        ran = true;
        // Wired and running while the dialog is up.
        EXPECT_NE(appSeen->telescopeControl(), nullptr);
        ASSERT_NE(appSeen->heartBeat(), nullptr);
        EXPECT_TRUE(appSeen->heartBeat()->isRunning());
        EXPECT_EQ(model.items(ui::kIdPortList).size(), 256u);
        EXPECT_TRUE(model.isChecked(ui::kIdTrackOff));
        model.close();
        EXPECT_TRUE(model.ended());
        EXPECT_EQ(model.endResult(), 1);
    });
    EXPECT_EQ(app.run(), 0);
    EXPECT_TRUE(ran);
    EXPECT_EQ(frontEnd.dialogRuns(), 1);
    EXPECT_TRUE(frontEnd.messageBoxes().empty());
    EXPECT_EQ(portsMade_, 1);
    EXPECT_EQ(record().calls, 0);
    EXPECT_TRUE(app.heartBeatStopped());
    EXPECT_EQ(app.telescopeControl(), nullptr);
    EXPECT_EQ(app.appModel(), nullptr);
}

TEST_F(ApplicationTest, ScriptThatLeavesDialogOpenIsClosedByFrontEnd) {
    HeadlessFrontEnd frontEnd;
    Application app(frontEnd, factory(), ports_, fastOptions());
    EXPECT_EQ(app.run(), 0);
    EXPECT_EQ(frontEnd.dialogRuns(), 1);
    EXPECT_EQ(record().calls, 0);
}

TEST_F(ApplicationTest, ReportsTravelFromWorkerToStatusLine) {
    HeadlessFrontEnd frontEnd;
    Application app(frontEnd, factory(/*failOpen=*/true), ports_, fastOptions());
    ports_.set(3, "/dev/fake-kz2");
    frontEnd.setScript([&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model, ui::DlgConfig&) {
        model.selectItem(ui::kIdPortList, 2);
        model.click(ui::kIdBaud115200);
        model.click(ui::kIdConnect);
        // The bare status gives way to the reason, in the words of the command line.
        EXPECT_TRUE(fe.pumpUntil(
            [&] {
                return model.text(ui::kIdStatusLine).rfind("Error: cannot open /dev/fake-kz2", 0) ==
                       0;
            },
            10s))
            << model.text(ui::kIdStatusLine);
        // An operation before any connection comes back as status 12.
        model.click(ui::kIdDisconnect);
        EXPECT_TRUE(fe.pumpUntil(
            [&] { return model.text(ui::kIdStatusLine) == "Error: Not connected yet"; }, 10s))
            << model.text(ui::kIdStatusLine);
    });
    EXPECT_EQ(app.run(), 0);
    const FakePort::Record r = record();
    EXPECT_EQ(r.opens, 1);
    EXPECT_EQ(r.openedPath, "/dev/fake-kz2");
    EXPECT_EQ(r.baud, 115200u);
    EXPECT_EQ(r.closes, 0);
    EXPECT_GE(frontEnd.deliveredPosts(), 2u);
}

TEST_F(ApplicationTest, ClosingWhileConnectedStopsWorkerThenClosesPortOnUiThread) {
    HeadlessFrontEnd frontEnd;
    Application app(frontEnd, factory(), ports_, fastOptions());
    ports_.set(1, "/dev/fake-kz2");
    frontEnd.setScript([&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model, ui::DlgConfig&) {
        model.click(ui::kIdConnect);
        EXPECT_TRUE(
            fe.pumpUntil([&] { return model.text(ui::kIdStatusLine) == "Connecting..."; }, 10s))
            << model.text(ui::kIdStatusLine);
        // The handshake's first request goes out; the controller never answers.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (record().writes == 0 && std::chrono::steady_clock::now() < deadline) {
            fe.pumpUntil([] { return false; }, 5ms);
        }
        EXPECT_GT(record().writes, 0);
        // Reports keep coming while the dialog goes away.
        for (int i = 0; i < 50; ++i) {
            model.click(ui::kIdConnect);  // each answered with "Already connected"
        }
        model.close();
    });
    EXPECT_EQ(app.run(), 0);
    const FakePort::Record r = record();
    EXPECT_EQ(r.opens, 1);
    EXPECT_EQ(r.baud, 9600u);
    EXPECT_EQ(r.closes, 1);
    EXPECT_EQ(r.closedOn, std::this_thread::get_id()) << "closed at shutdown, not by the worker";
    EXPECT_FALSE(r.misuse);
    EXPECT_TRUE(app.heartBeatStopped());
}

TEST_F(ApplicationTest, DisconnectClosesPortOnWorker) {
    HeadlessFrontEnd frontEnd;
    Application app(frontEnd, factory(), ports_, fastOptions());
    ports_.set(1, "/dev/fake-kz2");
    frontEnd.setScript([&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model, ui::DlgConfig&) {
        model.click(ui::kIdConnect);
        ASSERT_TRUE(
            fe.pumpUntil([&] { return model.text(ui::kIdStatusLine) == "Connecting..."; }, 10s));
        model.click(ui::kIdDisconnect);
        ASSERT_TRUE(fe.pumpUntil(
            [&] { return model.text(ui::kIdStatusLine) == "Connection closed"; }, 10s));
        EXPECT_EQ(record().closes, 1);
    });
    EXPECT_EQ(app.run(), 0);
    const FakePort::Record r = record();
    EXPECT_EQ(r.closes, 1) << "a closed port is not closed again at shutdown";
    EXPECT_NE(r.closedOn, std::this_thread::get_id());
    EXPECT_FALSE(r.misuse);
}

// The ring is fixed; a flood of notifications beyond it is dropped without losing the latest
// report, since every notification delivers what the mailbox holds.
TEST(HeadlessFrontEndTest, FullQueueDropsButLatestReportStillShows) {
    HeadlessFrontEnd frontEnd;
    frontEnd.post(1000, 0);
    EXPECT_EQ(frontEnd.droppedPosts(), 1u) << "nothing is queued while no dialog runs";

    ui::AppModel appModel;
    struct NoControl final : iTelescopeControl {
        void onHeartBeat() override {}
        void connect(uint32_t, uint32_t) override {}
        void disconnect() override {}
        void startMove(uint32_t, uint32_t) override {}
        void stopMove(uint32_t) override {}
        void setTracking(uint32_t) override {}
        void setExp(uint32_t) override {}
        void sendCode20() override {}
        void storeSettings() override {}
        void sendCode22() override {}
        void reloadDefaults() override {}
        void setGearRatios(uint32_t, uint32_t) override {}
        void setReverseFlags(uint32_t, uint32_t, uint32_t) override {}
        void setMotorCurrent(uint32_t, uint32_t) override {}
        void setDecay(uint32_t, uint32_t) override {}
        void setMaxSpeeds(uint32_t, uint32_t) override {}
        void setAccelerations(uint32_t, uint32_t) override {}
        void setDecelerations(uint32_t, uint32_t) override {}
        void setOvertone(uint32_t, int32_t) override {}
        void setCurrentBoost(uint32_t, uint32_t, uint32_t) override {}
        void setGuidingRates(uint32_t, uint32_t) override {}
        void setPositionPair(uint32_t, uint32_t) override {}
        void applySiteSettings(const SiteSettings&) override {}
        void measureVoltage() override {}
        void initScope(uint32_t) override {}
        void defineParkPosition() override {}
    } control;
    ui::DlgConfig dlg(control, appModel, frontEnd);
    appModel.attachDialog(&dlg);
    appModel.setMainDialog(&dlg);

    frontEnd.setScript([&](HeadlessFrontEnd& fe, ui::InMemoryControlModel& model, ui::DlgConfig&) {
        std::thread worker([&] {
            for (uint32_t i = 0; i < HeadlessFrontEnd::kQueueCapacity + 50; ++i) {
                appModel.onVoltage(i);
            }
        });
        worker.join();
        EXPECT_EQ(fe.overflowedPosts(), 50u);
        EXPECT_EQ(fe.pump(), HeadlessFrontEnd::kQueueCapacity);
        char expected[24];
        formatVoltage(HeadlessFrontEnd::kQueueCapacity + 49, expected, sizeof expected);
        EXPECT_EQ(model.text(ui::kIdVoltage), expected);
        EXPECT_EQ(fe.pump(), 0u);
    });
    EXPECT_EQ(frontEnd.runMainDialog(dlg), 1);
    // The window is gone: what the worker reports now is not posted at all.
    appModel.onVoltage(1);
    EXPECT_EQ(frontEnd.droppedPosts(), 1u);
    appModel.setMainDialog(nullptr);
    appModel.detachDialog();
}

}  // namespace
}  // namespace vornic
