#include "ui/Layout.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "ui/MainDialogIds.h"
#include "ui/SecondaryDialogs.h"
#include "ui/SettingsDialogs.h"

namespace vornic::ui {

namespace {

using K = ControlKind;

constexpr const char* kShellFont = "MS Shell Dlg";
constexpr int kFontPoints = 8;

// Control style sets used throughout.
constexpr uint32_t kStatic = style::kGroup;
constexpr uint32_t kEditStyle = style::kBorder | style::kTabStop | style::kAutoHScroll;
constexpr uint32_t kReadOnlyStyle = style::kBorder | style::kAutoHScroll;
// The connection's state and the controller's answers: reachable with Tab, so that they can be
// read, selected and copied from the keyboard.
constexpr uint32_t kReadableStyle = kReadOnlyStyle | style::kTabStop;
constexpr uint32_t kButtonStyle = style::kTabStop;
constexpr uint32_t kSliderStyle = style::kTabStop | style::kAutoTicks;
constexpr uint32_t kAutoCheckStyle = style::kTabStop | style::kAuto;
constexpr uint32_t kListStyle = style::kTabStop | style::kVScroll;

constexpr uint32_t kSecondaryFrame = frame::kPopup | frame::kVisible | frame::kCaption |
                                     frame::kSysMenu | frame::kModalFrame | frame::kClientEdge;
constexpr uint32_t kMainFrame =
    frame::kPopup | frame::kVisible | frame::kCaption | frame::kSysMenu | frame::kModalFrame;

// ---------------------------------------------------------------------------------------------
// Set gear ratio

// The note needs two lines in the 8-point shell font; "Examples:" and the examples start below its
// second line instead of overlapping it.
constexpr ControlLayout kGearRatioControls[] = {
    {gear_dlg::kRaLabel, K::kLabelRight, kStatic, "Gear ratio for RA axis:", {8, 6, 80, 14}},
    {gear_dlg::kRa, K::kEdit, kEditStyle, "", {92, 5, 60, 12}},
    {gear_dlg::kDeLabel, K::kLabelRight, kStatic, "Gear ratio for DE axis:", {8, 22, 80, 14}},
    {gear_dlg::kDe, K::kEdit, kEditStyle, "", {92, 21, 60, 12}},
    {gear_dlg::kNote,
     K::kLabel,
     kStatic,
     "The entered value should include the motor's resolution.",
     {4, 38, 190, 18}},
    {gear_dlg::kExamplesLabel, K::kLabel, kStatic, "Examples:", {4, 56, 190, 10}},
    {gear_dlg::kFirstExample,
     K::kLabel,
     kStatic,
     "Mid-size GEM: 200 * 4,5 * 192 = 172800",
     {8, 66, 190, 10}},
    {gear_dlg::kFirstExample + 1,
     K::kLabel,
     kStatic,
     "Large GEM: 400 * 3 * 3.6 * 192 = 829440",
     {8, 76, 190, 10}},
    {gear_dlg::kFirstExample + 2,
     K::kLabel,
     kStatic,
     "Fork mount: (250 * (81/25)) * 200 = 162000",
     {8, 86, 190, 10}},
    {gear_dlg::kFirstExample + 3,
     K::kLabel,
     kStatic,
     "Dual-worm mount RA: 200 * 4 * 359 = 287200",
     {8, 96, 190, 10}},
    {gear_dlg::kFirstExample + 4,
     K::kLabel,
     kStatic,
     "Dual-worm mount DE: 200 * 4 * 205 = 164000",
     {8, 106, 190, 10}},
    {kIdCancel, K::kButton, kButtonStyle, "Cancel", {15, 118, 80, 18}},
    {kIdOk, K::kButton, kButtonStyle, "Ok", {105, 118, 80, 18}},
};

// ---------------------------------------------------------------------------------------------
// Advanced settings

constexpr ControlLayout kAdvancedControls[] = {
    {site_dlg::kPositionGroup, K::kGroupBox, 0, "Geographic position", {4, 4, 232, 30}},
    {site_dlg::kLatitudeLabel, K::kLabelRight, kStatic, "Latitude:", {6, 17, 50, 10}},
    {site_dlg::kLatitude, K::kEdit, kEditStyle, "", {60, 16, 50, 12}},
    {site_dlg::kLongitudeLabel, K::kLabelRight, kStatic, "Longitude:", {116, 17, 50, 10}},
    {site_dlg::kLongitude, K::kEdit, kEditStyle, "", {170, 16, 50, 12}},
    {site_dlg::kMountGroup, K::kGroupBox, 0, "Mount type", {4, 40, 232, 42}},
    // The arrow keys move among the radio buttons from the first (a group's start) up to the
    // next group's start, the box after them.
    {site_dlg::kEquatorialGerman,
     K::kRadioButton,
     style::kTabStop | style::kGroup,
     "Equatorial german",
     {8, 52, 80, 12}},
    {site_dlg::kEquatorialFork,
     K::kRadioButton,
     style::kTabStop,
     "Equatorial fork",
     {8, 64, 80, 12}},
    {site_dlg::kAltAzimuth, K::kRadioButton, style::kTabStop, "Alt - Azimut", {120, 52, 80, 12}},
    {site_dlg::kFlipGroup, K::kGroupBox, style::kGroup, "Meridian flip", {4, 86, 232, 40}},
    {site_dlg::kHysteresisLabel,
     K::kLabelRight,
     kStatic,
     "Meridian flip hysteresis (degrees):",
     {6, 98, 140, 10}},
    {site_dlg::kHysteresis, K::kEdit, kEditStyle, "", {150, 97, 50, 12}},
    {site_dlg::kHysteresisHint,
     K::kLabelCentre,
     kStatic,
     "Recommended value in 5...15 degrees range.",
     {6, 112, 190, 10}},
    {kIdCancel, K::kButton, kButtonStyle, "Cancel", {15, 134, 80, 18}},
    {kIdOk, K::kButton, kButtonStyle, "Ok", {105, 134, 80, 18}},
};

// ---------------------------------------------------------------------------------------------
// Initialize telescope

constexpr ControlLayout kInitScopeControls[] = {
    {init_dlg::kPositionLabel, K::kLabelRight, kStatic, "Position:", {4, 7, 32, 12}},
    {init_dlg::kPositions, K::kDropDownList, kListStyle, "", {38, 5, 190, 200}},
    {init_dlg::kExplanationGroup, K::kGroupBox, 0, "Explanation", {4, 22, 232, 50}},
    {init_dlg::kExplanation,
     K::kLabel,
     kStatic,
     "Explanation of the selected position",
     {8, 34, 200, 30}},
    {kIdCancel, K::kButton, kButtonStyle, "Exit", {15, 80, 80, 18}},
    {kIdOk, K::kButton, kButtonStyle, "Set this position", {105, 80, 120, 18}},
};

// ---------------------------------------------------------------------------------------------
// About

constexpr ControlLayout kAboutControls[] = {
    {about_dlg::kTitle, K::kLabel, kStatic | style::kTitle, "Vornic 2.4", {8, 8, 180, 14}},
    {about_dlg::kDescription,
     K::kLabel,
     kStatic,
     "Configurator program for Kestrova KZ2 and LQ8 controllers.",
     {8, 24, 208, 14}},
    {about_dlg::kCredit, K::kLabel, kStatic, "Vornic, by the Vornic developers", {8, 38, 208, 10}},
    {about_dlg::kLink,
     K::kLabel,
     kStatic | style::kNotify | style::kLink,
     about_dlg::kUrl,
     {10, 50, 160, 10}},
    {kIdCancel, K::kButton, kButtonStyle, "Exit", {10, 70, 60, 16}},
};

// ---------------------------------------------------------------------------------------------
// Preview of a restore or compare. The warning and its confirmation sit above the table, where
// they are seen before the rows and before "Restore"; while there is no warning they are hidden and
// the table takes their rows. The table comes first in the order, so the keyboard starts on the
// rows rather than on the confirmation.

constexpr ControlLayout kPreviewControls[] = {
    {preview_dlg::kTable,
     K::kTable,
     style::kTabStop | style::kBorder | style::kFill,
     "Settings that differ",
     {6, 52, 328, 138}},
    {preview_dlg::kMessage, K::kLabel, kStatic, "", {6, 6, 328, 10}},
    {preview_dlg::kWarning, K::kLabel, kStatic | style::kCollapse, "", {6, 18, 328, 18}},
    {preview_dlg::kConfirm,
     K::kCheckBox,
     kAutoCheckStyle | style::kCollapse,
     settings_text::kConfirmOther,
     {6, 38, 328, 10}},
    {preview_dlg::kRestore, K::kButton, kButtonStyle, "Restore", {204, 198, 62, 16}},
    {kIdCancel, K::kButton, kButtonStyle, "Cancel", {272, 198, 62, 16}},
};

// ---------------------------------------------------------------------------------------------
// Snapshots of the connected controller

constexpr ControlLayout kSnapshotsControls[] = {
    {snapshots_dlg::kMessage, K::kLabel, kStatic, "", {6, 6, 248, 10}},
    {snapshots_dlg::kTable,
     K::kTable,
     style::kTabStop | style::kBorder,
     "Snapshots",
     {6, 18, 248, 134}},
    {snapshots_dlg::kCompare, K::kButton, kButtonStyle, "Compare", {6, 158, 60, 16}},
    {snapshots_dlg::kRestore, K::kButton, kButtonStyle, "Restore", {70, 158, 60, 16}},
    {kIdCancel, K::kButton, kButtonStyle, "Close", {194, 158, 60, 16}},
};

// ---------------------------------------------------------------------------------------------
// Main dialog

// Every item needs the controller: it reads it, or compares with or writes into it.
constexpr MenuItemLayout kSettingsMenuItems[] = {
    {kIdMenuBackUp, "Back up to file...", true},
    {kIdMenuRestore, "Restore from file...", true},
    {kIdMenuCompare, "Compare with file...", true},
    {kIdMenuUndo, "Undo changes since connecting...", true},
    {kIdMenuSnapshots, "Snapshots...", true},
};

// "&" marks the letter that opens the menu with Alt, as both toolkits read it.
constexpr MenuLayout kMainMenus[] = {{"&Settings", kSettingsMenuItems}};

constexpr size_t kMainCapacity = 160;

struct ControlTable {
    std::array<ControlLayout, kMainCapacity> items{};
    size_t count = 0;

