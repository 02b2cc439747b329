// The main dialog as a command source: buttons, edit fields left after typing, sliders released,
// and the secondary dialogs it opens. All against the sample controller of the fixture.

#include <gmock/gmock.h>

#include "DlgConfigFixture.h"

namespace vornic::ui::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DlgConfigEditTest : public DlgConfigTest {
  protected:
    void SetUp() override {
        DlgConfigTest::SetUp();
        connectSample();
    }
};

// --- Buttons ---

TEST_F(DlgConfigEditTest, ConnectUsesSelectedPortAndBaudBox) {
    EXPECT_TRUE(model.click(kIdConnect));
    model.selectItem(kIdPortList, 4);  // the port in use cannot change under the connection
    EXPECT_EQ(model.selection(kIdPortList), 0);
    dlg.showStatus(status::kConnectionClosed);
    model.selectItem(kIdPortList, 4);
    model.click(kIdBaud115200);  // ticks the box, sends nothing
    EXPECT_TRUE(model.isChecked(kIdBaud115200));
    model.click(kIdConnect);
    model.selectItem(kIdPortList, 255);
    model.click(kIdConnect);
    EXPECT_THAT(sent(), ElementsAre(call("connect", {1, 9600}), call("connect", {5, 115200}),
                                    call("connect", {256, 115200})));
}

TEST_F(DlgConfigEditTest, HandPadButtons) {
    model.click(kIdMoveEast);
    model.click(kIdSidereal);
    EXPECT_EQ(model.sliderPos(kIdSpeed), 2);
    model.click(kIdMoveNorth);
    model.click(kIdSidereal2x);
    EXPECT_EQ(model.sliderPos(kIdSpeed), 5);
    model.click(kIdMoveSouth);
    model.releaseSlider(kIdSpeed, 31);  // the speed slider itself sends nothing
    model.click(kIdMoveWest);
    model.click(kIdStop);
    EXPECT_THAT(sent(), ElementsAre(call("startMove", {3, 10}), call("startMove", {0, 2}),
                                    call("startMove", {1, 5}), call("startMove", {2, 31}),
                                    call("stopMove", {4})));
}

TEST_F(DlgConfigEditTest, TrackButtonsCheckThemselves) {
    model.click(kIdTrackOn);
    EXPECT_TRUE(model.isChecked(kIdTrackOn));
    EXPECT_FALSE(model.isChecked(kIdTrackOff));
    model.click(kIdTrackOn);  // stays on: the program sets the state, not the click
    EXPECT_TRUE(model.isChecked(kIdTrackOn));
    model.click(kIdTrackOff);
    EXPECT_FALSE(model.isChecked(kIdTrackOn));
    EXPECT_TRUE(model.isChecked(kIdTrackOff));
    EXPECT_THAT(sent(), ElementsAre(call("setTracking", {1}), call("setTracking", {1}),
                                    call("setTracking", {0})));
}

TEST_F(DlgConfigEditTest, SimpleCommandButtons) {
    for (ControlId id : {kIdDisconnect, kIdMeasureVoltage, kIdExpOn, kIdExpOff, kIdDefinePark,
                         kIdReloadDefaults, kIdSaveSettings}) {
        EXPECT_TRUE(model.click(id)) << id;
    }
    EXPECT_THAT(sent(), ElementsAre(call("disconnect"), call("measureVoltage"), call("setExp", {1}),
                                    call("setExp", {0}), call("defineParkPosition"),
                                    call("reloadDefaults"), call("storeSettings")));
}

