#pragma once
// The four small modal dialogs the main dialog opens: Set gear ratio (101), Advanced settings
// (102), Initialize telescope (103) and About (104).
//
// The three editing dialogs work on a record that belongs to the main dialog and change it only
// when the user confirms; they never talk to the controller. A report that reaches the main
// dialog while one of them is open may move the record underneath it, so a dialog compares what
// the user left in its fields with what it showed when it opened, and writes into the record only
// the values the user changed. Each dialog object holds a reference
// to its record for as long as it runs, so no global state is needed. The show functions run a
// dialog through the owner's ControlModel::runModal and return its end result.
//
// Typed text is untrusted: nothing the user types can make a dialog fail. A gear ratio that is not
// a positive whole number, a latitude beyond 90 degrees and a longitude beyond 180 are refused:
// the dialog stays open with the stored value back in the field and a line that says what can be
// given. A latitude or longitude without a single digit keeps the stored angle; a hysteresis that
// is not a number keeps the stored value, and one above 255 is taken as 255.

#include <cstdint>

#include "controller/Contract.h"
#include "ui/ControlModel.h"

namespace vornic::ui {

// RA and DE gear ratios: motor steps per full axis revolution, motor resolution included.
struct GearRatios {
    uint32_t ra = 0;
    uint32_t de = 0;
    bool operator==(const GearRatios&) const = default;
};

inline constexpr int kGearRatioDialogId = 101;
inline constexpr int kAdvancedSettingsDialogId = 102;
inline constexpr int kInitScopeDialogId = 103;
inline constexpr int kAboutDialogId = 104;

// Ids shared by every secondary dialog: the confirming button and the cancelling one.
inline constexpr ControlId kIdOk = 1;
inline constexpr ControlId kIdCancel = 2;

namespace gear_dlg {
inline constexpr ControlId kRaLabel = 1000;
inline constexpr ControlId kRa = 100;
inline constexpr ControlId kDeLabel = 1001;
inline constexpr ControlId kDe = 101;
inline constexpr ControlId kNote = 1002;
inline constexpr ControlId kExamplesLabel = 1003;
inline constexpr ControlId kFirstExample = 1004;  // 1004 .. 1008
inline constexpr int kExampleCount = 5;
}  // namespace gear_dlg

namespace site_dlg {
inline constexpr ControlId kPositionGroup = 1000;
inline constexpr ControlId kLatitudeLabel = 1011;
inline constexpr ControlId kLatitude = 100;
inline constexpr ControlId kLongitudeLabel = 1012;
inline constexpr ControlId kLongitude = 101;
inline constexpr ControlId kMountGroup = 1001;
inline constexpr ControlId kEquatorialGerman = 110;  // mount type 0
inline constexpr ControlId kEquatorialFork = 111;    // mount type 1
inline constexpr ControlId kAltAzimuth = 112;        // mount type 2
inline constexpr ControlId kFlipGroup = 1002;
inline constexpr ControlId kHysteresisLabel = 1030;
inline constexpr ControlId kHysteresis = 120;
inline constexpr ControlId kHysteresisHint = 1031;
// Angle fields are read into a buffer of this size, at most kAngleTextMax characters.
inline constexpr uint32_t kAngleBufferSize = 32;
inline constexpr uint32_t kAngleTextMax = 30;
}  // namespace site_dlg

// "N 47:30:15": the hemisphere letter, a space, then the magnitude as D:MM:SS.
[[nodiscard]] std::string angleText(int32_t angle, const char* positive, const char* negative);

namespace init_dlg {
inline constexpr ControlId kPositionLabel = 1000;
inline constexpr ControlId kPositions = 100;
inline constexpr ControlId kExplanationGroup = 1001;
inline constexpr ControlId kExplanation = 101;
inline constexpr int kPositionCount = 10;
inline constexpr int32_t kFirstPositionCode = 4;  // code = index + 4
}  // namespace init_dlg

namespace about_dlg {
inline constexpr ControlId kTitle = 101;
inline constexpr ControlId kDescription = 102;
inline constexpr ControlId kCredit = 104;
inline constexpr ControlId kLink = 105;
inline constexpr const char* kUrl = "https://vornic.example.org";
}  // namespace about_dlg

// Name and explanation of reference position `index` (0..9); "" for any other index.
[[nodiscard]] const char* initPositionName(int index);
[[nodiscard]] const char* initPositionExplanation(int index);

class GearRatioDialog final : public DialogLogic {
  public:
    explicit GearRatioDialog(GearRatios& record) : record_(record) {}
    [[nodiscard]] int dialogId() const override { return kGearRatioDialogId; }
    void onInit(ControlModel& model) override;
    bool onCommand(ControlModel& model, ControlId id, int notification) override;

  private:
    GearRatios& record_;
    GearRatios shown_;
};

class AdvancedSettingsDialog final : public DialogLogic {
  public:
    explicit AdvancedSettingsDialog(SiteSettings& record) : record_(record) {}
    [[nodiscard]] int dialogId() const override { return kAdvancedSettingsDialogId; }
    void onInit(ControlModel& model) override;
    bool onCommand(ControlModel& model, ControlId id, int notification) override;

  private:
    void confirm(ControlModel& model);
    SiteSettings& record_;
    SiteSettings shown_;
};

class InitScopeDialog final : public DialogLogic {
  public:
    explicit InitScopeDialog(int32_t& code) : code_(code) {}
    [[nodiscard]] int dialogId() const override { return kInitScopeDialogId; }
    void onInit(ControlModel& model) override;
    bool onCommand(ControlModel& model, ControlId id, int notification) override;

  private:
    int32_t& code_;
};

class AboutDialog final : public DialogLogic {
  public:
    [[nodiscard]] int dialogId() const override { return kAboutDialogId; }
    void onInit(ControlModel& model) override;
    bool onCommand(ControlModel& model, ControlId id, int notification) override;
    // The close box ends the About box with 1, like its Exit button.
    void onClose(ControlModel& model) override { model.endDialog(1); }
};

// Each returns the dialog's end result: 1 confirmed, 0 cancelled (About: always 1 when closed).
int showGearRatioDialog(ControlModel& owner, GearRatios& record);
int showAdvancedSettingsDialog(ControlModel& owner, SiteSettings& record);
int showInitScopeDialog(ControlModel& owner, int32_t& code);
int showAboutDialog(ControlModel& owner);

}  // namespace vornic::ui