    constexpr void add(ControlId id, ControlKind kind, uint32_t styleFlags, const char* text,
                       Rect rect) {
        items[count++] = ControlLayout{id, kind, styleFlags, text, rect};
    }
};

// One axis group. `dec` picks the Dec ids (RA id + 100) and the right-hand column.
constexpr void addAxisGroup(ControlTable& t, bool dec) {
    const ControlId d = dec ? kDecOffset : 0;
    const int ox = dec ? 294 : 134;  // left edge of the group box

    t.add(kIdRaGroup + d, K::kGroupBox, 0, dec ? "Dec" : "RA", {ox, 68, 156, 226});

    t.add(kIdReverseRotationRa + d, K::kCheckBox, kAutoCheckStyle, "Reverse rotation",
          {ox + 6, 78, 140, 10});
    t.add(kIdReverseGuidingRa + d, K::kCheckBox, kAutoCheckStyle, "Reverse autoguiding",
          {ox + 6, 89, 140, 10});
    t.add(kIdReverseLimitsRa + d, K::kCheckBox, kAutoCheckStyle, "Reverse limit switches",
          {ox + 6, 100, 140, 10});
    t.add(kIdSepRa1 + d, K::kEtchedLine, 0, "", {ox + 4, 113, 148, 1});

    // Speed and ramps: label, slider, value field.
    struct Row {
        ControlId label;
        const char* text;
        ControlId slider;
        ControlId field;
        int y;
    };
    const Row rampRows[] = {
        {kIdMaxSpeedLabelRa, "Max speed:", kIdMaxSpeedSliderRa, kIdMaxSpeedRa, 117},
        {kIdAccelLabelRa, "Acceleration:", kIdAccelSliderRa, kIdAccelRa, 131},
        {kIdDecelLabelRa, "Deceleration:", kIdDecelSliderRa, kIdDecelRa, 145},
    };
    for (const Row& r : rampRows) {
        t.add(r.label + d, K::kLabel, kStatic, r.text, {ox + 6, r.y + 2, 50, 8});
        t.add(r.slider + d, K::kSlider, kSliderStyle, "", {ox + 58, r.y, 64, 12});
        t.add(r.field + d, K::kEdit, kEditStyle, "", {ox + 124, r.y, 26, 12});
    }
    t.add(kIdSepRa2 + d, K::kEtchedLine, 0, "", {ox + 4, 160, 148, 1});

    // Motor currents: a header row (maximum current, unit, decay column title), then one row per
    // idle / track / run with its field, current slider and decay slider.
    t.add(kIdMaxCurrentLabelRa + d, K::kLabel, kStatic, "Max:", {ox + 6, 166, 22, 8});
    t.add(kIdMaxCurrentRa + d, K::kReadOnlyEdit, kReadOnlyStyle, "", {ox + 30, 164, 28, 12});
    t.add(kIdMaxCurrentUnitRa + d, K::kLabel, kStatic, "mA", {ox + 60, 166, 14, 8});
    t.add(kIdDecayLabelRa + d, K::kLabelCentre, kStatic, "Decay", {ox + 108, 166, 42, 8});
    struct CurrentRow {
        ControlId label;
        const char* text;
        ControlId field;
        ControlId slider;
        ControlId decay;
        int y;
    };
    const CurrentRow currentRows[] = {
        {kIdIdleLabelRa, "Idle:", kIdIdleCurrentRa, kIdIdleCurrentSliderRa, kIdIdleDecayRa, 178},
        {kIdTrackLabelRa, "Track:", kIdTrackCurrentRa, kIdTrackCurrentSliderRa, kIdTrackDecayRa,
         191},
        {kIdRunLabelRa, "Run:", kIdRunCurrentRa, kIdRunCurrentSliderRa, kIdRunDecayRa, 204},
    };
    for (const CurrentRow& r : currentRows) {
        t.add(r.label + d, K::kLabel, kStatic, r.text, {ox + 6, r.y + 2, 22, 8});
        t.add(r.field + d, K::kEdit, kEditStyle, "", {ox + 30, r.y, 28, 12});
        t.add(r.slider + d, K::kSlider, kSliderStyle, "", {ox + 60, r.y, 46, 12});
        t.add(r.decay + d, K::kSlider, kSliderStyle, "", {ox + 108, r.y, 42, 12});
    }
    t.add(dec ? kIdSepDe3 : kIdSepRa3, K::kEtchedLine, 0, "", {ox + 4, 219, 148, 1});

    const Row extraRows[] = {
        {kIdOvertoneLabelRa, "3rd. overtone:", kIdOvertoneSliderRa, kIdOvertoneRa, 223},
        {kIdIncCurrentLabelRa, "Inc. current at:", kIdIncCurrentSliderRa, kIdIncCurrentRa, 237},
    };
    for (const Row& r : extraRows) {
        t.add(r.label + d, K::kLabel, kStatic, r.text, {ox + 6, r.y + 2, 58, 8});
        t.add(r.slider + d, K::kSlider, kSliderStyle, "", {ox + 66, r.y, 56, 12});
        t.add(r.field + d, K::kEdit, kEditStyle, "", {ox + 124, r.y, 26, 12});
    }
    t.add(kIdSepRa4 + d, K::kEtchedLine, 0, "", {ox + 4, 252, 148, 1});

    // Guiding: the label wraps onto two lines; the tick labels sit under the slider positions of
    // 1/16 (0), 1/4 (3), 1/2 (7), 3/4 (11) and 1/1 (15), clear of the group's bottom edge.
    t.add(kIdGuidingLabelRa + d, K::kLabel, kStatic,
          "Guiding corrections: (1/16 of the sidereal speed)", {ox + 6, 254, 144, 16});
    t.add(kIdGuidingRa + d, K::kSlider, kSliderStyle, "", {ox + 6, 270, 144, 11});
    const char* const ticks[] = {"1/16", "1/4", "1/2", "3/4", "1/1"};
    const int tickX[] = {4, 31, 66, 102, 138};
    for (int i = 0; i < 5; ++i) {
        t.add(kIdGuidingTick1Ra + d + i, K::kLabelCentre, kStatic, ticks[i],
              {ox + tickX[i], 282, 14, 8});
    }
}

constexpr ControlTable buildMainControls() {
    ControlTable t;

    // Connection row
    t.add(kIdPortLabel, K::kLabelRight, kStatic, "Port:", {6, 9, 20, 8});
    t.add(kIdPortList, K::kDropDownList, kListStyle, "", {28, 7, 50, 200});
    // The baud box leaves room for fonts whose digits are wider than the average letter.
    t.add(kIdBaud115200, K::kCheckBox, kAutoCheckStyle, "115200 Baud", {82, 8, 64, 12});
    t.add(kIdConnect, K::kButton, kButtonStyle, "Connect", {148, 7, 48, 14});
    t.add(kIdDisconnect, K::kButton, kButtonStyle, "Disconnect", {200, 7, 48, 14});
    t.add(kIdAbout, K::kButton, kButtonStyle, "About...", {252, 7, 44, 14});
    t.add(kIdMeasureVoltage, K::kButton, kButtonStyle, "Measure supply voltage:", {306, 7, 98, 14});
    t.add(kIdVoltage, K::kReadOnlyEdit, kReadableStyle, "", {408, 8, 42, 12});

    // Status row
    t.add(kIdStatusLine, K::kReadOnlyEdit, kReadableStyle | style::kLive, "", {6, 25, 250, 12});
    t.add(kIdIdentityLine, K::kReadOnlyEdit, kReadableStyle, "", {260, 25, 190, 12});

    // Hand pad: the four arrows around Stop, with their direction letters outside.
    t.add(kIdLabelN, K::kLabelCentre, kStatic, "N", {60, 40, 12, 8});
    t.add(kIdMoveNorth, K::kPictureButton, kButtonStyle, "", {54, 49, 24, 18});
    t.add(kIdLabelE, K::kLabelCentre, kStatic, "E", {14, 74, 10, 8});
    t.add(kIdMoveEast, K::kPictureButton, kButtonStyle, "", {26, 69, 24, 18});
    t.add(kIdStop, K::kButton, kButtonStyle, "Stop", {52, 69, 28, 18});
    t.items[t.count - 1].toolTip = "Stops both axes (Esc)";
    t.add(kIdMoveWest, K::kPictureButton, kButtonStyle, "", {82, 69, 24, 18});
    t.add(kIdLabelW, K::kLabelCentre, kStatic, "W", {108, 74, 10, 8});
    t.add(kIdMoveSouth, K::kPictureButton, kButtonStyle, "", {54, 89, 24, 18});
    t.add(kIdLabelS, K::kLabelCentre, kStatic, "S", {60, 109, 12, 8});
    t.add(kIdSpeed, K::kSlider, kSliderStyle, "", {6, 121, 120, 16});
    t.add(kIdSidereal, K::kButton, kButtonStyle, "Sidereal", {6, 141, 58, 14});
    t.add(kIdSidereal2x, K::kButton, kButtonStyle, "2X Sidereal", {68, 141, 58, 14});
    t.add(kIdTrackOn, K::kPushLikeCheck, kButtonStyle, "Track on", {6, 159, 58, 14});
    t.add(kIdTrackOff, K::kPushLikeCheck, kButtonStyle, "Track off", {68, 159, 58, 14});
    t.add(kIdExpOn, K::kButton, kButtonStyle, "Exp on", {6, 177, 58, 14});
    t.add(kIdExpOff, K::kButton, kButtonStyle, "Exp off", {68, 177, 58, 14});
    t.add(kIdAdvancedSettings, K::kButton, kButtonStyle, "Advanced settings", {6, 199, 120, 14});
    t.add(kIdInitScope, K::kButton, kButtonStyle, "Init scope", {6, 217, 58, 14});
    t.add(kIdDefinePark, K::kButton, kButtonStyle, "Define park pos", {68, 217, 58, 14});
    t.add(kIdReloadDefaults, K::kButton, kButtonStyle, "Reload defaults", {6, 239, 120, 14});
    t.add(kIdSaveSettings, K::kButton, kButtonStyle, "Save settings into KZ2", {6, 257, 120, 14});
    // Empty while the controller holds nothing that a power-off would lose.
    t.add(kIdNotSavedMark, K::kLabelCentre, kStatic, "", {6, 274, 120, 10});

    // Gear ratio band, right of the hand pad.
    t.add(kIdGearGroup, K::kGroupBox, 0, "Gear ratio", {134, 38, 316, 26});
    t.add(kIdGearRaLabel, K::kLabelRight, kStatic, "RA:", {140, 49, 16, 8});
    t.add(kIdGearRa, K::kReadOnlyEdit, kReadOnlyStyle, "", {158, 47, 70, 12});
    t.add(kIdGearDeLabel, K::kLabelRight, kStatic, "DE:", {236, 49, 16, 8});
    t.add(kIdGearDe, K::kReadOnlyEdit, kReadOnlyStyle, "", {254, 47, 70, 12});
    t.add(kIdChangeGearRatio, K::kButton, kButtonStyle, "Change gear ratio", {340, 46, 104, 14});

    addAxisGroup(t, false);
    addAxisGroup(t, true);
    return t;
}

constexpr ControlTable kMainControls = buildMainControls();
static_assert(kMainControls.count > 0 && kMainControls.count <= kMainCapacity);

constexpr DialogLayout kDialogs[] = {
    {kMainDialogId, "Vornic 2.4. beta 3.", 0, 0, 456, 296, kShellFont, kFontPoints, kMainFrame,
     std::span<const ControlLayout>(kMainControls.items.data(), kMainControls.count)},
    {kGearRatioDialogId, "Set gear ratio", 32, 32, 200, 140, kShellFont, kFontPoints,
     kSecondaryFrame, kGearRatioControls},
    {kAdvancedSettingsDialogId, "Advanced settings", 32, 32, 240, 160, kShellFont, kFontPoints,
     kSecondaryFrame, kAdvancedControls},
    {kInitScopeDialogId, "Initialize telescope", 32, 32, 240, 105, kShellFont, kFontPoints,
     kSecondaryFrame, kInitScopeControls},
    {kAboutDialogId, "Vornic 2.4", 32, 32, 220, 94, kShellFont, kFontPoints, kSecondaryFrame,
     kAboutControls},
    {kPreviewDialogId, "Settings preview", 32, 32, 340, 220, kShellFont, kFontPoints,
     kSecondaryFrame, kPreviewControls},
    {kSnapshotsDialogId, "Snapshots", 32, 32, 260, 180, kShellFont, kFontPoints, kSecondaryFrame,
     kSnapshotsControls},
};

}  // namespace

std::span<const DialogLayout> dialogLayouts() {
    return kDialogs;
}

std::span<const MenuLayout> dialogMenus(int dialogId) {
    if (dialogId == kMainDialogId) {
        return kMainMenus;
    }
    return {};
}

const DialogLayout* findDialogLayout(int dialogId) {
    for (const DialogLayout& dialog : kDialogs) {
        if (dialog.id == dialogId) {
            return &dialog;
        }
    }
    return nullptr;
}

const ControlLayout* findControl(const DialogLayout& dialog, ControlId id) {
    for (const ControlLayout& control : dialog.controls) {
        if (control.id == id) {
            return &control;
        }
    }
    return nullptr;
}

bool isInteractive(const ControlLayout& control) {
    switch (control.kind) {
        case K::kLabel:
        case K::kLabelRight:
        case K::kLabelCentre:
            return (control.style & style::kNotify) != 0;
        case K::kGroupBox:
        case K::kEtchedLine:
            return false;
        default:
            return true;
    }
}

bool hasCollapsingRows(const DialogLayout& dialog) {
    return std::any_of(dialog.controls.begin(), dialog.controls.end(),
                       [](const ControlLayout& c) { return (c.style & style::kCollapse) != 0; });
}

Rect arrangedRect(const DialogLayout& dialog, const ControlLayout& control,
                  const std::function<bool(ControlId)>& hidden) {
    Rect r = visibleRect(control);
    const auto fill =
        std::find_if(dialog.controls.begin(), dialog.controls.end(),
                     [](const ControlLayout& c) { return (c.style & style::kFill) != 0; });
    if (fill == dialog.controls.end() || r.y >= fill->rect.y + fill->rect.h) {
        return r;
    }
    int freed = 0;
    for (const ControlLayout& c : dialog.controls) {
        const int bottom = c.rect.y + c.rect.h;
        if ((c.style & style::kCollapse) == 0 || bottom > r.y || !hidden(c.id)) {
            continue;
        }
        // Its rows reach down to the next control under it.
        int next = r.y;
        for (const ControlLayout& d : dialog.controls) {
            if (d.rect.y >= bottom) {
                next = std::min(next, d.rect.y);
            }
        }
        freed += next - c.rect.y;
    }
    r.y -= freed;
    if (control.id == fill->id) {
        r.h += freed;
    }
    return r;
}

int columnWidth(int neededPixels, int airPixels, int minimumPixels) {
    return std::max(neededPixels + airPixels, minimumPixels);
}

Rect visibleRect(const ControlLayout& control) {
    Rect r = control.rect;
    if (control.kind == K::kDropDownList && r.h > kClosedComboHeight) {
        r.h = kClosedComboHeight;
    }
    return r;
}

ControlId enterCommand(const DialogLayout& dialog, ControlId focused) {
    // A push-like check box is a check box to the dialog manager: Space toggles it, Enter does not.
    const ControlLayout* c = findControl(dialog, focused);
    if (c != nullptr &&
        (c->kind == ControlKind::kButton || c->kind == ControlKind::kPictureButton)) {
        return focused;
    }
    return kIdOk;
}

namespace {

bool isPlainLabel(const ControlLayout& c) {
    return (c.kind == ControlKind::kLabel || c.kind == ControlKind::kLabelRight ||
            c.kind == ControlKind::kLabelCentre) &&
           (c.style & style::kNotify) == 0;
}

// Controls that show no text of their own: screen readers name them after the label right before
// them in the dialog's order.
bool needsLabel(const ControlLayout& c) {
    switch (c.kind) {
        case ControlKind::kEdit:
        case ControlKind::kReadOnlyEdit:
        case ControlKind::kSlider:
        case ControlKind::kDropDownList:
        case ControlKind::kPictureButton:
            return true;
        default:
            return false;
    }
}

// Where `label` sits by `control`: 1 left of it, 2 above, 3 right, 4 below, 0 not beside it; `gap`
// is the distance between them. Only a label within a few dialog units, in line with the control,
// counts.
int labelSide(const ControlLayout& label, const ControlLayout& control, int& gap) {
    constexpr int kNear = 6;
    const Rect l = label.rect;
    const Rect c = visibleRect(control);
    const bool sameRow = l.y < c.y + c.h && c.y < l.y + l.h;
    // A label above or below must span at least half the control: a unit label ("mA") in the row
    // above a slider does not name it.
    const int overlap = std::min(l.x + l.w, c.x + c.w) - std::max(l.x, c.x);
    const bool sameColumn = overlap > 0 && 2 * overlap >= c.w;
    const int sides[] = {
        sameRow ? c.x - (l.x + l.w) : kNear + 1, sameColumn ? c.y - (l.y + l.h) : kNear + 1,
        sameRow ? l.x - (c.x + c.w) : kNear + 1, sameColumn ? l.y - (c.y + c.h) : kNear + 1};
    for (int side = 0; side < 4; ++side) {
        if (sides[side] >= -2 && sides[side] <= kNear) {
            gap = sides[side];
            return side + 1;
        }
    }
    return 0;
}

}  // namespace

std::vector<size_t> templateOrder(const DialogLayout& layout) {
    const size_t n = layout.controls.size();
    // Every (control, label) pairing, the closest first and, at the same distance, left before
    // above, right and below; each label and each control is then taken once, so a label goes to
    // the control it sits closest to rather than one it merely follows in the table.
    struct Pairing {
        int gap;
        int side;
        size_t control;
        size_t label;
    };
    std::vector<Pairing> pairings;
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; needsLabel(layout.controls[i]) && j < n; ++j) {
            int gap = 0;
            const int side = isPlainLabel(layout.controls[j])
                                 ? labelSide(layout.controls[j], layout.controls[i], gap)
                                 : 0;
            if (side != 0) {
                pairings.push_back({std::max(gap, 0), side, i, j});
            }
        }
    }
    std::stable_sort(pairings.begin(), pairings.end(), [](const Pairing& a, const Pairing& b) {
        return a.gap != b.gap ? a.gap < b.gap : a.side < b.side;
    });
    std::vector<size_t> labelOf(n, n);  // control index -> the label that names it
    std::vector<bool> claimed(n, false);
    for (const Pairing& p : pairings) {
        if (labelOf[p.control] == n && !claimed[p.label]) {
            labelOf[p.control] = p.label;
            claimed[p.label] = true;
        }
    }
    // The tab order of the controls stays the table's; only labels move, each right before the
    // control it names.
    std::vector<size_t> order;
    order.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (claimed[i]) {
            continue;
        }
        if (labelOf[i] != n) {
            order.push_back(labelOf[i]);
        }
        order.push_back(i);
    }
    return order;
}

}  // namespace vornic::ui
