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
#include "sim/Kz2Device.h"
#include "sim/PtySimulator.h"
#include "support/RecordingPort.h"

namespace vornic::qttest {

using test::ask;
using test::Bytes;
using test::Frame;
using test::RecordingPort;
using test::Wire;

// The one QApplication of the test program (offscreen unless a platform was chosen).
void ensureApplication();

// Runs the event loop until `done` holds or `timeoutMs` ran out; returns `done()`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// The frames written after the first `from`, once the count has stayed put for `quietMs` while
// the event loop ran.
std::vector<Bytes> settledFrom(const Wire& wire, size_t from, int quietMs = 300);

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
    // Where the program keeps its snapshots; a test that looks at them gives a folder of its own.
    std::string snapshotRoot_;
};

}  // namespace vornic::qttest

namespace vornic::qttest {

// Clicks control `id` of `window` with the mouse.
void click(ui::qt::QtDialog& window, ui::ControlId id);

// Runs `then` on the secondary dialog `owner` opens next, once it is shown; call before the click
// that opens it (the click does not return until the dialog has ended).
void whenModalOpens(ui::qt::QtDialog& owner, std::function<void(ui::qt::QtDialog&)> then);

}  // namespace vornic::qttest
