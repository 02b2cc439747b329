#include "ui/SettingsDialogs.h"

#include <utility>

#include "ui/SecondaryDialogs.h"

namespace vornic::ui {

namespace {

std::string settingsCount(size_t n) {
    return std::to_string(n) + (n == 1 ? " setting differs" : " settings differ");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Preview

PreviewDialog::PreviewDialog(SettingsNet& net, Kind kind, std::string source, OutcomeReport report)
    : net_(net), kind_(kind), source_(std::move(source)), report_(std::move(report)) {}

PreviewDialog::~PreviewDialog() {
    *alive_ = false;
}

void PreviewDialog::onInit(ControlModel& m) {
    using namespace preview_dlg;
    model_ = &m;
    m.setColumns(kTable,
                 {"Setting", "Controller now", kind_ == Kind::kUndo ? "At connect" : "File"});
    m.setText(kMessage, settings_text::kReading);
    // Shown only for a file from another controller; hidden, its rows go to the table.
    m.setText(kWarning, "");
    m.setVisible(kWarning, false);
    m.setChecked(kConfirm, false);
    m.setVisible(kConfirm, false);
    m.setEnabled(kRestore, false);
    if (kind_ == Kind::kCompare) {
        m.setVisible(kRestore, false);
        m.setText(kIdCancel, "Close");
    }
    state_ = State::kReading;
    // The answer may come at once, from inside this call, or after the dialog is gone.
    std::weak_ptr<bool> alive = alive_;
    net_.preview(source_, [this, alive](Preview p) {
        const auto token = alive.lock();
        if (token && *token) {
            previewed(std::move(p));
        }
    });
}

void PreviewDialog::previewed(Preview p) {
    using namespace preview_dlg;
    if (model_ == nullptr || state_ != State::kReading) {
        return;
    }
    ControlModel& m = *model_;
    preview_ = std::move(p);
    if (!preview_.ok) {
        // Nothing to restore from: only a way out is offered.
        m.setVisible(kRestore, false);
        m.setText(kIdCancel, "Close");
        finish(preview_.error.empty() ? "The preview could not be made" : preview_.error);
        return;
    }
    std::vector<std::vector<std::string>> rows;
    rows.reserve(preview_.rows.size());
    for (const SettingRow& r : preview_.rows) {
        rows.push_back({r.setting, r.now, r.other});
    }
    m.setRows(kTable, rows);
    if (preview_.rows.empty()) {
        m.setVisible(kRestore, false);
        m.setText(kIdCancel, "Close");
        finish(settings_text::kNothingDiffers);
        return;
    }
    state_ = State::kReady;
    // The count, and what "Restore" will do.
    m.setText(kMessage, settingsCount(preview_.rows.size()) +
                            (kind_ == Kind::kCompare ? settings_text::kOnlyCompares
                                                     : settings_text::kSendsOnlyWhatDiffers));
    if (preview_.otherController) {
        m.setText(kWarning, preview_.warning.empty() ? "This file comes from another controller."
                                                     : preview_.warning);
        m.setVisible(kWarning, true);
    }
    if (kind_ == Kind::kCompare) {
        outcome_ = "Compared with the file: " + settingsCount(preview_.rows.size());
        report_(outcome_);
        return;
    }
    m.setVisible(kConfirm, preview_.otherController);
    m.setEnabled(kRestore, restorable());
}

bool PreviewDialog::restorable() const {
    return kind_ != Kind::kCompare && state_ == State::kReady && preview_.ok &&
           !preview_.rows.empty() &&
           (!preview_.otherController ||
            (model_ != nullptr && model_->isChecked(preview_dlg::kConfirm)));
}

void PreviewDialog::finish(const std::string& message) {
    state_ = State::kDone;
    outcome_ = message;
    if (model_ != nullptr) {
        model_->setText(preview_dlg::kMessage, message);
    }
    report_(message);
}

bool PreviewDialog::onCommand(ControlModel& m, ControlId id, int notification) {
    using namespace preview_dlg;
    if (notification != notify::kClicked) {
        return false;
    }
    switch (id) {
        case kConfirm:
            m.setEnabled(kRestore, restorable());
            return true;
        case kRestore: {
            if (!restorable()) {
                return true;
            }
            state_ = State::kRestoring;
            m.setEnabled(kRestore, false);
            m.setEnabled(kConfirm, false);
            m.setEnabled(kIdCancel, false);
            m.setText(kMessage, settings_text::kRestoring);
            std::weak_ptr<bool> alive = alive_;
            net_.restore(preview_, m.isChecked(kConfirm), [this, alive](RestoreOutcome o) {
                const auto token = alive.lock();
                if (token && *token) {
                    restored(o);
                }
            });
            return true;
        }
        case kIdCancel:
            leave(m);
            return true;
        default:
            return false;
    }
}

void PreviewDialog::restored(const RestoreOutcome& o) {
    using namespace preview_dlg;
    if (model_ == nullptr || state_ != State::kRestoring) {
        return;
    }
    model_->setVisible(kRestore, false);
    model_->setText(kIdCancel, "Close");
    model_->setEnabled(kIdCancel, true);
    finish(o.message.empty() ? (o.ok ? "Restored and verified" : "The restore failed") : o.message);
}

void PreviewDialog::onClose(ControlModel& m) {
    leave(m);
}

void PreviewDialog::leave(ControlModel& m) {
    if (state_ == State::kRestoring) {
        return;  // the outcome is on its way and must be seen
    }
    if (kind_ != Kind::kCompare && (state_ == State::kReading || state_ == State::kReady)) {
        outcome_ = settings_text::kNothingSent;
        report_(outcome_);
    }
    model_ = nullptr;
    m.endDialog(0);
}

// ---------------------------------------------------------------------------------------------
// Snapshots

SnapshotsDialog::SnapshotsDialog(SettingsNet& net, OutcomeReport report)
    : net_(net), report_(std::move(report)) {}

SnapshotsDialog::~SnapshotsDialog() {
    *alive_ = false;
}

void SnapshotsDialog::onInit(ControlModel& m) {
    using namespace snapshots_dlg;
    model_ = &m;
    m.setColumns(kTable, {"Date", "Settings that differ"});
    list();
}

void SnapshotsDialog::list() {
    using namespace snapshots_dlg;
    model_->setText(kMessage, "Reading the snapshots...");
    model_->setEnabled(kCompare, false);
    model_->setEnabled(kRestore, false);
    std::weak_ptr<bool> alive = alive_;
    net_.snapshots([this, alive](std::vector<SnapshotEntry> entries) {
        const auto token = alive.lock();
        if (token && *token) {
            listed(std::move(entries));
        }
    });
}

void SnapshotsDialog::listed(std::vector<SnapshotEntry> entries) {
    using namespace snapshots_dlg;
    if (model_ == nullptr) {
        return;
    }
    entries_ = std::move(entries);
    std::vector<std::vector<std::string>> rows;
    rows.reserve(entries_.size());
    for (const SnapshotEntry& e : entries_) {
        rows.push_back({e.date, e.differing < 0 ? "not known" : std::to_string(e.differing)});
    }
    model_->setRows(kTable, rows);
    if (entries_.empty()) {
        model_->setText(kMessage, "No snapshots of this controller yet");
    } else {
        model_->setText(kMessage, "Snapshots of this controller, newest first:");
        model_->setSelection(kTable, 0);
    }
    followSelection();
}

void SnapshotsDialog::followSelection() {
    using namespace snapshots_dlg;
    const int row = model_->selection(kTable);
    const bool chosen = row >= 0 && static_cast<size_t>(row) < entries_.size();
    model_->setEnabled(kCompare, chosen);
    model_->setEnabled(kRestore, chosen);
}

bool SnapshotsDialog::onCommand(ControlModel& m, ControlId id, int notification) {
    using namespace snapshots_dlg;
    if (id == kTable && notification == notify::kSelChange) {
        followSelection();
        return true;
    }
    if (notification != notify::kClicked) {
        return false;
    }
    switch (id) {
        case kIdOk:  // Enter on the list compares, which only reads
        case kCompare:
            open(m, PreviewDialog::Kind::kCompare);
            return true;
        case kRestore:
            open(m, PreviewDialog::Kind::kRestore);
            return true;
        case kIdCancel:
            onClose(m);
            return true;
        default:
            return false;
    }
}

void SnapshotsDialog::open(ControlModel& m, PreviewDialog::Kind kind) {
    const int row = m.selection(snapshots_dlg::kTable);
    if (row < 0 || static_cast<size_t>(row) >= entries_.size()) {
        return;
    }
    PreviewDialog preview(net_, kind, entries_[static_cast<size_t>(row)].path, report_);
    m.runModal(preview);
    if (!preview.outcome().empty()) {
        outcome_ = preview.outcome();
    }
    if (kind == PreviewDialog::Kind::kRestore && model_ != nullptr) {
        list();  // what differs from now has changed
    }
}

void SnapshotsDialog::onClose(ControlModel& m) {
    model_ = nullptr;
    m.endDialog(0);
}

}  // namespace vornic::ui
