// The main dialog as a display: its state right after creation, the enabled state, the status,
// identity and voltage fields, and what each kind of settings report shows.

#include <cstring>
#include <string>

#include "DlgConfigFixture.h"

namespace vornic::ui::test {
namespace {

bool anyEnabled(const InMemoryControlModel& m) {
    for (ControlId id : kEnableList) {
        if (m.hasControl(id) && m.isEnabled(id)) {
            return true;
        }
    }
    return false;
}

bool allEnabled(const InMemoryControlModel& m) {
    for (ControlId id : kEnableList) {
        if (m.hasControl(id) && !m.isEnabled(id)) {
            return false;
        }
    }
    return true;
}

TEST_F(DlgConfigTest, InitialStateBeforeAnyReport) {
    EXPECT_EQ(dlg.dialogId(), 100);
    EXPECT_FALSE(anyEnabled(model));
    EXPECT_FALSE(model.isEnabled(kIdAdvancedSettings));
    // Everything outside the enable list stays usable.
    for (ControlId id : {kIdPortList, kIdBaud115200, kIdConnect, kIdDisconnect, kIdAbout}) {
        EXPECT_TRUE(model.isEnabled(id)) << id;
    }

    const auto ports = model.items(kIdPortList);
    ASSERT_EQ(ports.size(), 256u);
    EXPECT_EQ(ports.front(), "COM1");
    EXPECT_EQ(ports[9], "COM10");
    EXPECT_EQ(ports.back(), "COM256");
    EXPECT_EQ(model.selection(kIdPortList), 0);

    EXPECT_FALSE(model.isChecked(kIdBaud115200));
    EXPECT_FALSE(model.isChecked(kIdTrackOn));
    EXPECT_TRUE(model.isChecked(kIdTrackOff));
    EXPECT_EQ(model.sliderPos(kIdSpeed), 10);
    EXPECT_EQ(model.sliderMax(kIdSpeed), 31);
    EXPECT_EQ(model.text(kIdStatusLine), "");
    EXPECT_EQ(model.text(kIdIdentityLine), "");
    EXPECT_EQ(model.text(kIdMaxSpeedRa), "");

    EXPECT_EQ(model.image(kIdMoveNorth), image::kArrowUp);
    EXPECT_EQ(model.image(kIdMoveSouth), image::kArrowDown);
    EXPECT_EQ(model.image(kIdMoveEast), image::kArrowLeft);
    EXPECT_EQ(model.image(kIdMoveWest), image::kArrowRight);
}

TEST_F(DlgConfigTest, SliderRangesAfterInit) {
    struct Range {
        ControlId id;
        int min;
        int max;
    };
    for (int d : {0, 100}) {
        for (Range r :
             {Range{210, 0, 39}, Range{212, 0, 15}, Range{214, 0, 15}, Range{233, 0, 15},
              Range{234, 0, 15}, Range{235, 0, 15}, Range{240, 0, 3}, Range{241, 0, 3},
              Range{242, 0, 3}, Range{250, -20, 20}, Range{252, 0, 31}, Range{260, 0, 15}}) {
            EXPECT_EQ(model.sliderMin(r.id + d), r.min) << r.id + d;
            EXPECT_EQ(model.sliderMax(r.id + d), r.max) << r.id + d;
            EXPECT_EQ(model.sliderPos(r.id + d), 0) << r.id + d;
        }
    }
}

TEST_F(DlgConfigTest, StatusCodesDriveLineAndEnabledState) {
    dlg.showStatus(status::kConnectionEstablished);
    EXPECT_EQ(model.text(kIdStatusLine), "Connection established.");
    // Before a settings report nothing says which settings the controller has.
    EXPECT_TRUE(model.isEnabled(kIdStop));
    EXPECT_FALSE(model.isEnabled(kIdMaxSpeedRa));
    EXPECT_FALSE(model.isEnabled(kIdAdvancedSettings)) << "status 3 alone never unlocks it";
    dlg.showSettings(sampleSettings(), report::kDefaultsReloaded);
    dlg.showStatus(status::kConnectionEstablished);
    EXPECT_TRUE(allEnabled(model));

    // Error statuses touch only the status line.
    model.clearCalls();
    dlg.showStatus(status::kCommunicationError);
    EXPECT_EQ(model.text(kIdStatusLine), "Error: Communication error");
    ASSERT_EQ(model.calls().size(), 1u);
    EXPECT_EQ(model.calls()[0].kind, CallKind::kSetText);
    EXPECT_TRUE(allEnabled(model));

    dlg.showStatus(status::kConnectionClosed);
    EXPECT_EQ(model.text(kIdStatusLine), "Connection closed");
    EXPECT_FALSE(anyEnabled(model));

    dlg.showStatus(status::kSettingsDone);
    EXPECT_EQ(model.text(kIdStatusLine), "Settings done.");
    EXPECT_TRUE(control.calls().empty());
}

// Once no port is open (closed, never opened, or a failed handshake) nothing describes a controller
// any more: identity and voltage go, the settings stay greyed with their last values, and the
// port list, locked while connected, can be changed again.
TEST_F(DlgConfigTest, StatusesWithoutAPortClearIdentityAndVoltage) {
    for (StatusCode code : {status::kConnectionClosed, status::kCannotOpenPort, status::kTimeout,
                            status::kIncompatibleDevice}) {
        SCOPED_TRACE(code);
        dlg.showSettings(sampleSettings(), report::kConnected);
        dlg.showVoltage(1234);
        EXPECT_FALSE(model.isEnabled(kIdPortList));
        dlg.showStatus(code);
        EXPECT_EQ(model.text(kIdIdentityLine), "");
        EXPECT_EQ(model.text(kIdVoltage), "");
        EXPECT_FALSE(anyEnabled(model));
        EXPECT_EQ(model.text(kIdMaxSpeedRa), "600");
        EXPECT_TRUE(model.isEnabled(kIdPortList));
    }
}

TEST_F(DlgConfigTest, StatusPastTheLastChangesNothing) {
    dlg.showStatus(status::kReady);
    model.clearCalls();
    for (StatusCode code : {status::kLast + 1, status::kLast + 2, 1000u, 0xFFFFFFFFu}) {
        dlg.showStatus(code);
    }
    EXPECT_TRUE(model.calls().empty());
    EXPECT_EQ(model.text(kIdStatusLine), "Ready");
}

TEST_F(DlgConfigTest, AdvancedSettingsFollowsFeatureLevel) {
    MountSettings s = sampleSettings();
    s.featureLevel = 4;
    dlg.showSettings(s, report::kConnected);
    EXPECT_TRUE(allEnabled(model));
    EXPECT_FALSE(model.isEnabled(kIdAdvancedSettings));

    s.featureLevel = 5;
    dlg.showSettings(s, report::kConnected);
    EXPECT_TRUE(model.isEnabled(kIdAdvancedSettings));

    // A later level-4 report or status 3 leaves it as it was; status 4 disables it.
    s.featureLevel = 4;
    dlg.showSettings(s, report::kDefaultsReloaded);
    EXPECT_TRUE(model.isEnabled(kIdAdvancedSettings));
    dlg.showStatus(status::kConnectionEstablished);
    EXPECT_TRUE(model.isEnabled(kIdAdvancedSettings));
    dlg.showStatus(status::kConnectionClosed);
    EXPECT_FALSE(model.isEnabled(kIdAdvancedSettings));
    EXPECT_FALSE(anyEnabled(model));
}

TEST_F(DlgConfigTest, EnableListSkipsIdsWithoutControl) {
    dlg.setControlsEnabled(true, 6);
    for (const ModelCall& c : model.calls()) {
        EXPECT_NE(c.id, 122);
        EXPECT_NE(c.id, 150);
    }
    // The list, "Advanced settings" and the port list.
    EXPECT_EQ(model.countCalls(CallKind::kSetEnabled), kEnableList.size() - 2 + 2);
}

// A control of a setting the controller's feature level lacks stays greyed, so that no request can
// carry what such a control shows (the record's 0) for the axis the user did not touch.
TEST_F(DlgConfigTest, ControlsFollowWhatTheFeatureLevelHolds) {
    const ControlId always[] = {kIdStop, kIdChangeGearRatio, kIdSaveSettings, kIdInitScope};
    const ControlId settings[] = {kIdMaxSpeedRa,     kIdAccelSliderRa,      kIdDecelDe,
                                  kIdMaxCurrentRa,   kIdRunCurrentSliderDe, kIdTrackDecayRa,
                                  kIdOvertoneRa,     kIdIncCurrentSliderDe, kIdGuidingDe,
                                  kIdReverseLimitsDe};
    for (uint8_t level = 0; level <= 6; ++level) {
        SCOPED_TRACE(static_cast<int>(level));
        dlg.showStatus(status::kConnectionClosed);
        MountSettings s = sampleSettings();
        s.featureLevel = level;
        dlg.showSettings(s, report::kConnected);
        for (ControlId id : always) {
            EXPECT_TRUE(model.isEnabled(id)) << id;
        }
        for (ControlId id : settings) {
            EXPECT_EQ(model.isEnabled(id), level >= 3) << id;
        }
        EXPECT_EQ(model.isEnabled(kIdAdvancedSettings), level >= 5);
        model.releaseSlider(kIdMaxSpeedSliderRa, 10);
        model.releaseSlider(kIdGuidingDe, 3);
        EXPECT_EQ(control.take().size(), level >= 3 ? 2u : 0u);
    }
}

TEST(VoltageText, FormatsHundredths) {
    struct Case {
        uint32_t value;
        const char* text;
    };
    for (Case c :
         {Case{1234, "12.34V"}, Case{905, " 9.05V"}, Case{5, " 0.05V"}, Case{0, " 0.00V"},
          Case{1200, "12.00V"}, Case{99999, "999.99V"}, Case{0xFFFFFFFFu, "42949672.95V"}}) {
        char text[24];
        formatVoltage(c.value, text, sizeof text);
        EXPECT_STREQ(text, c.text) << c.value;
    }
    char tiny[4] = {'x', 'x', 'x', 'x'};
    formatVoltage(1234, tiny, 3);
    EXPECT_STREQ(tiny, "12");
    EXPECT_EQ(tiny[3], 'x');
}

TEST_F(DlgConfigTest, ShowVoltageSetsField) {
    dlg.showVoltage(1234);
    EXPECT_EQ(model.text(kIdVoltage), "12.34V");
    dlg.showVoltage(0);
    EXPECT_EQ(model.text(kIdVoltage), " 0.00V");
}

TEST(IdentityLine, ExampleAndExtremes) {
    MountSettings s;
    s.hardwareVersion = 0x01020304;
    s.firmwareVersion = 0x02040100;
    s.portType = 1;
    char line[kIdentityLineSize];
    const uint32_t length = buildIdentityLine(s, line, sizeof line);
    EXPECT_EQ(length, std::strlen(line));
    EXPECT_STREQ(line, "HW:1.2.3.4 | FW:2.4.1.0 | Port type:1");

    s.hardwareVersion = 0xFFFFFFFF;
    s.firmwareVersion = 0;
    s.portType = 255;
    buildIdentityLine(s, line, sizeof line);
    EXPECT_STREQ(line, "HW:255.255.255.255 | FW:0.0.0.0 | Port type:255");
}

TEST(IdentityLine, CutToSmallBufferWithoutOverrun) {
    MountSettings s;
    s.hardwareVersion = 0x01020304;
    s.firmwareVersion = 0x02040100;
    s.portType = 1;
    // Every cut keeps within the buffer and leaves a terminated prefix of the full line.
    const std::string full = "HW:1.2.3.4 | FW:2.4.1.0 | Port type:1";
    for (uint32_t size = 1; size <= full.size() + 2; ++size) {
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        const uint32_t length = buildIdentityLine(s, buffer, size);
        ASSERT_LT(length, size);
        EXPECT_EQ(buffer[length], '\0');
        EXPECT_EQ(buffer[size], '#') << "wrote past the end at size " << size;
        EXPECT_EQ(std::string(buffer), full.substr(0, length)) << size;
    }
    char buffer[8];
    buildIdentityLine(s, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "HW:1.2.");
}

TEST_F(DlgConfigTest, FullReportFillsEveryControlAndSendsNothing) {
    const MountSettings s = sampleSettings();
    dlg.showSettings(s, report::kConnected);

    EXPECT_EQ(model.text(kIdStatusLine), "Connection established.");
    EXPECT_EQ(model.text(kIdIdentityLine), "HW:1.2.3.4 | FW:2.4.1.0 | Port type:1");
    EXPECT_EQ(model.text(kIdGearRa), "172800");
    EXPECT_EQ(model.text(kIdGearDe), "164000");
    EXPECT_EQ(dlg.gearRatios(), (GearRatios{172800, 164000}));

    // Max speed 600 -> slider 20, 900 -> 30.
    EXPECT_EQ(model.text(211), "600");
    EXPECT_EQ(model.sliderPos(210), 20);
    EXPECT_EQ(model.text(311), "900");
    EXPECT_EQ(model.sliderPos(310), 30);
    // Ramps: (v + 8) / 16.
    EXPECT_EQ(model.text(213), "100");
    EXPECT_EQ(model.sliderPos(212), 6);
    EXPECT_EQ(model.text(215), "30");
    EXPECT_EQ(model.sliderPos(214), 2);
    EXPECT_EQ(model.text(313), "50");
    EXPECT_EQ(model.sliderPos(312), 3);
    EXPECT_EQ(model.text(315), "200");
    EXPECT_EQ(model.sliderPos(314), 13);
    // Guiding: v - 1, and 0 for 0.
    EXPECT_EQ(model.sliderPos(260), 7);
    EXPECT_EQ(model.sliderPos(360), 0);
    // Reverse bit pairs: bit 0 RA, bit 1 DE.
    EXPECT_TRUE(model.isChecked(201));
    EXPECT_FALSE(model.isChecked(301));
    EXPECT_FALSE(model.isChecked(202));
    EXPECT_TRUE(model.isChecked(302));
    EXPECT_TRUE(model.isChecked(203));
    EXPECT_TRUE(model.isChecked(303));
    // Currents: 16 * v / max, the slider stopping at 15.
    EXPECT_EQ(model.text(220), "1000");
    EXPECT_EQ(model.text(230), "250");
    EXPECT_EQ(model.sliderPos(233), 4);
    EXPECT_EQ(model.text(231), "500");
    EXPECT_EQ(model.sliderPos(234), 8);
    EXPECT_EQ(model.text(232), "1000");
    EXPECT_EQ(model.sliderPos(235), 15);
    EXPECT_EQ(model.text(320), "2000");
    EXPECT_EQ(model.text(330), "100");
    EXPECT_EQ(model.sliderPos(333), 0);
    EXPECT_EQ(model.text(331), "1500");
    EXPECT_EQ(model.sliderPos(334), 12);
    EXPECT_EQ(model.sliderPos(335), 15);
    // Decay
    EXPECT_EQ(model.sliderPos(240), 0);
    EXPECT_EQ(model.sliderPos(241), 1);
    EXPECT_EQ(model.sliderPos(242), 2);
    EXPECT_EQ(model.sliderPos(340), 3);
    EXPECT_EQ(model.sliderPos(341), 2);
    EXPECT_EQ(model.sliderPos(342), 1);
    // 3rd overtone, signed.
    EXPECT_EQ(model.text(251), "-5");
    EXPECT_EQ(model.sliderPos(250), -5);
    EXPECT_EQ(model.text(351), "7");
    EXPECT_EQ(model.sliderPos(350), 7);
    // Inc. current at: (v - 10) / 20, 0 below 10.
    EXPECT_EQ(model.text(253), "120");
    EXPECT_EQ(model.sliderPos(252), 5);
    EXPECT_EQ(model.text(353), "5");
    EXPECT_EQ(model.sliderPos(352), 0);

    const SiteSettings& site = dlg.siteSettings();
    EXPECT_EQ(site.mountType, 1u);
    EXPECT_EQ(site.latitude, 4104360);
    EXPECT_EQ(site.longitude, -2400);
    EXPECT_EQ(site.hysteresis, 10u);
    EXPECT_EQ(site.changeMask, 0u);

    EXPECT_TRUE(allEnabled(model));
    EXPECT_TRUE(model.isEnabled(kIdAdvancedSettings));
    EXPECT_TRUE(control.calls().empty());
}

TEST_F(DlgConfigTest, MaxSpeedUsesLow16BitsAndSliderStopsAt39) {
    MountSettings s = sampleSettings();
    s.maxSpeed[kRa] = 0x10000 + 1500;
    dlg.showSettings(s, report::kConnected);
    EXPECT_EQ(model.text(211), "1500");
    EXPECT_EQ(model.sliderPos(210), 39);
    // The stored value is the cut one: typing it again sends nothing.
    model.enterText(211, "1500");
    EXPECT_TRUE(control.calls().empty());
}

TEST_F(DlgConfigTest, ZeroMaxCurrentLeavesThatAxisCurrentsAlone) {
    connectSample();
    model.typeText(230, "777");
    MountSettings s = sampleSettings();
    s.maxCurrent[kRa] = 0;
    s.motorCurrent[kRa][kIdle] = 50;
    dlg.showSettings(s, report::kDefaultsReloaded);

    EXPECT_EQ(model.text(kIdStatusLine), "Default settings reloaded");
    EXPECT_EQ(model.text(220), "0");
    EXPECT_EQ(model.text(230), "777");
    EXPECT_EQ(model.text(231), "500");
    EXPECT_EQ(model.sliderPos(233), 4);
    EXPECT_EQ(model.countCalls(CallKind::kSetSliderPos, 233), 0u);
    EXPECT_EQ(model.countCalls(CallKind::kSetUnsigned, 230), 0u);
    // The DE axis is filled as usual.
    EXPECT_EQ(model.text(330), "100");
}

TEST_F(DlgConfigTest, TooOldReportShowsOnlyStatusAndIdentity) {
    MountSettings s = sampleSettings();
    s.hardwareVersion = 0x00010000;
    dlg.showSettings(s, report::kTooOld);
    EXPECT_EQ(model.text(kIdStatusLine), "Error: The connected KZ2 is too old. Use Vornic 1.0.");
    EXPECT_EQ(model.text(kIdIdentityLine), "HW:0.1.0.0 | FW:2.4.1.0 | Port type:1");
    ASSERT_EQ(model.calls().size(), 2u);
    EXPECT_EQ(model.calls()[0].id, kIdStatusLine);
    EXPECT_EQ(model.calls()[1].id, kIdIdentityLine);
    EXPECT_FALSE(anyEnabled(model));
}

TEST_F(DlgConfigTest, GearRatioReportChangesOnlyTheRatios) {
    connectSample();
    MountSettings s = sampleSettings();
    s.gearRatio[kRa] = 287200;
    s.gearRatio[kDe] = 1;
    s.maxSpeed[kRa] = 30;  // must not be shown
    dlg.showSettings(s, report::kGearRatios);
    EXPECT_EQ(model.text(kIdGearRa), "287200");
    EXPECT_EQ(model.text(kIdGearDe), "1");
    EXPECT_EQ(dlg.gearRatios(), (GearRatios{287200, 1}));
    ASSERT_EQ(model.calls().size(), 2u);
    EXPECT_EQ(model.text(211), "600");
    EXPECT_EQ(model.text(kIdStatusLine), "Connection established.");
}

TEST_F(DlgConfigTest, UnknownReportKindIsAFullUpdateWithoutStatus) {
    dlg.showStatus(status::kReady);
    dlg.showSettings(sampleSettings(), 7);
    EXPECT_EQ(model.text(kIdStatusLine), "Ready");
    EXPECT_EQ(model.text(211), "600");
    EXPECT_TRUE(allEnabled(model));
}

TEST(DlgConfigDetached, ReportsBeforeInitAndAfterTheWindowIsGoneShowNothing) {
    RecordingTelescopeControl control;
    AppModel appModel;
    RecordingPoster poster;
    DlgConfig dlg(control, appModel, poster);
    // No window yet: nothing to show into and nothing to post to.
    dlg.showStatus(status::kConnectionEstablished);
    dlg.showSettings(sampleSettings(), report::kConnected);
    dlg.showVoltage(1234);
    dlg.onHScroll(kScrollEndTrack, kIdGuidingRa);
    dlg.postUserMessage(kReportNotification, 0);
    EXPECT_TRUE(poster.posts().empty());

    {
        InMemoryControlModel model(kMainDialogId);
        model.attach(dlg);
        EXPECT_EQ(model.text(kIdStatusLine), "");
        dlg.postUserMessage(kReportNotification, 0);
        EXPECT_EQ(poster.posts().size(), 1u);
        dlg.windowDestroyed();
    }
    dlg.showStatus(status::kConnectionClosed);
    dlg.showSettings(sampleSettings(), report::kConnected);
    dlg.postUserMessage(kReportNotification, 0);
    EXPECT_EQ(poster.posts().size(), 1u);
    EXPECT_TRUE(control.calls().empty());
}

TEST_F(DlgConfigTest, UserMessagesGoThroughAppModel) {
    appModel.attachDialog(&dlg);
    appModel.setMainDialog(&dlg);

    appModel.onStatus(status::kCannotOpenPort);
    ASSERT_EQ(poster.posts().size(), 1u);
    EXPECT_EQ(poster.posts()[0], (std::pair<uint32_t, uint32_t>{1000, 0}));
    EXPECT_EQ(model.text(kIdStatusLine), "") << "shown only when the message is handled";

    EXPECT_TRUE(dlg.onUserMessage(1000, 0));
    EXPECT_EQ(model.text(kIdStatusLine), "Error: Cannot open port.");

    appModel.onVoltage(1234);
    model.clearCalls();
    // Other user messages are answered as handled and do nothing.
    EXPECT_TRUE(dlg.onUserMessage(1002, 0));
    EXPECT_TRUE(dlg.onUserMessage(0, 0));
    EXPECT_TRUE(model.calls().empty());
    EXPECT_TRUE(dlg.onUserMessage(1000, 0));
    EXPECT_EQ(model.text(kIdVoltage), "12.34V");

    appModel.onSettings(sampleSettings(), report::kConnected);
    EXPECT_TRUE(dlg.onUserMessage(1000, 0));
    EXPECT_EQ(model.text(211), "600");

    appModel.setMainDialog(nullptr);
    appModel.detachDialog();
}

}  // namespace
}  // namespace vornic::ui::test
