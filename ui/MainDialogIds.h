#pragma once
// Control ids of the main dialog (dialog 100). These numbers are the dialog's own and are used by
// its logic, the toolkit layouts and the tests alike.

#include <array>

#include "ui/ControlModel.h"

namespace vornic::ui {

inline constexpr int kMainDialogId = 100;

// Connection row
inline constexpr ControlId kIdPortLabel = 1000;
inline constexpr ControlId kIdPortList = 100;
inline constexpr ControlId kIdBaud115200 = 101;
inline constexpr ControlId kIdConnect = 102;
inline constexpr ControlId kIdDisconnect = 103;
inline constexpr ControlId kIdAbout = 153;
inline constexpr ControlId kIdMeasureVoltage = 106;
inline constexpr ControlId kIdVoltage = 107;

// Status row
inline constexpr ControlId kIdStatusLine = 104;
inline constexpr ControlId kIdIdentityLine = 105;

// Hand pad
inline constexpr ControlId kIdMoveNorth = 111;
inline constexpr ControlId kIdMoveSouth = 112;
inline constexpr ControlId kIdMoveEast = 113;
inline constexpr ControlId kIdMoveWest = 114;
inline constexpr ControlId kIdLabelN = 1001;
inline constexpr ControlId kIdLabelS = 1002;
inline constexpr ControlId kIdLabelW = 1003;
inline constexpr ControlId kIdLabelE = 1004;
inline constexpr ControlId kIdStop = 110;
inline constexpr ControlId kIdSpeed = 115;
inline constexpr ControlId kIdSidereal = 116;
inline constexpr ControlId kIdSidereal2x = 117;
inline constexpr ControlId kIdTrackOn = 118;
inline constexpr ControlId kIdTrackOff = 119;
inline constexpr ControlId kIdExpOn = 120;
inline constexpr ControlId kIdExpOff = 121;
inline constexpr ControlId kIdAdvancedSettings = 123;
inline constexpr ControlId kIdInitScope = 124;
inline constexpr ControlId kIdDefinePark = 125;
inline constexpr ControlId kIdReloadDefaults = 151;
inline constexpr ControlId kIdSaveSettings = 152;

// Gear ratio group
inline constexpr ControlId kIdGearGroup = 1050;
inline constexpr ControlId kIdGearRaLabel = 1051;
inline constexpr ControlId kIdGearDeLabel = 1052;
inline constexpr ControlId kIdGearRa = 171;
inline constexpr ControlId kIdGearDe = 172;
inline constexpr ControlId kIdChangeGearRatio = 180;

// Axis groups: every Dec id is the RA id plus kDecOffset.
inline constexpr ControlId kDecOffset = 100;
inline constexpr ControlId kIdRaGroup = 1100;
inline constexpr ControlId kIdDeGroup = 1200;

inline constexpr ControlId kIdReverseRotationRa = 201;
inline constexpr ControlId kIdReverseGuidingRa = 202;
inline constexpr ControlId kIdReverseLimitsRa = 203;
inline constexpr ControlId kIdMaxSpeedSliderRa = 210;
inline constexpr ControlId kIdMaxSpeedRa = 211;
inline constexpr ControlId kIdAccelSliderRa = 212;
inline constexpr ControlId kIdAccelRa = 213;
inline constexpr ControlId kIdDecelSliderRa = 214;
inline constexpr ControlId kIdDecelRa = 215;
inline constexpr ControlId kIdMaxCurrentRa = 220;
inline constexpr ControlId kIdIdleCurrentRa = 230;
inline constexpr ControlId kIdTrackCurrentRa = 231;
inline constexpr ControlId kIdRunCurrentRa = 232;
inline constexpr ControlId kIdIdleCurrentSliderRa = 233;
inline constexpr ControlId kIdTrackCurrentSliderRa = 234;
inline constexpr ControlId kIdRunCurrentSliderRa = 235;
inline constexpr ControlId kIdIdleDecayRa = 240;
inline constexpr ControlId kIdTrackDecayRa = 241;
inline constexpr ControlId kIdRunDecayRa = 242;
inline constexpr ControlId kIdOvertoneSliderRa = 250;
inline constexpr ControlId kIdOvertoneRa = 251;
inline constexpr ControlId kIdIncCurrentSliderRa = 252;
inline constexpr ControlId kIdIncCurrentRa = 253;
inline constexpr ControlId kIdGuidingRa = 260;

inline constexpr ControlId kIdReverseRotationDe = 301;
inline constexpr ControlId kIdReverseGuidingDe = 302;
inline constexpr ControlId kIdReverseLimitsDe = 303;
inline constexpr ControlId kIdMaxSpeedSliderDe = 310;
inline constexpr ControlId kIdMaxSpeedDe = 311;
inline constexpr ControlId kIdAccelSliderDe = 312;
inline constexpr ControlId kIdAccelDe = 313;
inline constexpr ControlId kIdDecelSliderDe = 314;
inline constexpr ControlId kIdDecelDe = 315;
inline constexpr ControlId kIdMaxCurrentDe = 320;
inline constexpr ControlId kIdIdleCurrentDe = 330;
inline constexpr ControlId kIdTrackCurrentDe = 331;
inline constexpr ControlId kIdRunCurrentDe = 332;
inline constexpr ControlId kIdIdleCurrentSliderDe = 333;
inline constexpr ControlId kIdTrackCurrentSliderDe = 334;
inline constexpr ControlId kIdRunCurrentSliderDe = 335;
inline constexpr ControlId kIdIdleDecayDe = 340;
inline constexpr ControlId kIdTrackDecayDe = 341;
inline constexpr ControlId kIdRunDecayDe = 342;
inline constexpr ControlId kIdOvertoneSliderDe = 350;
inline constexpr ControlId kIdOvertoneDe = 351;
inline constexpr ControlId kIdIncCurrentSliderDe = 352;
inline constexpr ControlId kIdIncCurrentDe = 353;
inline constexpr ControlId kIdGuidingDe = 360;

// The "Not saved into KZ2" mark under "Save settings into KZ2".
inline constexpr ControlId kIdNotSavedMark = 1060;

// The "Settings" menu.
inline constexpr ControlId kIdMenuBackUp = 410;
inline constexpr ControlId kIdMenuRestore = 411;
inline constexpr ControlId kIdMenuCompare = 412;
inline constexpr ControlId kIdMenuUndo = 413;
inline constexpr ControlId kIdMenuSnapshots = 414;

// Axis-group labels and separators (RA; Dec is +100).
inline constexpr ControlId kIdSepRa1 = 1102;
inline constexpr ControlId kIdMaxSpeedLabelRa = 1103;
inline constexpr ControlId kIdAccelLabelRa = 1104;
inline constexpr ControlId kIdDecelLabelRa = 1105;
inline constexpr ControlId kIdSepRa2 = 1106;
inline constexpr ControlId kIdMaxCurrentLabelRa = 1107;
inline constexpr ControlId kIdMaxCurrentUnitRa = 1108;
inline constexpr ControlId kIdIdleLabelRa = 1109;
inline constexpr ControlId kIdTrackLabelRa = 1110;
inline constexpr ControlId kIdRunLabelRa = 1111;
inline constexpr ControlId kIdDecayLabelRa = 1112;
inline constexpr ControlId kIdSepRa3 = 1114;
inline constexpr ControlId kIdOvertoneLabelRa = 1115;
inline constexpr ControlId kIdIncCurrentLabelRa = 1116;
inline constexpr ControlId kIdSepRa4 = 1117;
inline constexpr ControlId kIdGuidingLabelRa = 1118;
inline constexpr ControlId kIdGuidingTick1Ra = 1120;  // "1/16" .. 1124 "1/1"
inline constexpr ControlId kIdSepDe3 = 1213;  // the Dec group's third line is 1213, not 1214

// Ids in the enable list that name no control of this dialog; enabling them does nothing.
inline constexpr ControlId kIdUnusedEnable122 = 122;
inline constexpr ControlId kIdUnusedEnable150 = 150;

// The controls that are enabled while a controller is connected, in the order they are switched.
// "Advanced settings" (123) is not among them: it follows the controller's feature level.
inline constexpr std::array<ControlId, 68> kEnableList = {
    106, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 124, 125, 151,
    150, 152, 180, 201, 202, 203, 210, 211, 212, 213, 214, 215, 220, 230, 231, 232, 233,
    234, 235, 240, 241, 242, 250, 251, 252, 253, 260, 301, 302, 303, 310, 311, 312, 313,
    314, 315, 320, 330, 331, 332, 333, 334, 335, 340, 341, 342, 350, 351, 352, 353, 360};

// The 24 sliders of the axis groups, in the order the dialog records them.
inline constexpr std::array<ControlId, 24> kAxisSliders = {210, 310, 212, 214, 312, 314, 233, 234,
                                                           235, 333, 334, 335, 240, 241, 242, 340,
                                                           341, 342, 250, 350, 252, 352, 260, 360};

}  // namespace vornic::ui
