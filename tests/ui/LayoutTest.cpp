#include "ui/Layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"
#include "ui/SettingsDialogs.h"

namespace vornic::ui {
namespace {

using K = ControlKind;

bool overlap(const Rect& a, const Rect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

bool contains(const Rect& outer, const Rect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}

const DialogLayout& dialog(int id) {
    const DialogLayout* d = findDialogLayout(id);
    EXPECT_NE(d, nullptr) << id;
    static const DialogLayout kNone;
    return d != nullptr ? *d : kNone;
}

const ControlLayout& control(int dialogId, ControlId id) {
    const ControlLayout* c = findControl(dialog(dialogId), id);
    EXPECT_NE(c, nullptr) << "dialog " << dialogId << " control " << id;
    static const ControlLayout kNone;
    return c != nullptr ? *c : kNone;
}

// --- Geometry of every dialog ---

TEST(Layout, DialogsHaveTheirCaptionsSizesAndFont) {
    struct Expected {
        int id;
        const char* caption;
        int width;
        int height;
    };
    const Expected expected[] = {{kMainDialogId, "Vornic 2.4. beta 3.", 456, 296},
                                 {kGearRatioDialogId, "Set gear ratio", 200, 140},
                                 {kAdvancedSettingsDialogId, "Advanced settings", 240, 160},
                                 {kInitScopeDialogId, "Initialize telescope", 240, 105},
                                 {kAboutDialogId, "Vornic 2.4", 220, 94},
                                 {kPreviewDialogId, "Settings preview", 340, 220},
                                 {kSnapshotsDialogId, "Snapshots", 260, 180}};
    ASSERT_EQ(dialogLayouts().size(), std::size(expected));
    for (const Expected& e : expected) {
        const DialogLayout& d = dialog(e.id);
        EXPECT_STREQ(d.caption, e.caption);
        EXPECT_EQ(d.width, e.width) << e.id;
        EXPECT_EQ(d.height, e.height) << e.id;
        EXPECT_STREQ(d.fontName, "MS Shell Dlg");
        EXPECT_EQ(d.fontPoints, 8);
        EXPECT_NE(d.frameStyle & frame::kCaption, 0u);
        EXPECT_NE(d.frameStyle & frame::kSysMenu, 0u);
        EXPECT_NE(d.frameStyle & frame::kModalFrame, 0u);
        if (e.id != kMainDialogId) {
            EXPECT_EQ(d.x, 32);
            EXPECT_EQ(d.y, 32);
            EXPECT_NE(d.frameStyle & frame::kClientEdge, 0u);
        }
    }
    EXPECT_EQ(findDialogLayout(99), nullptr);
}

TEST(Layout, IdsAreUniqueAndEveryControlLiesInsideItsDialog) {
    for (const DialogLayout& d : dialogLayouts()) {
        std::set<ControlId> ids;
        const Rect client{0, 0, d.width, d.height};
        for (const ControlLayout& c : d.controls) {
            EXPECT_TRUE(ids.insert(c.id).second) << "dialog " << d.id << " repeats id " << c.id;
            EXPECT_TRUE(contains(client, visibleRect(c)))
                << "dialog " << d.id << " control " << c.id << " sticks out";
            EXPECT_GT(c.rect.w, 0);
            EXPECT_GT(c.rect.h, 0);
        }
    }
}

TEST(Layout, NoInteractiveControlIsHiddenByAnother) {
    for (const DialogLayout& d : dialogLayouts()) {
        for (size_t i = 0; i < d.controls.size(); ++i) {
            for (size_t j = i + 1; j < d.controls.size(); ++j) {
                const ControlLayout& a = d.controls[i];
                const ControlLayout& b = d.controls[j];
                if (a.kind == K::kGroupBox || b.kind == K::kGroupBox) {
                    continue;
                }
                // Static texts of the secondary dialogs are allowed to touch each other (they
                // come with fixed rectangles); the main dialog's never overlap at all.
                const bool mustBeApart =
                    isInteractive(a) || isInteractive(b) || d.id == kMainDialogId;
                if (mustBeApart) {
                    EXPECT_FALSE(overlap(visibleRect(a), visibleRect(b)))
                        << "dialog " << d.id << ": " << a.id << " overlaps " << b.id;
                }
            }
        }
    }
}

TEST(Layout, GroupBoxesHoldTheirControlsWhole) {
    for (const DialogLayout& d : dialogLayouts()) {
        for (const ControlLayout& group : d.controls) {
            if (group.kind != K::kGroupBox) {
                continue;
            }
            for (const ControlLayout& c : d.controls) {
                if (&c == &group) {
                    continue;
                }
                const Rect r = visibleRect(c);
                EXPECT_TRUE(!overlap(group.rect, r) || contains(group.rect, r))
                    << "dialog " << d.id << ": " << c.id << " straddles group " << group.id;
            }
        }
    }
}

// --- Main dialog ---

TEST(MainLayout, EveryControlOfTheEnableListExistsButTheTwoUnusedIds) {
    const DialogLayout& d = dialog(kMainDialogId);
    for (ControlId id : kEnableList) {
        if (id == kIdUnusedEnable122 || id == kIdUnusedEnable150) {
            EXPECT_EQ(findControl(d, id), nullptr) << id;
        } else {
            EXPECT_NE(findControl(d, id), nullptr) << id;
        }
    }
    for (ControlId id : kAxisSliders) {
        EXPECT_EQ(control(kMainDialogId, id).kind, K::kSlider) << id;
    }
}

TEST(MainLayout, TextsAndKindsOfTheFixedControls) {
    struct Expected {
        ControlId id;
        ControlKind kind;
        const char* text;
    };
    const Expected expected[] = {
        {1000, K::kLabelRight, "Port:"},
        {100, K::kDropDownList, ""},
        {101, K::kCheckBox, "115200 Baud"},
        {102, K::kButton, "Connect"},
        {103, K::kButton, "Disconnect"},
        {153, K::kButton, "About..."},
        {106, K::kButton, "Measure supply voltage:"},
        {107, K::kReadOnlyEdit, ""},
        {104, K::kReadOnlyEdit, ""},
        {105, K::kReadOnlyEdit, ""},
        {111, K::kPictureButton, ""},
        {112, K::kPictureButton, ""},
        {113, K::kPictureButton, ""},
        {114, K::kPictureButton, ""},
        {1001, K::kLabelCentre, "N"},
        {1002, K::kLabelCentre, "S"},
        {1003, K::kLabelCentre, "W"},
        {1004, K::kLabelCentre, "E"},
        {110, K::kButton, "Stop"},
        {115, K::kSlider, ""},
        {116, K::kButton, "Sidereal"},
        {117, K::kButton, "2X Sidereal"},
        {118, K::kPushLikeCheck, "Track on"},
        {119, K::kPushLikeCheck, "Track off"},
        {120, K::kButton, "Exp on"},
        {121, K::kButton, "Exp off"},
        {123, K::kButton, "Advanced settings"},
        {124, K::kButton, "Init scope"},
        {125, K::kButton, "Define park pos"},
        {151, K::kButton, "Reload defaults"},
        {152, K::kButton, "Save settings into KZ2"},
        {1050, K::kGroupBox, "Gear ratio"},
        {1051, K::kLabelRight, "RA:"},
        {171, K::kReadOnlyEdit, ""},
        {1052, K::kLabelRight, "DE:"},
        {172, K::kReadOnlyEdit, ""},
        {180, K::kButton, "Change gear ratio"},
        {1100, K::kGroupBox, "RA"},
        {1200, K::kGroupBox, "Dec"},
    };
    for (const Expected& e : expected) {
        const ControlLayout& c = control(kMainDialogId, e.id);
        EXPECT_EQ(c.kind, e.kind) << e.id;
        EXPECT_STREQ(c.text, e.text) << e.id;
    }
    // The baud box toggles itself; the track buttons are set by the program only.
    EXPECT_NE(control(kMainDialogId, 101).style & style::kAuto, 0u);
    EXPECT_EQ(control(kMainDialogId, 118).style & style::kAuto, 0u);
    EXPECT_EQ(control(kMainDialogId, 119).style & style::kAuto, 0u);
    // The connection's state can be read from the keyboard; only the status line is announced.
    for (ControlId id : {104, 105, 107}) {
        EXPECT_NE(control(kMainDialogId, id).style & style::kTabStop, 0u) << id;
        EXPECT_EQ((control(kMainDialogId, id).style & style::kLive) != 0, id == 104) << id;
    }
}

TEST(MainLayout, AxisGroupsMirrorEachOtherWithTheirLabels) {
    struct Expected {
        ControlId raId;
        ControlKind kind;
        const char* text;
    };
    const Expected expected[] = {
        {201, K::kCheckBox, "Reverse rotation"},
        {202, K::kCheckBox, "Reverse autoguiding"},
        {203, K::kCheckBox, "Reverse limit switches"},
        {1103, K::kLabel, "Max speed:"},
        {1104, K::kLabel, "Acceleration:"},
        {1105, K::kLabel, "Deceleration:"},
        {211, K::kEdit, ""},
        {213, K::kEdit, ""},
        {215, K::kEdit, ""},
        {1107, K::kLabel, "Max:"},
        {1108, K::kLabel, "mA"},
        {220, K::kReadOnlyEdit, ""},
        {1109, K::kLabel, "Idle:"},
        {1110, K::kLabel, "Track:"},
        {1111, K::kLabel, "Run:"},
        {230, K::kEdit, ""},
        {231, K::kEdit, ""},
        {232, K::kEdit, ""},
        {1112, K::kLabelCentre, "Decay"},
        {1115, K::kLabel, "3rd. overtone:"},
        {251, K::kEdit, ""},
        {1116, K::kLabel, "Inc. current at:"},
        {253, K::kEdit, ""},
        {1118, K::kLabel, "Guiding corrections: (1/16 of the sidereal speed)"},
        {1120, K::kLabelCentre, "1/16"},
        {1121, K::kLabelCentre, "1/4"},
        {1122, K::kLabelCentre, "1/2"},
        {1123, K::kLabelCentre, "3/4"},
        {1124, K::kLabelCentre, "1/1"},
        {1102, K::kEtchedLine, ""},
        {1106, K::kEtchedLine, ""},
        {1117, K::kEtchedLine, ""},
    };
    for (const Expected& e : expected) {
        for (ControlId offset : {0, kDecOffset}) {
            const ControlLayout& c = control(kMainDialogId, e.raId + offset);
            EXPECT_EQ(c.kind, e.kind) << e.raId + offset;
            EXPECT_STREQ(c.text, e.text) << e.raId + offset;
        }
    }
    // The third separator of the Dec group breaks the +100 rule.
    EXPECT_EQ(control(kMainDialogId, 1114).kind, K::kEtchedLine);
    EXPECT_EQ(control(kMainDialogId, 1213).kind, K::kEtchedLine);
    EXPECT_EQ(findControl(dialog(kMainDialogId), 1214), nullptr);
}

TEST(MainLayout, ControlsAreArrangedInRowsAndColumns) {
    auto r = [](ControlId id) { return visibleRect(control(kMainDialogId, id)); };
    auto bottom = [](const Rect& x) { return x.y + x.h; };
    auto right = [](const Rect& x) { return x.x + x.w; };

    // Connection row left to right, above the status row.
    const ControlId connection[] = {1000, 100, 101, 102, 103, 153, 106, 107};
    for (size_t i = 1; i < std::size(connection); ++i) {
        EXPECT_LE(right(r(connection[i - 1])), r(connection[i]).x) << connection[i];
    }
    for (ControlId id : connection) {
        EXPECT_LE(bottom(r(id)), r(104).y) << id;
    }
    EXPECT_LE(right(r(104)), r(105).x);

    // Hand pad left of the gear band and the axis groups; gear band above the groups.
    for (ControlId id :
         {111, 112, 113, 114, 110, 115, 116, 117, 118, 119, 120, 121, 123, 124, 125, 151, 152}) {
        EXPECT_LT(right(r(id)), r(1050).x) << id;
        EXPECT_GE(r(id).y, bottom(r(104))) << id;
    }
    EXPECT_LE(bottom(r(1050)), r(1100).y);
    EXPECT_LE(right(r(1100)), r(1200).x);

    // Arrows around Stop, letters outside them.
    EXPECT_LE(bottom(r(111)), r(110).y);
    EXPECT_LE(bottom(r(110)), r(112).y);
    EXPECT_LE(right(r(113)), r(110).x);
    EXPECT_LE(right(r(110)), r(114).x);
    EXPECT_LE(bottom(r(1001)), r(111).y);
    EXPECT_LE(bottom(r(112)), r(1002).y);
    EXPECT_LE(right(r(1004)), r(113).x);
    EXPECT_LE(right(r(114)), r(1003).x);

    // Separators in order down each group, tick labels under the guiding slider within its span.
    for (ControlId offset : {0, kDecOffset}) {
        const ControlId third = offset == 0 ? 1114 : 1213;
        const ControlId lines[] = {1102 + offset, 1106 + offset, third, 1117 + offset};
        const ControlId below[] = {210 + offset, 220 + offset, 250 + offset, 260 + offset};
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_LE(r(lines[i]).h, 2);
            EXPECT_LE(bottom(r(lines[i])), r(below[i]).y) << lines[i];
        }
        const Rect slider = r(260 + offset);
        int lastX = slider.x - 100;
        for (ControlId tick = 1120 + offset; tick <= 1124 + offset; ++tick) {
            EXPECT_GE(r(tick).y, bottom(slider)) << tick;
            EXPECT_GT(r(tick).x, lastX) << tick;
            EXPECT_LT(r(tick).x, right(slider)) << tick;
            EXPECT_GT(right(r(tick)), slider.x) << tick;
            lastX = r(tick).x;
        }
    }
}

// Windows' accessibility names a field, slider, list or picture button after the label right
// before it in the dialog template; the order keeps every control once and moves only labels.
TEST(Layout, TemplateOrderPutsEachLabelRightBeforeTheControlItNames) {
    for (const DialogLayout& d : dialogLayouts()) {
        std::vector<size_t> order = templateOrder(d);
        std::sort(order.begin(), order.end());
        std::vector<size_t> all(d.controls.size());
        std::iota(all.begin(), all.end(), size_t{0});
        EXPECT_EQ(order, all) << d.id;
    }
    const DialogLayout& main = dialog(kMainDialogId);
    const std::vector<size_t> order = templateOrder(main);
    const std::pair<ControlId, const char*> named[] = {
        {100, "Port:"},
        {111, "N"},
        {114, "W"},
        {171, "RA:"},
        {172, "DE:"},
        {210, "Max speed:"},
        {220, "Max:"},
        {240, "Decay"},
        {260, "Guiding corrections: (1/16 of the sidereal speed)"},
        {352, "Inc. current at:"}};
    for (const auto& [id, label] : named) {
        const auto at = std::find_if(order.begin(), order.end(),
                                     [&](size_t i) { return main.controls[i].id == id; });
        ASSERT_TRUE(at != order.end() && at != order.begin()) << id;
        EXPECT_STREQ(main.controls[*(at - 1)].text, label) << id;
    }
}

// The arrow keys walk a group: from a control that starts one up to the next control that does.
// Each run of radio buttons must be exactly one group, or the keys leave it for a box or label.
TEST(Layout, EachRunOfRadioButtonsIsOneArrowKeyGroup) {
    for (const DialogLayout& d : dialogLayouts()) {
        const std::vector<size_t> order = templateOrder(d);
        bool inRun = false;
        for (size_t i : order) {
            const ControlLayout& c = d.controls[i];
            const bool radio = c.kind == K::kRadioButton;
            const bool starts = (c.style & style::kGroup) != 0;
            if (radio != inRun) {  // a run's first button, or the control after its last
                EXPECT_TRUE(starts) << d.id << "/" << c.id;
            } else if (radio) {
                EXPECT_FALSE(starts) << d.id << "/" << c.id;
            }
            inRun = radio;
        }
    }
}

// --- Secondary dialogs ---

struct Placed {
    ControlId id;
    ControlKind kind;
    const char* text;  // nullptr: not checked
    Rect rect;
};

void expectPlaced(int dialogId, const std::vector<Placed>& expected) {
    EXPECT_EQ(dialog(dialogId).controls.size(), expected.size()) << dialogId;
    for (const Placed& e : expected) {
        const ControlLayout& c = control(dialogId, e.id);
        EXPECT_EQ(c.kind, e.kind) << dialogId << "/" << e.id;
        if (e.text != nullptr) {
            EXPECT_STREQ(c.text, e.text) << dialogId << "/" << e.id;
        }
        EXPECT_EQ(c.rect.x, e.rect.x) << dialogId << "/" << e.id;
        EXPECT_EQ(c.rect.y, e.rect.y) << dialogId << "/" << e.id;
        EXPECT_EQ(c.rect.w, e.rect.w) << dialogId << "/" << e.id;
        EXPECT_EQ(c.rect.h, e.rect.h) << dialogId << "/" << e.id;
    }
}

TEST(SecondaryLayout, SetGearRatio) {
    expectPlaced(kGearRatioDialogId,
                 {{1000, K::kLabelRight, "Gear ratio for RA axis:", {8, 6, 80, 14}},
                  {100, K::kEdit, "", {92, 5, 60, 12}},
                  {1001, K::kLabelRight, "Gear ratio for DE axis:", {8, 22, 80, 14}},
                  {101, K::kEdit, "", {92, 21, 60, 12}},
                  {1002,
                   K::kLabel,
                   "The entered value should include the motor's resolution.",
                   {4, 38, 190, 18}},
                  {1003, K::kLabel, "Examples:", {4, 56, 190, 10}},
                  {1004, K::kLabel, nullptr, {8, 66, 190, 10}},
                  {1005, K::kLabel, nullptr, {8, 76, 190, 10}},
                  {1006, K::kLabel, nullptr, {8, 86, 190, 10}},
                  {1007, K::kLabel, nullptr, {8, 96, 190, 10}},
                  {1008, K::kLabel, nullptr, {8, 106, 190, 10}},
                  {2, K::kButton, "Cancel", {15, 118, 80, 18}},
                  {1, K::kButton, "Ok", {105, 118, 80, 18}}});
    // Each worked example ends in the product it names.
    const char* const products[] = {"= 172800", "= 829440", "= 162000", "= 287200", "= 164000"};
    for (int i = 0; i < 5; ++i) {
        const std::string text = control(kGearRatioDialogId, 1004 + i).text;
        EXPECT_NE(text.find(products[i]), std::string::npos) << text;
    }
}

TEST(SecondaryLayout, AdvancedSettings) {
    expectPlaced(
        kAdvancedSettingsDialogId,
        {{1000, K::kGroupBox, "Geographic position", {4, 4, 232, 30}},
         {1011, K::kLabelRight, "Latitude:", {6, 17, 50, 10}},
         {100, K::kEdit, "", {60, 16, 50, 12}},
         {1012, K::kLabelRight, "Longitude:", {116, 17, 50, 10}},
         {101, K::kEdit, "", {170, 16, 50, 12}},
         {1001, K::kGroupBox, "Mount type", {4, 40, 232, 42}},
         {110, K::kRadioButton, "Equatorial german", {8, 52, 80, 12}},
         {111, K::kRadioButton, "Equatorial fork", {8, 64, 80, 12}},
         {112, K::kRadioButton, "Alt - Azimut", {120, 52, 80, 12}},
         {1002, K::kGroupBox, "Meridian flip", {4, 86, 232, 40}},
         {1030, K::kLabelRight, "Meridian flip hysteresis (degrees):", {6, 98, 140, 10}},
         {120, K::kEdit, "", {150, 97, 50, 12}},
         {1031, K::kLabelCentre, "Recommended value in 5...15 degrees range.", {6, 112, 190, 10}},
         {2, K::kButton, "Cancel", {15, 134, 80, 18}},
         {1, K::kButton, "Ok", {105, 134, 80, 18}}});
    // Plain radio buttons: the dialog checks them itself.
    EXPECT_EQ(control(kAdvancedSettingsDialogId, 110).style & style::kAuto, 0u);
}

TEST(SecondaryLayout, InitializeTelescopeAndAbout) {
    expectPlaced(kInitScopeDialogId,
                 {{1000, K::kLabelRight, "Position:", {4, 7, 32, 12}},
                  {100, K::kDropDownList, "", {38, 5, 190, 200}},
                  {1001, K::kGroupBox, "Explanation", {4, 22, 232, 50}},
                  {101, K::kLabel, "Explanation of the selected position", {8, 34, 200, 30}},
                  {2, K::kButton, "Exit", {15, 80, 80, 18}},
                  {1, K::kButton, "Set this position", {105, 80, 120, 18}}});
    expectPlaced(kAboutDialogId,
                 {{101, K::kLabel, "Vornic 2.4", {8, 8, 180, 14}},
                  {102,
                   K::kLabel,
                   "Configurator program for Kestrova KZ2 and LQ8 controllers.",
                   {8, 24, 208, 14}},
                  {104, K::kLabel, "Vornic, by the Vornic developers", {8, 38, 208, 10}},
                  {105, K::kLabel, "https://vornic.example.org", {10, 50, 160, 10}},
                  {2, K::kButton, "Exit", {10, 70, 60, 16}}});
    const ControlLayout& link = control(kAboutDialogId, 105);
    EXPECT_NE(link.style & style::kLink, 0u);
    EXPECT_NE(link.style & style::kNotify, 0u);
    EXPECT_TRUE(isInteractive(link));
    EXPECT_NE(control(kAboutDialogId, 101).style & style::kTitle, 0u);
    EXPECT_FALSE(isInteractive(control(kAboutDialogId, 102)));
}

// A hidden warning or confirmation gives its rows to the table, which keeps its bottom edge; the
// count above and the buttons below stay put.
TEST(SecondaryLayout, PreviewTableTakesTheRowsOfWhatIsHidden) {
    namespace pd = preview_dlg;
    const DialogLayout& d = dialog(kPreviewDialogId);
    const struct {
        std::set<ControlId> hidden;
        int confirmTop;
        Rect table;
    } cases[] = {{{}, 38, {6, 52, 328, 138}},
                 {{pd::kConfirm}, 38, {6, 38, 328, 152}},
                 {{pd::kWarning}, 18, {6, 32, 328, 158}},
                 {{pd::kWarning, pd::kConfirm}, 18, {6, 18, 328, 172}}};
    for (const auto& c : cases) {
        const auto hidden = [&](ControlId id) { return c.hidden.count(id) != 0; };
        const Rect table = arrangedRect(d, control(kPreviewDialogId, pd::kTable), hidden);
        EXPECT_EQ(std::vector<int>({table.x, table.y, table.w, table.h}),
                  std::vector<int>({c.table.x, c.table.y, c.table.w, c.table.h}))
            << c.hidden.size() << " hidden";
        EXPECT_EQ(arrangedRect(d, control(kPreviewDialogId, pd::kConfirm), hidden).y, c.confirmTop);
        for (ControlId fixed : {ControlId{pd::kMessage}, ControlId{pd::kRestore}, kIdCancel}) {
            const Rect r = arrangedRect(d, control(kPreviewDialogId, fixed), hidden);
            EXPECT_EQ(r.y, control(kPreviewDialogId, fixed).rect.y) << fixed;
        }
    }
    EXPECT_FALSE(hasCollapsingRows(dialog(kMainDialogId)));
}

}  // namespace
}  // namespace vornic::ui
