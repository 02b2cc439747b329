#include "ui/AppModel.h"

namespace vornic::ui {

namespace {
constexpr uint32_t kPendingNone = 0;
constexpr uint32_t kPendingStatus = 1;
constexpr uint32_t kPendingSettings = 2;
constexpr uint32_t kPendingVoltage = 3;
}  // namespace

void AppModel::onStatus(StatusCode code) {
    {
        std::lock_guard<platform::Lock> guard(lock_);
        pendingKind_ = kPendingStatus;
        pendingStatus_ = code;
    }
    postToMainDialog(kReportNotification, 0);
}

void AppModel::onSettings(const MountSettings& settings, ReportKind kind) {
    {
        std::lock_guard<platform::Lock> guard(lock_);
        pendingKind_ = kPendingSettings;
        pendingValue_ = kind;
        pendingSnapshot_ = settings;
    }
    postToMainDialog(kReportNotification, 0);
}

void AppModel::onVoltage(uint32_t hundredthsOfVolt) {
    {
        std::lock_guard<platform::Lock> guard(lock_);
        pendingKind_ = kPendingVoltage;
        pendingValue_ = hundredthsOfVolt;
    }
    postToMainDialog(kReportNotification, 0);
}

void AppModel::deliverReport(uint32_t wParam, uint32_t /*lParam*/) {
    if (wParam == kReportNotificationAlt) {
        std::vector<std::function<void()>> tasks;
        {
            std::lock_guard<platform::Lock> guard(taskLock_);
            tasks.swap(tasks_);
        }
        // Without a dialog the window is going: the tasks are dropped, as after setMainDialog.
        if (dialog_ != nullptr) {
            for (auto& task : tasks) {
                task();
            }
        }
        return;
    }
    if (wParam != kReportNotification) {
        return;
    }
    uint32_t kind = kPendingNone;
    uint32_t code = 0;
    uint32_t value = 0;
    {
        std::lock_guard<platform::Lock> guard(lock_);
        kind = pendingKind_;
        code = pendingStatus_;
        value = pendingValue_;
        // The dialog reads only this copy, so a report that arrives while it is being shown
        // cannot change what the dialog is looking at.
        if (kind == kPendingSettings) {
            deliveredSnapshot_ = pendingSnapshot_;
        }
    }
    // The mailbox is not cleared: every notification delivers whatever it holds now.
    if (dialog_ == nullptr) {
        return;
    }
    switch (kind) {
        case kPendingStatus:
            dialog_->showStatus(code);
            break;
        case kPendingSettings:
            dialog_->showSettings(deliveredSnapshot_, value);
            break;
        case kPendingVoltage:
            dialog_->showVoltage(value);
            break;
        default:
            break;
    }
}

void AppModel::attachDialog(TelescopeControlDlgCallback* dialog) {
    dialog_ = dialog;
}

void AppModel::postTask(std::function<void()> task) {
    {
        std::lock_guard<platform::Lock> guard(taskLock_);
        tasks_.push_back(std::move(task));
    }
    postToMainDialog(kReportNotificationAlt, 0);
}

void AppModel::setMainDialog(UserMessagePoster* poster) {
    // Taking the post lock waits for a post that read the old reference to finish with it.
    std::lock_guard<platform::Lock> guard(postLock_);
    mainDialog_ = poster;
}

void AppModel::postToMainDialog(uint32_t wParam, uint32_t lParam) {
    std::lock_guard<platform::Lock> guard(postLock_);
    if (mainDialog_ != nullptr) {
        mainDialog_->postUserMessage(wParam, lParam);
    }
}

}  // namespace vornic::ui
