#include "ui/SecondaryDialogs.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/InMemoryControlModel.h"

namespace vornic::ui {
namespace {

using Child = InMemoryControlModel;

// --- Set gear ratio ---

TEST(GearRatioDialog, ShowsTheRatiosAndOkWithoutAnEditKeepsThem) {
    InMemoryControlModel owner;
    GearRatios record{172800, 829440};
    owner.scriptNextModal([](Child& d) {
        EXPECT_EQ(d.text(gear_dlg::kRa), "172800");
        EXPECT_EQ(d.text(gear_dlg::kDe), "829440");
        d.click(kIdOk);
    });
    EXPECT_EQ(showGearRatioDialog(owner, record), 1);
    EXPECT_EQ(record, (GearRatios{172800, 829440}));
    EXPECT_EQ(owner.calls().back().value, kGearRatioDialogId);
}

TEST(GearRatioDialog, OkStoresTypedRatios) {
    InMemoryControlModel owner;
    GearRatios record{1, 2};
    owner.scriptNextModal([](Child& d) {
        d.typeText(gear_dlg::kRa, " 287200 ");
        d.typeText(gear_dlg::kDe, "4294967295");
        d.click(kIdOk);
    });
    EXPECT_EQ(showGearRatioDialog(owner, record), 1);
    EXPECT_EQ(record, (GearRatios{287200, 4294967295u}));
}

// A ratio of 0 or no whole number is refused: the dialog stays open with the ratio in force back
// in the field and a line that says what can be given; the next Ok takes the fields as they are.
TEST(GearRatioDialog, FieldsWithoutAPositiveWholeNumberAreRefused) {
    struct Case {
        const char* typed;
        const char* message;
    };
    const char* const notWhole = "RA gear ratio: not a whole number in 1..4294967295";
    const Case cases[] = {{"0", "RA gear ratio: 0 is out of range 1..4294967295"},
                          {"-5", notWhole},
                          {"abc", notWhole},
                          {"", notWhole},
                          {"4294967296", notWhole}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        InMemoryControlModel owner;
        GearRatios record{162000, 164000};
        owner.scriptNextModal([&](Child& d) {
            d.typeText(gear_dlg::kRa, c.typed);
            d.typeText(gear_dlg::kDe, "200000");
            d.click(kIdOk);
            EXPECT_FALSE(d.ended());
            EXPECT_EQ(d.text(gear_dlg::kNote), c.message);
            EXPECT_EQ(d.text(gear_dlg::kRa), "162000");
            EXPECT_EQ(record, (GearRatios{162000, 164000})) << "nothing taken before both are good";
            d.click(kIdOk);
        });
        EXPECT_EQ(showGearRatioDialog(owner, record), 1);
        EXPECT_EQ(record, (GearRatios{162000, 200000}));
    }
}

TEST(GearRatioDialog, CancelAndCloseBoxLeaveTheRecordAlone) {
    InMemoryControlModel owner;
    GearRatios record{10, 20};
    owner.scriptNextModal([](Child& d) {
        d.typeText(gear_dlg::kRa, "99");
        d.click(kIdCancel);
    });
    owner.scriptNextModal([](Child& d) {
        d.typeText(gear_dlg::kDe, "99");
        d.close();
    });
    owner.scriptNextModal([](Child& d) {
        d.typeText(gear_dlg::kDe, "99");
        d.pressEscape();
    });
    owner.scriptNextModal([](Child& d) {
        d.typeText(gear_dlg::kDe, "99");
        d.pressEnter(kIdCancel);  // Enter presses the focused button, not Ok
    });
    for (int run = 0; run < 4; ++run) {
        EXPECT_EQ(showGearRatioDialog(owner, record), 0) << run;
    }
    EXPECT_EQ(record, (GearRatios{10, 20}));
}

// --- Advanced settings ---

SiteSettings site(int32_t latitude, int32_t longitude, uint32_t mountType, uint32_t hysteresis) {
    SiteSettings s;
    s.changeMask = 0xA5;  // stale mask from an earlier run: Ok must replace it
    s.latitude = latitude;
    s.longitude = longitude;
    s.mountType = mountType;
    s.hysteresis = hysteresis;
    return s;
}

bool sameSite(const SiteSettings& a, const SiteSettings& b) {
    return a.changeMask == b.changeMask && a.mountType == b.mountType && a.latitude == b.latitude &&
           a.longitude == b.longitude && a.hysteresis == b.hysteresis;
}

// Opens the dialog on `record`, lets `edit` act, presses Ok; returns the result.
template <typename Edit>
int confirmSite(SiteSettings& record, Edit edit) {
    InMemoryControlModel owner;
    owner.scriptNextModal([&](Child& d) {
        edit(d);
        d.click(kIdOk);
    });
    return showAdvancedSettingsDialog(owner, record);
}

const std::vector<ControlId> kRadios = {site_dlg::kEquatorialGerman, site_dlg::kEquatorialFork,
                                        site_dlg::kAltAzimuth};

std::vector<bool> radioStates(const Child& d) {
    std::vector<bool> states;
    for (ControlId id : kRadios) {
        states.push_back(d.isChecked(id));
    }
    return states;
}

TEST(AdvancedSettingsDialog, OpensWithHemisphereAnglesMountTypeAndHysteresis) {
    struct Case {
        SiteSettings record;
        const char* latitude;
        const char* longitude;
        std::vector<bool> radios;
    };
    const Case cases[] = {
        {site(4104371, 0, 0, 10), "N 47:30:15", "E 0:00:00", {true, false, false}},
        {site(-4104360, -10576800, 1, 10), "S 47:30:15", "W 122:25:00", {false, true, false}},
        {site(0, 15552000, 2, 10), "N 0:00:00", "E 180:00:00", {false, false, true}},
        {site(INT_MIN, INT_MAX, 7, 10), "S 24855:08:05", "E 24855:08:05", {false, false, true}},
    };
    for (const Case& c : cases) {
        InMemoryControlModel owner;
        SiteSettings record = c.record;
        owner.scriptNextModal([&](Child& d) {
            EXPECT_EQ(d.text(site_dlg::kLatitude), c.latitude);
            EXPECT_EQ(d.text(site_dlg::kLongitude), c.longitude);
            EXPECT_EQ(radioStates(d), c.radios) << "mount type " << c.record.mountType;
            EXPECT_EQ(d.text(site_dlg::kHysteresis), "10");
        });
        EXPECT_EQ(showAdvancedSettingsDialog(owner, record), 0);
    }
}

TEST(AdvancedSettingsDialog, OkWithoutAnEditChangesNothing) {
    SiteSettings record = site(4104360, -10576800, 1, 12);
    const SiteSettings before = record;
    EXPECT_EQ(confirmSite(record, [](Child&) {}), 1);
    EXPECT_EQ(record.changeMask, 0u);
    EXPECT_EQ(record.latitude, before.latitude);
    EXPECT_EQ(record.longitude, before.longitude);
    EXPECT_EQ(record.mountType, before.mountType);
    EXPECT_EQ(record.hysteresis, before.hysteresis);
}

TEST(AdvancedSettingsDialog, ValuesTheFieldsCannotShowAreReplacedOnOk) {
    // Below one arc-second: shown cut, read back whole.
    SiteSettings record = site(4104371, 0, 0, 10);
    EXPECT_EQ(confirmSite(record, [](Child&) {}), 1);
    EXPECT_EQ(record.changeMask, site::kLatitudeChanged);
    EXPECT_EQ(record.latitude, 4104360);

    // A mount type the radios do not have shows as alt-azimuth and becomes it.
    record = site(0, 0, 3, 10);
    EXPECT_EQ(confirmSite(record, [](Child&) {}), 1);
    EXPECT_EQ(record.changeMask, site::kMountTypeChanged);
    EXPECT_EQ(record.mountType, 2u);
}

TEST(AdvancedSettingsDialog, RadioClickChecksOnlyThatMountType) {
    SiteSettings record = site(0, 0, 0, 10);
    EXPECT_EQ(confirmSite(record,
                          [](Child& d) {
                              d.click(site_dlg::kEquatorialFork);
                              d.click(site_dlg::kAltAzimuth);
                              EXPECT_EQ(radioStates(d), (std::vector<bool>{false, false, true}));
                          }),
              1);
    EXPECT_EQ(record.changeMask, site::kMountTypeChanged);
    EXPECT_EQ(record.mountType, 2u);

    EXPECT_EQ(confirmSite(record, [](Child& d) { d.click(site_dlg::kEquatorialGerman); }), 1);
    EXPECT_EQ(record.mountType, 0u);
}

TEST(AdvancedSettingsDialog, TypedAnglesAreReadWithHemisphereAndSeparators) {
    struct Case {
        const char* latitude;
        const char* longitude;
        int32_t expectedLatitude;
        int32_t expectedLongitude;
    };
    const Case cases[] = {
        {"s 47:30", "w 122:25:00", -4104000, -10576800},
        {"47.30", "E 8.30.36", 4104000, 8 * 86400 + 30 * 1440 + 36 * 24},
        {"-10", "W -1", -864000, 86400},  // a minus with S or W turns back to positive
        {"N 0:0:1", "e0", 24, 0},
    };
    for (const Case& c : cases) {
        SiteSettings record = site(1, 1, 0, 10);
        EXPECT_EQ(confirmSite(record,
                              [&](Child& d) {
                                  d.typeText(site_dlg::kLatitude, c.latitude);
                                  d.typeText(site_dlg::kLongitude, c.longitude);
                              }),
                  1);
        EXPECT_EQ(record.latitude, c.expectedLatitude) << c.latitude;
        EXPECT_EQ(record.longitude, c.expectedLongitude) << c.longitude;
        EXPECT_EQ(record.changeMask, site::kLatitudeChanged | site::kLongitudeChanged);
    }
}

TEST(AdvancedSettingsDialog, AngleTextWithoutADigitKeepsTheStoredAngle) {
    for (const char* text : {"", "N", "S ", "abc", "::", "-"}) {
        SiteSettings record = site(4104360, -10576800, 0, 10);
        EXPECT_EQ(confirmSite(record,
                              [&](Child& d) {
                                  d.typeText(site_dlg::kLatitude, text);
                                  d.typeText(site_dlg::kLongitude, text);
                              }),
                  1);
        EXPECT_EQ(record.latitude, 4104360) << '"' << text << '"';
        EXPECT_EQ(record.longitude, -10576800) << '"' << text << '"';
        EXPECT_EQ(record.changeMask, 0u) << '"' << text << '"';
    }
}

// A latitude beyond a pole or a longitude beyond the date line is no place on Earth: refused, the
// dialog stays open with the stored angle back in the field and the range on the hint line.
TEST(AdvancedSettingsDialog, AnglesBeyondThePoleOrTheDateLineAreRefused) {
    struct Case {
        ControlId field;
        const char* typed;
        const char* restored;
        const char* message;
    };
    const Case cases[] = {
        {site_dlg::kLatitude, "N 95:00:00", "N 47:30:15",
         "Latitude: out of range S 90:00:00..N 90:00:00"},
        {site_dlg::kLatitude, "S 90:00:01", "N 47:30:15",
         "Latitude: out of range S 90:00:00..N 90:00:00"},
        {site_dlg::kLongitude, "W 180:00:01", "W 122:25:00",
         "Longitude: out of range W 180:00:00..E 180:00:00"},
        // Parts so large that adding them up in 32 bits would come round to a place on Earth.
        {site_dlg::kLatitude, "N 49711:00:00", "N 47:30:15",
         "Latitude: out of range S 90:00:00..N 90:00:00"},
        {site_dlg::kLongitude, "E 0:0:178956971", "W 122:25:00",
         "Longitude: out of range W 180:00:00..E 180:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        SiteSettings record = site(4104360, -10576800, 0, 10);
        const SiteSettings before = record;
        EXPECT_EQ(confirmSite(record,
                              [&](Child& d) {
                                  d.typeText(c.field, c.typed);
                                  d.click(kIdOk);
                                  EXPECT_FALSE(d.ended());
                                  EXPECT_EQ(d.text(c.field), c.restored);
                                  EXPECT_EQ(d.text(site_dlg::kHysteresisHint), c.message);
                              }),
                  1);
        EXPECT_EQ(record.changeMask, 0u);
        EXPECT_EQ(record.latitude, before.latitude);
        EXPECT_EQ(record.longitude, before.longitude);
    }
    // The poles and the date line themselves are places.
    SiteSettings record = site(0, 0, 0, 10);
    EXPECT_EQ(confirmSite(record,
                          [](Child& d) {
                              d.typeText(site_dlg::kLatitude, "S 90:00:00");
                              d.typeText(site_dlg::kLongitude, "E 180:00:00");
                          }),
              1);
    EXPECT_EQ(record.latitude, -90 * 86400);
    EXPECT_EQ(record.longitude, 180 * 86400);
}

TEST(AdvancedSettingsDialog, OnlyTheFirstThirtyCharactersAreRead) {
    // The digit at index 29 is read; one at index 30 is not, so that text has no digit.
    SiteSettings record = site(0, 0, 0, 10);
    EXPECT_EQ(confirmSite(record,
                          [](Child& d) {
                              d.typeText(site_dlg::kLatitude, "S" + std::string(28, ' ') + "5");
                              d.typeText(site_dlg::kLongitude, "W" + std::string(29, ' ') + "5");
                          }),
              1);
    EXPECT_EQ(record.latitude, -5 * 86400);
    EXPECT_EQ(record.longitude, 0);
    EXPECT_EQ(record.changeMask, site::kLatitudeChanged);

    // A huge text is cut, not overrun, and what is left of it is no latitude.
    record = site(0, 0, 0, 10);
    EXPECT_EQ(confirmSite(record,
                          [](Child& d) {
                              d.typeText(site_dlg::kLatitude, std::string(100000, '9'));
                              d.click(kIdOk);
                              EXPECT_FALSE(d.ended());
                              EXPECT_EQ(d.text(site_dlg::kHysteresisHint),
                                        "Latitude: out of range S 90:00:00..N 90:00:00");
                          }),
              1);
    EXPECT_EQ(record.changeMask, 0u);
}

TEST(AdvancedSettingsDialog, HysteresisIsKeptWhenNotANumberAndCappedAtTheByte) {
    struct Case {
        uint32_t stored;
        const char* typed;
        uint32_t expected;
        uint32_t mask;
    };
    const Case cases[] = {
        {10, "12", 12, site::kHysteresisChanged},
        {10, "300", 255, site::kHysteresisChanged},
        {10, "266", 255, site::kHysteresisChanged},
        {255, "300", 255, 0},
        {10, "abc", 10, 0},
        {10, "", 10, 0},
        {10, "-5", 10, 0},
        {10, "99999999999", 255, site::kHysteresisChanged},
        {10, "1e3", 10, 0},
        {10, " 10 ", 10, 0},
        {10, "0", 0, site::kHysteresisChanged},
    };
    for (const Case& c : cases) {
        SiteSettings record = site(0, 0, 0, c.stored);
        EXPECT_EQ(
            confirmSite(record, [&](Child& d) { d.typeText(site_dlg::kHysteresis, c.typed); }), 1);
        EXPECT_EQ(record.hysteresis, c.expected) << c.typed;
        EXPECT_EQ(record.changeMask, c.mask) << c.typed;
    }
}

TEST(AdvancedSettingsDialog, CancelAndCloseBoxLeaveTheRecordExactlyAsItWas) {
    InMemoryControlModel owner;
    SiteSettings record = site(4104371, 123, 3, 300);
    const SiteSettings before = record;
    auto edit = [](Child& d) {
        d.typeText(site_dlg::kLatitude, "S 1:00:00");
        d.typeText(site_dlg::kHysteresis, "5");
        d.click(site_dlg::kEquatorialFork);
    };
    owner.scriptNextModal([&](Child& d) {
        edit(d);
        d.click(kIdCancel);
    });
    owner.scriptNextModal([&](Child& d) {
        edit(d);
        d.close();
    });
    EXPECT_EQ(showAdvancedSettingsDialog(owner, record), 0);
    EXPECT_EQ(showAdvancedSettingsDialog(owner, record), 0);
    EXPECT_TRUE(sameSite(record, before));
}

// --- Initialize telescope ---

TEST(InitScopeDialog, ListsTheTenPositionsAndSelectsTheFirst) {
    InMemoryControlModel owner;
    int32_t code = 0;
    owner.scriptNextModal([](Child& d) {
        const std::vector<std::string> expected = {"Default east side - Equator",
                                                   "West side - Equator",
                                                   "East side - Zenith",
                                                   "West side - Zenith",
                                                   "East side - South Horizon",
                                                   "West side - South Horizon",
                                                   "East side - North Horizon",
                                                   "West side - North Horizon",
                                                   "Eastern Horizon",
                                                   "Western Horizon"};
        EXPECT_EQ(d.items(init_dlg::kPositions), expected);
        EXPECT_EQ(d.selection(init_dlg::kPositions), 0);
        EXPECT_EQ(d.text(init_dlg::kExplanation), "Explanation of the selected position");
        d.click(kIdOk);
    });
    EXPECT_EQ(showInitScopeDialog(owner, code), 1);
    EXPECT_EQ(code, 4);
}

TEST(InitScopeDialog, SelectionShowsItsExplanationAndGivesIndexPlusFour) {
    InMemoryControlModel owner;
    int32_t code = 0;
    owner.scriptNextModal([](Child& d) {
        d.selectItem(init_dlg::kPositions, 9);
        EXPECT_EQ(d.text(init_dlg::kExplanation),
                  "Counterweight points to ground, telescope looks to the western Horizon.");
        d.click(kIdOk);
    });
    EXPECT_EQ(showInitScopeDialog(owner, code), 1);
    EXPECT_EQ(code, 13);

    for (int index = 0; index < init_dlg::kPositionCount; ++index) {
        owner.scriptNextModal([&](Child& d) {
            d.selectItem(init_dlg::kPositions, index);
            EXPECT_EQ(d.text(init_dlg::kExplanation), initPositionExplanation(index));
            d.click(kIdOk);
        });
        EXPECT_EQ(showInitScopeDialog(owner, code), 1);
        EXPECT_EQ(code, index + 4);
    }
    EXPECT_STREQ(initPositionExplanation(4),
                 "Counterweight points to west, scope at the eastern side, looks to the south "
                 "Horizon.");
    EXPECT_STREQ(initPositionName(10), "");
    EXPECT_STREQ(initPositionExplanation(-1), "");
}

TEST(InitScopeDialog, ExitAndCloseBoxLeaveTheCodeAlone) {
    InMemoryControlModel owner;
    int32_t code = 11;
    owner.scriptNextModal([](Child& d) {
        d.selectItem(init_dlg::kPositions, 3);
        d.click(kIdCancel);
    });
    owner.scriptNextModal([](Child& d) {
        d.selectItem(init_dlg::kPositions, 3);
        d.close();
    });
    owner.scriptNextModal([](Child& d) {
        d.selectItem(init_dlg::kPositions, 3);
        d.pressEscape();
    });
    owner.scriptNextModal([](Child& d) {
        d.selectItem(init_dlg::kPositions, 3);
        d.pressEnter(kIdCancel);  // Enter on "Exit" must not set the position
    });
    for (int run = 0; run < 4; ++run) {
        EXPECT_EQ(showInitScopeDialog(owner, code), 0) << run;
    }
    EXPECT_EQ(code, 11);
}

TEST(InitScopeDialog, NoSelectionConfirmsWithoutTouchingTheCode) {
    // Only a broken list could lose its selection; the code then stays as it was.
    InMemoryControlModel owner;
    int32_t code = 9;
    owner.scriptNextModal([](Child& d) {
        d.setSelection(init_dlg::kPositions, -1);
        d.click(kIdOk);
    });
    EXPECT_EQ(showInitScopeDialog(owner, code), 1);
    EXPECT_EQ(code, 9);
}

// --- About ---

TEST(AboutDialog, LinkOpensTheWebAddressAndTheBoxStaysOpen) {
    InMemoryControlModel owner;
    owner.scriptNextModal([](Child& d) {
        EXPECT_EQ(d.text(about_dlg::kTitle), "Vornic 2.4");
        EXPECT_EQ(d.text(about_dlg::kDescription),
                  "Configurator program for Kestrova KZ2 and LQ8 controllers.");
        EXPECT_EQ(d.text(about_dlg::kLink), "https://vornic.example.org");
        d.click(about_dlg::kLink);
        EXPECT_FALSE(d.ended());
        d.click(about_dlg::kLink);
        d.click(kIdCancel);
    });
    EXPECT_EQ(showAboutDialog(owner), 1);
    ASSERT_NE(owner.lastModal(), nullptr);
    EXPECT_EQ(
        owner.lastModal()->openedUrls(),
        (std::vector<std::string>{"https://vornic.example.org", "https://vornic.example.org"}));
}

TEST(AboutDialog, EnterExitAndCloseBoxAllEndWithOne) {
    InMemoryControlModel owner;
    owner.scriptNextModal([](Child& d) { d.pressEnter(); });
    owner.scriptNextModal([](Child& d) { d.click(kIdCancel); });
    owner.scriptNextModal([](Child& d) { d.pressEscape(); });
    owner.scriptNextModal([](Child& d) { d.close(); });
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(showAboutDialog(owner), 1) << i;
        EXPECT_TRUE(owner.lastModal()->openedUrls().empty());
    }
}

}  // namespace
}  // namespace vornic::ui
