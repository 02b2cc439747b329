#pragma once
// The dialogs of the main window's "Settings" menu: the preview (105) that every restore and
// compare goes through, and the list of this controller's snapshots (106).
//
// Both are written against SettingsNet, whose answers arrive later, on the UI thread, through
// callbacks. A callback holds only a weak token of the dialog: one that arrives after the dialog
// ended, or after the dialog object is gone, does nothing. While a restore runs the dialog cannot
// be closed, so its outcome is always shown; it is shown in the dialog and handed to `report`,
// which puts it in the main window's status line.
//
// Nothing reaches the controller but through "Restore": the preview itself only reads. "Restore"
// is its own button, not the dialog's default, so Enter never restores; for a file from another
// controller it stays disabled until the user ticks the confirmation. In the snapshots list Enter
// compares the chosen snapshot, which only reads.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/ControlModel.h"
#include "ui/SettingsNet.h"

namespace vornic::ui {

inline constexpr int kPreviewDialogId = 105;
inline constexpr int kSnapshotsDialogId = 106;

namespace preview_dlg {
inline constexpr ControlId kMessage = 1000;
inline constexpr ControlId kWarning = 1001;
inline constexpr ControlId kConfirm = 100;
inline constexpr ControlId kTable = 101;
inline constexpr ControlId kRestore = 102;
// kIdCancel (2): "Cancel", or "Close" where there is nothing to restore.
}  // namespace preview_dlg

namespace snapshots_dlg {
inline constexpr ControlId kMessage = 1000;
inline constexpr ControlId kTable = 100;
inline constexpr ControlId kCompare = 101;
inline constexpr ControlId kRestore = 102;
// kIdCancel (2): "Close".
}  // namespace snapshots_dlg

// The texts the dialogs show in their own words.
namespace settings_text {
inline constexpr const char* kReading = "Reading the controller...";
inline constexpr const char* kNothingDiffers = "Nothing differs";
inline constexpr const char* kRestoring = "Restoring...";
inline constexpr const char* kNothingSent = "Nothing restored: nothing was sent";
// After the count of settings that differ.
inline constexpr const char* kSendsOnlyWhatDiffers =
    "; \"Restore\" sends only what differs and verifies it";
inline constexpr const char* kOnlyCompares = "; nothing is sent, this only compares";
inline constexpr const char* kConfirmOther =
    "Restore these settings although they come from another controller";
}  // namespace settings_text

// Where the outcome of a dialog goes besides the dialog itself (the main status line).
using OutcomeReport = std::function<void(const std::string&)>;

class PreviewDialog final : public DialogLogic {
  public:
    enum class Kind {
        kUndo,     // the snapshot taken at connect; "Restore" and "Cancel"
        kRestore,  // a file; "Restore" and "Cancel"
        kCompare,  // a file, read-only; "Close"
    };

    // `source`: "" for the snapshot taken at connect, else the file.
    PreviewDialog(SettingsNet& net, Kind kind, std::string source, OutcomeReport report);
    ~PreviewDialog() override;
    PreviewDialog(const PreviewDialog&) = delete;
    PreviewDialog& operator=(const PreviewDialog&) = delete;

    [[nodiscard]] int dialogId() const override { return kPreviewDialogId; }
    void onInit(ControlModel& model) override;
    bool onCommand(ControlModel& model, ControlId id, int notification) override;
    void onClose(ControlModel& model) override;

    // The last outcome shown (for the caller's status line), "" while none.
    [[nodiscard]] const std::string& outcome() const { return outcome_; }

  private:
    enum class State { kReading, kReady, kRestoring, kDone };
    void previewed(Preview preview);
    void restored(const RestoreOutcome& outcome);
    void finish(const std::string& message);
    void leave(ControlModel& model);
    [[nodiscard]] bool restorable() const;

    SettingsNet& net_;
    Kind kind_;
    std::string source_;
    OutcomeReport report_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    ControlModel* model_ = nullptr;  // while the dialog runs
    State state_ = State::kReading;
    Preview preview_;
    std::string outcome_;
};

class SnapshotsDialog final : public DialogLogic {
  public:
    SnapshotsDialog(SettingsNet& net, OutcomeReport report);
    ~SnapshotsDialog() override;
    SnapshotsDialog(const SnapshotsDialog&) = delete;
    SnapshotsDialog& operator=(const SnapshotsDialog&) = delete;

    [[nodiscard]] int dialogId() const override { return kSnapshotsDialogId; }
    void onInit(ControlModel& model) override;
    bool onCommand(ControlModel& model, ControlId id, int notification) override;
    void onClose(ControlModel& model) override;

    [[nodiscard]] const std::string& outcome() const { return outcome_; }

  private:
    void list();
    void listed(std::vector<SnapshotEntry> entries);
    void followSelection();
    void open(ControlModel& model, PreviewDialog::Kind kind);

    SettingsNet& net_;
    OutcomeReport report_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    ControlModel* model_ = nullptr;
    std::vector<SnapshotEntry> entries_;
    std::string outcome_;
};

}  // namespace vornic::ui
