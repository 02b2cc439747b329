#pragma once
// What the desktop program's tests share: the QApplication on the offscreen platform, waiting
// while the event loop runs, and the real program (Application + QtFrontEnd) on a simulated KZ2
// behind a pseudo-terminal, with every request frame recorded on its way to the port.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/PortList.h"
#include "desktop/qt/QtFrontEnd.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "sim/Kz2Device.h"
#include "sim/PtySimulator.h"

namespace vornic::qttest {

using Bytes = std::vector<uint8_t>;

// The one QApplication of the test program (offscreen unless a platform was chosen).
void ensureApplication();

// Runs the event loop until `done` holds or `timeoutMs` ran out; returns `done()`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Request frames written to the port, cut at their length bytes.
class Wire {
  public:
    void written(const uint8_t* bytes, size_t count);
    [[nodiscard]] std::vector<Bytes> requests() const;
    [[nodiscard]] size_t count() const { return requests().size(); }
    // The frames written after the first `from`, once the count has stayed put for `quietMs`.
    [[nodiscard]] std::vector<Bytes> settledFrom(size_t from, int quietMs = 300) const;

  private:
    mutable std::mutex mutex_;
    Bytes sent_;
};

class RecordingPort final : public platform::SerialPort {
  public:
    RecordingPort(std::unique_ptr<platform::SerialPort> inner, std::shared_ptr<Wire> wire)
        : inner_(std::move(inner)), wire_(std::move(wire)) {}
    platform::OpenResult open(const char* path, uint32_t baud) override {
        return inner_->open(path, baud);
    }
    bool isOpen() const override { return inner_->isOpen(); }
    bool write(const uint8_t* bytes, size_t count, unsigned timeoutMs) override {
        wire_->written(bytes, count);
        return inner_->write(bytes, count, timeoutMs);
    }
    platform::ReadResult read(uint8_t* buffer, size_t max) override {
        return inner_->read(buffer, max);
    }
    void waitForStop() override { inner_->waitForStop(); }
    void signalStop() override { inner_->signalStop(); }
    void resetStop() override { inner_->resetStop(); }
    void close() override { inner_->close(); }

  private:
    std::unique_ptr<platform::SerialPort> inner_;
    std::shared_ptr<Wire> wire_;
};

// A request frame: AA, the payload length, the payload.
class Frame {
  public:
    Frame& u8(uint32_t v) {
        bytes_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Frame& u16(uint32_t v) { return u8(v).u8(v >> 8); }
    Frame& u32(uint32_t v) { return u16(v).u16(v >> 16); }
    operator Bytes() const {
        Bytes out{0xAA, static_cast<uint8_t>(bytes_.size())};
        out.insert(out.end(), bytes_.begin(), bytes_.end());
        return out;
    }

  private:
    Bytes bytes_;
};

// The program against a simulated controller: the port list offers the devices in `present_`
// (none unless a test plugs some in) and the simulator, selected.
class ProgramFixture : public ::testing::Test {
  protected:
    void SetUp() override { ensureApplication(); }
    void TearDown() override {
        if (sim_) {
            sim_->stop();
        }
    }

    void startSimulator(int level, const sim::FaultPlan& faults = {});
    // Runs the whole program; `script` plays the user once the window is shown. The window is
    // closed through its close box if the script leaves it open.
    void runProgram(const std::function<void(ui::qt::QtDialog&, ui::DlgConfig&)>& script);

    sim::ConfigImage image_ = sim::factoryImage();
    std::unique_ptr<sim::PtySimulator> sim_;
    std::shared_ptr<Wire> wire_ = std::make_shared<Wire>();
    platform::PortTable ports_;
    std::vector<platform::PortInfo> present_;
    std::unique_ptr<PortList> portList_;
    ui::qt::QtFrontEnd frontEnd_;
};

}  // namespace vornic::qttest

namespace vornic::qttest {

// Clicks control `id` of `window` with the mouse.
void click(ui::qt::QtDialog& window, ui::ControlId id);

// Runs `then` on the secondary dialog `owner` opens next, once it is shown; call before the click
// that opens it (the click does not return until the dialog has ended).
void whenModalOpens(ui::qt::QtDialog& owner, std::function<void(ui::qt::QtDialog&)> then);

}  // namespace vornic::qttest
