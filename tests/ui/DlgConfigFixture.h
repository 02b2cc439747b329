#pragma once
// Shared set-up for the main dialog tests: a DlgConfig on an in-memory model of dialog 100, with a
// recording controller behind it and a recording poster in front of it.

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "controller/Contract.h"
#include "controller/MountSettings.h"
#include "support/InMemoryControlModel.h"
#include "support/RecordingTelescopeControl.h"
#include "ui/AppModel.h"
#include "ui/DlgConfig.h"
#include "ui/MainDialogIds.h"

namespace vornic::ui::test {

using vornic::test::call;
using vornic::test::RecordingTelescopeControl;
using vornic::test::TelescopeCall;

class RecordingPoster final : public UiPoster {
  public:
    void post(uint32_t wParam, uint32_t lParam) override {
        std::lock_guard<std::mutex> lock(mutex_);
        posts_.emplace_back(wParam, lParam);
    }
    std::vector<std::pair<uint32_t, uint32_t>> posts() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return posts_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<uint32_t, uint32_t>> posts_;
};

// A controller of feature level 5 as a first settings report would describe it.
inline MountSettings sampleSettings() {
    MountSettings s;
    s.featureLevel = 5;
    s.hardwareVersion = 0x01020304;
    s.firmwareVersion = 0x02040100;
    s.portType = 1;
    s.gearRatio[kRa] = 172800;
    s.gearRatio[kDe] = 164000;
    s.maxSpeed[kRa] = 600;
    s.maxSpeed[kDe] = 900;
    s.acceleration[kRa] = 100;
    s.acceleration[kDe] = 50;
    s.deceleration[kRa] = 30;
    s.deceleration[kDe] = 200;
    s.guidingRate[kRa] = 8;
    s.guidingRate[kDe] = 0;
    s.reverseRotation = 1;
    s.reverseAutoguiding = 2;
    s.reverseLimitSwitches = 3;
    s.maxCurrent[kRa] = 1000;
    s.maxCurrent[kDe] = 2000;
    s.motorCurrent[kRa][kIdle] = 250;
    s.motorCurrent[kRa][kTrack] = 500;
    s.motorCurrent[kRa][kRun] = 1000;
    s.motorCurrent[kDe][kIdle] = 100;
    s.motorCurrent[kDe][kTrack] = 1500;
    s.motorCurrent[kDe][kRun] = 2000;
    s.decay[kRa][kIdle] = 0;
    s.decay[kRa][kTrack] = 1;
    s.decay[kRa][kRun] = 2;
    s.decay[kDe][kIdle] = 3;
    s.decay[kDe][kTrack] = 2;
    s.decay[kDe][kRun] = 1;
    s.thirdOvertone[kRa] = -5;
    s.thirdOvertone[kDe] = 7;
    s.incCurrentAt[kRa] = 120;
    s.incCurrentAt[kDe] = 5;
    s.mountType = 1;
    s.latitude = 4104360;
    s.longitude = -2400;  // 100 arc-seconds west: whole seconds, so it reads back unchanged
    s.meridianFlipHysteresis = 10;
    return s;
}

class DlgConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        model.setHScrollHandler([this](int code, ControlId id) { dlg.onHScroll(code, id); });
        model.attach(dlg);
        model.clearCalls();
    }

    // A full report of kind 1 from the sample controller; forgets what it did to the model.
    void connectSample(MountSettings s = sampleSettings()) {
        dlg.showSettings(s, report::kConnected);
        model.clearCalls();
        ASSERT_TRUE(control.calls().empty());
    }

    std::vector<TelescopeCall> sent() { return control.take(); }

    RecordingTelescopeControl control;
    AppModel appModel;
    RecordingPoster poster;
    DlgConfig dlg{control, appModel, poster};
    InMemoryControlModel model{kMainDialogId};
};

}  // namespace vornic::ui::test