// Enter presses the focused push button and means nothing elsewhere; Escape stops the mount
// wherever the focus is, but does not close the window.
TEST_F(DlgConfigEditTest, EnterPressesTheFocusedButtonAndEscapeStops) {
    struct Case {
        ControlId focused;  // 0: Escape
        std::vector<TelescopeCall> expected;
    };
    const Case cases[] = {
        {kIdStop, {call("stopMove", {4})}},
        {kIdMoveNorth, {call("startMove", {0, 10})}},
        {kIdMeasureVoltage, {call("measureVoltage")}},
        {kIdTrackOn, {}},  // a push-like check box: Space toggles it, Enter does not
        {kIdMaxSpeedRa, {}},
        {kIdPortList, {}},
        {0, {call("stopMove", {4})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.focused);
        static_cast<void>(c.focused == 0 ? model.pressEscape() : model.pressEnter(c.focused));
        EXPECT_EQ(sent(), c.expected);
        EXPECT_FALSE(model.ended());
    }
    dlg.showStatus(status::kConnectionClosed);
    model.pressEscape();  // nothing is moving without a connection, and nothing to tell
    model.pressEnter(kIdStop);
    EXPECT_THAT(sent(), IsEmpty());
}

TEST_F(DlgConfigEditTest, UnknownIdsDoNothing) {
    EXPECT_FALSE(model.click(kIdPortList));
    EXPECT_FALSE(model.click(kIdBaud115200));
    EXPECT_FALSE(model.command(kIdGearRa, notify::kKillFocus));
    EXPECT_FALSE(model.command(kIdMaxCurrentRa, notify::kKillFocus));
    EXPECT_THAT(sent(), IsEmpty());
}

TEST_F(DlgConfigEditTest, CloseBoxEndsWithOne) {
    model.close();
    EXPECT_TRUE(model.ended());
    EXPECT_EQ(model.endResult(), 1);
}

TEST_F(DlgConfigEditTest, ReverseBoxesSendBitPairs) {
    MountSettings s = sampleSettings();
    s.reverseRotation = 1;
    s.reverseAutoguiding = 0;
    s.reverseLimitSwitches = 0;
    dlg.showSettings(s, report::kConnected);
    model.click(kIdReverseGuidingDe);
    model.click(kIdReverseLimitsRa);
    model.click(kIdReverseRotationRa);
    EXPECT_THAT(sent(),
                ElementsAre(call("setReverseFlags", {1, 2, 0}), call("setReverseFlags", {1, 2, 1}),
                            call("setReverseFlags", {0, 2, 1})));
}

// --- Edit fields ---

TEST_F(DlgConfigEditTest, FieldsActOnlyWhenLeftAndChanged) {
    model.leaveField(211);
    model.enterText(211, "600");
    model.enterText(211, " 600");
    model.typeText(211, "750");
    model.command(211, 0x300);  // typing notifications are ignored
    EXPECT_THAT(sent(), IsEmpty());
    model.leaveField(211);
    EXPECT_EQ(model.sliderPos(210), 25);
    model.enterText(311, "450");
    EXPECT_EQ(model.sliderPos(310), 15);
    model.enterText(311, "450");
    EXPECT_THAT(sent(),
                ElementsAre(call("setMaxSpeeds", {750, 900}), call("setMaxSpeeds", {750, 450})));
}

TEST_F(DlgConfigEditTest, RampFieldsSendBothAxes) {
    model.enterText(213, "64");
    EXPECT_EQ(model.sliderPos(212), 4);
    model.enterText(313, "7");
    EXPECT_EQ(model.sliderPos(312), 0);
    model.enterText(215, "31");
    model.enterText(315, "200");
    EXPECT_THAT(sent(),
                ElementsAre(call("setAccelerations", {64, 50}), call("setAccelerations", {64, 7}),
                            call("setDecelerations", {31, 200})));
}

TEST_F(DlgConfigEditTest, CurrentFieldsMoveSliderEvenWhenUnchanged) {
    model.enterText(231, "750");
    EXPECT_EQ(model.sliderPos(234), 12);
    model.enterText(332, "125");
    EXPECT_EQ(model.sliderPos(335), 1);
    EXPECT_THAT(sent(), ElementsAre(call("setMotorCurrent", {0x81, 750}),
                                    call("setMotorCurrent", {0x42, 125})));

    // Slider moved by the program, field unchanged: leaving the field puts the slider back.
    model.setSliderPos(235, 3);
    model.leaveField(232);
    EXPECT_EQ(model.sliderPos(235), 15);
    EXPECT_THAT(sent(), IsEmpty());
}

// Without a known maximum the current fields never show a value: passing through one, or typing
// text that is no number into it, leaves it empty and sends nothing.
TEST_F(DlgConfigTest, NeverShownCurrentFieldStaysEmpty) {
    MountSettings s = sampleSettings();
    s.maxCurrent[kRa] = 0;
    connectSample(s);
    model.leaveField(230);
    EXPECT_EQ(model.text(kIdStatusLine), "Connection established.") << "passing through is fine";
    model.enterText(231, "abc");
    EXPECT_EQ(model.text(230), "");
    EXPECT_EQ(model.text(231), "");
    EXPECT_EQ(model.countCalls(CallKind::kSetUnsigned), 0u);
    EXPECT_THAT(control.take(), ::testing::IsEmpty());
}

TEST_F(DlgConfigEditTest, CurrentFieldWithZeroMaxCurrentStillSends) {
    MountSettings s = sampleSettings();
    s.maxCurrent[kRa] = 0;
    dlg.showSettings(s, report::kConnected);
    model.setSliderPos(233, 9);
    model.enterText(230, "300");
    EXPECT_EQ(model.sliderPos(233), 9);
    model.enterText(230, "300");
    EXPECT_THAT(sent(), ElementsAre(call("setMotorCurrent", {0x80, 300})));
}

TEST_F(DlgConfigEditTest, OvertoneFieldsAreSigned) {
    model.enterText(251, "-12");
    EXPECT_EQ(model.sliderPos(250), -12);
    model.enterText(251, "-12");
    model.enterText(351, "+3");
    model.enterText(351, "0");
    EXPECT_EQ(model.sliderPos(350), 0);
    EXPECT_THAT(sent(),
                ElementsAre(call("setOvertone", {0x80, -12}), call("setOvertone", {0x40, 0})))
        << "\"+3\" is not a number and must not be sent";
}

TEST_F(DlgConfigEditTest, IncCurrentFields) {
    model.enterText(253, "140");
    EXPECT_EQ(model.sliderPos(252), 6);
    model.enterText(353, "9");
    EXPECT_EQ(model.sliderPos(352), 0);
    model.enterText(353, "10");
    EXPECT_EQ(model.sliderPos(352), 0);
    EXPECT_THAT(sent(), ElementsAre(call("setCurrentBoost", {0x80, 140, 140}),
                                    call("setCurrentBoost", {0x40, 9, 9}),
                                    call("setCurrentBoost", {0x40, 10, 10})));
}

// Text that is not a number is never sent as 0: the field gets its last-sent value back.
TEST_F(DlgConfigEditTest, NonNumericTextRestoresLastSentValue) {
    struct Case {
        ControlId field;
        const char* typed;
        const char* restored;
    };
    for (Case c :
         {Case{211, "abc", "600"}, Case{213, "", "100"}, Case{315, "12x", "200"},
          Case{230, "-5", "250"}, Case{331, " ", "1500"}, Case{251, "minus", "-5"},
          Case{351, "--1", "7"}, Case{253, "1e3", "120"}, Case{211, "99999999999", "600"}}) {
        model.enterText(c.field, c.typed);
        EXPECT_EQ(model.text(c.field), c.restored) << c.field << " '" << c.typed << "'";
    }
    EXPECT_THAT(sent(), IsEmpty());
    // A restored field then behaves like an untouched one; a real change after it is sent.
    model.enterText(213, "0");
    EXPECT_THAT(sent(), ElementsAre(call("setAccelerations", {0, 50})));
}

// Typed numbers beyond what a setting holds are clamped, never wrapped.
// A typed number the controller cannot be given is refused, never clamped nor wrapped: the field
// shows the value in force again, the status line names the field and the range, nothing is sent.
TEST_F(DlgConfigEditTest, OutOfRangeNumbersAreRefused) {
    struct Case {
        ControlId field;
        ControlId slider;
        const char* typed;
        const char* restored;
        const char* message;
    };
    const Case cases[] = {
        {211, 210, "70000", "600", "RA Max speed: 70000 is out of range 0..65535"},
        {213, 212, "256", "100", "RA Acceleration: 256 is out of range 0..255"},
        {315, 314, "4096", "200", "Dec Deceleration: 4096 is out of range 0..255"},
        {253, 252, "4294967295", "120", "RA Inc. current at: 4294967295 is out of range 0..65535"},
        {251, 250, "-21", "-5", "RA 3rd overtone: -21 is out of range -20..20"},
        {351, 350, "2147483647", "7", "Dec 3rd overtone: 2147483647 is out of range -20..20"},
        {230, 233, "1001", "250", "RA Idle current: 1001 is out of range 0..1000"},
        {332, 335, "2001", "2000", "Dec Run current: 2001 is out of range 0..2000"},
        {211, 210, "12x", "600", "RA Max speed: not a whole number in 0..65535"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        const int position = model.sliderPos(c.slider);
        model.enterText(c.field, c.typed);
        EXPECT_EQ(model.text(c.field), c.restored);
        EXPECT_EQ(model.text(kIdStatusLine), c.message);
        EXPECT_EQ(model.sliderPos(c.slider), position);
    }
    EXPECT_THAT(sent(), IsEmpty());
    // The ends of each range are values like any other.
    model.enterText(213, "255");
    model.enterText(251, "-20");
    model.enterText(230, "1000");
    EXPECT_THAT(sent(),
                ElementsAre(call("setAccelerations", {255, 50}), call("setOvertone", {0x80, -20}),
                            call("setMotorCurrent", {0x80, 1000})));
}

TEST_F(DlgConfigEditTest, CurrentsWithUnknownMaximumStopAt16Bits) {
    MountSettings s = sampleSettings();
    s.maxCurrent[kDe] = 0;
    dlg.showSettings(s, report::kConnected);
    model.enterText(331, "65536");
    EXPECT_EQ(model.text(331), "1500");
    model.enterText(331, "65535");
    EXPECT_THAT(sent(), ElementsAre(call("setMotorCurrent", {0x41, 65535})));
}

// --- Sliders ---

TEST_F(DlgConfigEditTest, MaxSpeedSliderWritesFieldAndSendsBothAxes) {
    model.releaseSlider(210, 21);  // the reported 600 stands at 20
    EXPECT_EQ(model.text(211), "660");
    model.releaseSlider(210, 21);
    model.releaseSlider(310, 0);
    EXPECT_EQ(model.text(311), "30");
    model.releaseSlider(310, 39);
    EXPECT_EQ(model.text(311), "1200");
    EXPECT_THAT(sent(),
                ElementsAre(call("setMaxSpeeds", {660, 900}), call("setMaxSpeeds", {660, 30}),
                            call("setMaxSpeeds", {660, 1200})));
}

TEST_F(DlgConfigEditTest, OnlyEndOfTrackCounts) {
    model.setSliderPos(210, 5);
    for (int code : {0, 1, 4, kScrollThumbTrack, 9}) {
        dlg.onHScroll(code, 210);
    }
    dlg.onHScroll(kScrollEndTrack, kIdSpeed);
    dlg.onHScroll(kScrollEndTrack, 999);
    dlg.onHScroll(kScrollEndTrack, kIdMaxSpeedRa);  // a field, not a slider
    EXPECT_THAT(sent(), IsEmpty());
    dlg.onHScroll(kScrollEndTrack, 210);
    EXPECT_THAT(sent(), ElementsAre(call("setMaxSpeeds", {180, 900})));
}

// The ramp and guiding requests carry both axes. Only the released slider's axis comes from its
// slider; the other goes out exactly as last shown or sent, never as its slider rounds it.
TEST_F(DlgConfigEditTest, SliderReleaseNeverChangesTheOtherAxis) {
    struct Case {
        ControlId slider;
        int position;
        TelescopeCall expected;
    };
    // Sample: acceleration 100 / 50 (sliders 6 / 3), deceleration 30 / 200 (2 / 13),
    // guiding 8 / 0 (7 / 0).
    const Case cases[] = {
        {212, 7, call("setAccelerations", {112, 50})},
        {312, 4, call("setAccelerations", {100, 64})},
        {214, 1, call("setDecelerations", {16, 200})},
        {314, 15, call("setDecelerations", {30, 240})},
        {260, 6, call("setGuidingRates", {7, 0})},
        {360, 15, call("setGuidingRates", {8, 16})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slider);
        connectSample();
        model.releaseSlider(c.slider, c.position);
        EXPECT_THAT(sent(), ElementsAre(c.expected));
    }
}

// A slider let go where it was put stands for no change, whatever its position rounds to: a click
// on the handle, the second end-of-track report of one release, an arrow key at the end of the
// range. Where the program put it counts too: after a typed value moved it, and after a release.
TEST_F(DlgConfigEditTest, SliderLetGoWhereItWasPutSendsNothing) {
    // Sample: max speed 600 (slider 20), acceleration 100 (6), RA idle current 250 of 1000 (4),
    // DE idle 100 of 2000 (0), decay RA idle 0, guiding RA 8 (7), overtone RA -5, inc. 120 (5).
    for (ControlId slider : kAxisSliders) {
        model.releaseSlider(slider, model.sliderPos(slider));
    }
    EXPECT_THAT(sent(), IsEmpty());
    EXPECT_EQ(model.text(kIdIdleCurrentRa), "250") << "the field keeps the value shown";

    model.enterText(kIdMaxSpeedRa, "905");  // puts slider 210 at 30
    model.releaseSlider(210, 30);
    model.releaseSlider(240, 2);
    model.releaseSlider(240, 2);  // the same release reported twice
    EXPECT_THAT(sent(), ElementsAre(call("setMaxSpeeds", {905, 900}), call("setDecay", {0x80, 2})));
}

TEST_F(DlgConfigEditTest, CurrentSlidersUseAxisMaximum) {
    model.releaseSlider(233, 7);  // 8 * 1000 / 16
    EXPECT_EQ(model.text(230), "500");
    model.releaseSlider(234, 7);   // 500 is the last-sent track current
    model.releaseSlider(335, 15);  // 2000 is the last-sent run current
    model.releaseSlider(333, 1);   // 2 * 2000 / 16
    EXPECT_EQ(model.text(330), "250");
    EXPECT_THAT(sent(), ElementsAre(call("setMotorCurrent", {0x80, 500}),
                                    call("setMotorCurrent", {0x40, 250})));
}

// A current slider of an axis whose maximum is unknown stands for no value: releasing it must not
// command 0 mA, nor clear the field, while the other axis works as before.
TEST_F(DlgConfigEditTest, CurrentSlidersDoNothingWhileMaximumIsUnknown) {
    MountSettings s = sampleSettings();
    s.maxCurrent[kRa] = 0;
    dlg.showSettings(s, report::kDefaultsReloaded);  // RA keeps 250 / 500 / 1000 as last sent
    model.typeText(231, "640");                      // typed, not yet sent
    model.clearCalls();

    model.releaseSlider(233, 0);
    model.releaseSlider(234, 9);
    model.releaseSlider(235, 15);
    EXPECT_THAT(sent(), IsEmpty());
    EXPECT_EQ(model.text(230), "250");
    EXPECT_EQ(model.text(231), "640");
    EXPECT_EQ(model.text(232), "1000");
    EXPECT_EQ(model.countCalls(CallKind::kSetUnsigned), 0u);

    // The DE sliders still convert with their own maximum.
    model.releaseSlider(333, 1);
    EXPECT_EQ(model.text(330), "250");
    EXPECT_THAT(sent(), ElementsAre(call("setMotorCurrent", {0x40, 250})));

    // Leaving the RA field still sends what was typed, as for any field.
    model.leaveField(231);
    EXPECT_THAT(sent(), ElementsAre(call("setMotorCurrent", {0x81, 640})));

    // The same for DE once its maximum is unknown too.
    s.maxCurrent[kDe] = 0;
    dlg.showSettings(s, report::kConnected);
    model.releaseSlider(335, 3);
    EXPECT_THAT(sent(), IsEmpty());
    EXPECT_EQ(model.text(332), "2000");
}

TEST_F(DlgConfigEditTest, DecayAndGuidingSendOnEveryReleaseThatMovedThem) {
    model.releaseSlider(240, 1);
    model.releaseSlider(240, 0);
    model.releaseSlider(342, 3);
    model.releaseSlider(260, 6);
    model.releaseSlider(360, 15);
    model.releaseSlider(360, 14);
    EXPECT_THAT(sent(),
                ElementsAre(call("setDecay", {0x80, 1}), call("setDecay", {0x80, 0}),
                            call("setDecay", {0x42, 3}), call("setGuidingRates", {7, 0}),
                            call("setGuidingRates", {7, 16}), call("setGuidingRates", {7, 15})));
}

TEST_F(DlgConfigEditTest, OvertoneAndIncCurrentSliders) {
    model.releaseSlider(350, 7);
    model.releaseSlider(350, -3);
    EXPECT_EQ(model.text(351), "-3");
    model.releaseSlider(252, 5);  // 20 * 6 = 120, the reported value
    model.releaseSlider(252, 6);
    EXPECT_EQ(model.text(253), "140");
    model.releaseSlider(352, 31);
    EXPECT_EQ(model.text(353), "640");
    EXPECT_THAT(sent(), ElementsAre(call("setOvertone", {0x40, -3}),
                                    call("setCurrentBoost", {0x80, 140, 140}),
                                    call("setCurrentBoost", {0x40, 640, 640})));
}

TEST_F(DlgConfigEditTest, SliderAndFieldShareLastSentValue) {
    model.releaseSlider(210, 21);
    model.enterText(211, "660");
    model.enterText(251, "4");
    model.releaseSlider(250, 3);
    model.releaseSlider(250, 4);  // back at the typed value
    EXPECT_THAT(sent(),
                ElementsAre(call("setMaxSpeeds", {660, 900}), call("setOvertone", {0x80, 4}),
                            call("setOvertone", {0x80, 3}), call("setOvertone", {0x80, 4})));
}

TEST_F(DlgConfigEditTest, DisabledControlsCannotBeUsed) {
    dlg.showStatus(status::kConnectionClosed);
    model.click(kIdMoveNorth);
    model.enterText(211, "700");
    model.releaseSlider(260, 3);
    EXPECT_THAT(sent(), IsEmpty());
    model.click(kIdConnect);
    EXPECT_THAT(sent(), ElementsAre(call("connect", {1, 9600})));
}

// --- Secondary dialogs ---

TEST_F(DlgConfigEditTest, GearRatioDialog) {
    model.scriptNextModal([](InMemoryControlModel& child) { child.click(kIdCancel); });
    model.click(kIdChangeGearRatio);
    EXPECT_THAT(sent(), IsEmpty());

    model.scriptNextModal([](InMemoryControlModel& child) {
        EXPECT_EQ(child.dialogId(), kGearRatioDialogId);
        EXPECT_EQ(child.text(gear_dlg::kRa), "172800");
        child.click(kIdOk);
    });
    model.click(kIdChangeGearRatio);

    model.scriptNextModal([](InMemoryControlModel& child) {
        child.typeText(gear_dlg::kRa, "200000");
        child.click(kIdOk);
    });
    model.click(kIdChangeGearRatio);
    EXPECT_THAT(sent(), ElementsAre(call("setGearRatios", {172800, 164000}),
                                    call("setGearRatios", {200000, 164000})));
    EXPECT_EQ(model.text(kIdGearRa), "172800") << "fields wait for the read-back report";
}

TEST_F(DlgConfigEditTest, AdvancedSettingsDialog) {
    model.scriptNextModal([](InMemoryControlModel& child) { child.click(kIdOk); });
    model.click(kIdAdvancedSettings);
    model.scriptNextModal([](InMemoryControlModel& child) {
        child.click(site_dlg::kAltAzimuth);
        child.click(kIdCancel);
    });
    model.click(kIdAdvancedSettings);
    EXPECT_THAT(sent(), IsEmpty());

    model.scriptNextModal([](InMemoryControlModel& child) {
        child.click(site_dlg::kAltAzimuth);
        child.click(kIdOk);
    });
    model.click(kIdAdvancedSettings);
    const auto calls = sent();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "applySiteSettings");
    EXPECT_EQ(calls[0].site.changeMask, site::kMountTypeChanged);
    EXPECT_EQ(calls[0].site.mountType, 2u);
    EXPECT_EQ(calls[0].site.latitude, 4104360);
    EXPECT_EQ(calls[0].site.longitude, -2400);
    EXPECT_EQ(calls[0].site.hysteresis, 10u);
}

// A report that arrives while a secondary dialog is open moves the main dialog's record under it;
// confirming must send only what the user changed, never undo the report with what it showed.
TEST_F(DlgConfigEditTest, ReportArrivingUnderAnOpenDialogIsNotUndone) {
    MountSettings reloaded = sampleSettings();
    reloaded.mountType = 0;
    reloaded.latitude = -86400;
    reloaded.meridianFlipHysteresis = 5;
    reloaded.gearRatio[kRa] = 100000;
    reloaded.gearRatio[kDe] = 90000;
    const auto reportArrives = [&] { dlg.showSettings(reloaded, report::kDefaultsReloaded); };

    model.scriptNextModal([&](InMemoryControlModel& child) {
        reportArrives();
        child.click(kIdOk);
    });
    model.click(kIdAdvancedSettings);
    EXPECT_THAT(sent(), IsEmpty());

    connectSample();
    model.scriptNextModal([&](InMemoryControlModel& child) {
        reportArrives();
        child.typeText(site_dlg::kHysteresis, "12");
        child.click(kIdOk);
    });
    model.click(kIdAdvancedSettings);
    const auto calls = sent();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].site.changeMask, site::kHysteresisChanged);
    EXPECT_EQ(calls[0].site.hysteresis, 12u);
    EXPECT_EQ(calls[0].site.mountType, 0u);
    EXPECT_EQ(calls[0].site.latitude, -86400);

    connectSample();
    model.scriptNextModal([&](InMemoryControlModel& child) {
        reportArrives();
        child.click(kIdOk);
    });
    model.click(kIdChangeGearRatio);
    EXPECT_THAT(sent(), ElementsAre(call("setGearRatios", {100000, 90000})));
    connectSample();
    model.scriptNextModal([&](InMemoryControlModel& child) {
        reportArrives();
        child.typeText(gear_dlg::kDe, "123456");
        child.click(kIdOk);
    });
    model.click(kIdChangeGearRatio);
    EXPECT_THAT(sent(), ElementsAre(call("setGearRatios", {100000, 123456})));
}

TEST_F(DlgConfigEditTest, InitScopeDialog) {
    model.scriptNextModal([](InMemoryControlModel& child) { child.click(kIdOk); });
    model.click(kIdInitScope);
    model.scriptNextModal([](InMemoryControlModel& child) {
        child.selectItem(init_dlg::kPositions, 9);
        child.click(kIdOk);
    });
    model.click(kIdInitScope);
    model.scriptNextModal([](InMemoryControlModel& child) { child.click(kIdCancel); });
    model.click(kIdInitScope);
    EXPECT_THAT(sent(), ElementsAre(call("initScope", {4}), call("initScope", {13})));
    EXPECT_EQ(dlg.initPosition(), 13);
}

TEST_F(DlgConfigEditTest, AboutSendsNothing) {
    model.scriptNextModal([](InMemoryControlModel& child) { child.click(kIdCancel); });
    EXPECT_TRUE(model.click(kIdAbout));
    ASSERT_NE(model.lastModal(), nullptr);
    EXPECT_EQ(model.lastModal()->dialogId(), kAboutDialogId);
    EXPECT_THAT(sent(), IsEmpty());
}

// The controller may report an overtone or a current outside what can be typed; a field the user
// only passes through must send nothing and keep the reported value.
TEST_F(DlgConfigEditTest, ReportedValuesOutsideTheTypedRangeAreNotRefusedWhenUnchanged) {
    MountSettings s = sampleSettings();
    s.thirdOvertone[kRa] = -100;
    s.maxCurrent[kRa] = 1000;
    s.motorCurrent[kRa][kIdle] = 1200;
    dlg.showSettings(s, report::kConnected);
    ASSERT_EQ(model.text(kIdOvertoneRa), "-100");
    ASSERT_EQ(model.text(kIdIdleCurrentRa), "1200");
    model.leaveField(kIdOvertoneRa);
    model.leaveField(kIdIdleCurrentRa);
    EXPECT_THAT(sent(), IsEmpty());
    EXPECT_EQ(model.text(kIdOvertoneRa), "-100");
    EXPECT_EQ(model.text(kIdIdleCurrentRa), "1200");

    // Typed, the same out-of-range numbers are refused as any other typed value.
    model.enterText(kIdOvertoneRa, "-99");
    model.enterText(kIdIdleCurrentRa, "1300");
    EXPECT_THAT(sent(), IsEmpty());
    EXPECT_EQ(model.text(kIdOvertoneRa), "-100");
    EXPECT_EQ(model.text(kIdIdleCurrentRa), "1200");
}

}  // namespace
}  // namespace vornic::ui::test
