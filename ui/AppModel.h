#pragma once
// AppModel: hands controller reports from the worker thread to the UI thread.
//
// The worker calls the TelescopeListener operations; each stores its report in a single mailbox
// under the model lock (last writer wins), releases the lock and then posts a report notification
// (user message 1000, 0) to the current main dialog. On the UI thread the dialog hands the
// notification back to deliverReport(), which copies the mailbox under the lock and calls the
// attached TelescopeControlDlgCallback outside it. The worker never waits for the UI thread.
//
// Shutdown safety: the post goes through the registered UserMessagePoster while the post lock is
// held, and setMainDialog(nullptr) takes the same lock, so once it has returned no post can still
// reach the old dialog, even one that raced with detaching it. The post lock and the model lock are
// never held together.

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "controller/Contract.h"
#include "controller/MountSettings.h"
#include "platform/Threads.h"

namespace vornic::ui {

inline constexpr uint32_t kReportNotification = 1000;
inline constexpr uint32_t kReportNotificationAlt = 1001;

// Something that can post a user message to the UI thread asynchronously (a Qt queued call, a
// Win32 PostMessageW). Must never block on the UI thread.
class UserMessagePoster {
  public:
    virtual void postUserMessage(uint32_t wParam, uint32_t lParam) = 0;
    virtual ~UserMessagePoster() = default;
};

class AppModel final : public TelescopeListener {
  public:
    AppModel() = default;
    ~AppModel() override = default;

    // TelescopeListener (worker thread)
    void onStatus(StatusCode code) override;
    void onSettings(const MountSettings& settings, ReportKind kind) override;
    void onVoltage(uint32_t hundredthsOfVolt) override;

    // UI thread: the main dialog received user message (wParam, lParam). A report notification
    // shows the mailbox; a task notification runs the tasks queued by postTask.
    void deliverReport(uint32_t wParam, uint32_t lParam);

    // Any thread: runs `task` on the UI thread, in the order posted, through the main dialog's
    // message queue. Tasks still queued when the main dialog goes away are dropped unrun, so none
    // can reach into a window that is gone.
    void postTask(std::function<void()> task);

    // UI thread, while no notification is being handled: the dialog that deliverReport calls.
    void attachDialog(TelescopeControlDlgCallback* dialog);
    void detachDialog() { attachDialog(nullptr); }

    // The current main dialog's poster (the process-wide "current main dialog" reference). Setting
    // nullptr waits for a post in flight to finish.
    void setMainDialog(UserMessagePoster* poster);

  private:
    void postToMainDialog(uint32_t wParam, uint32_t lParam);

    platform::Lock lock_;
    uint32_t pendingKind_ = 0;  // 0 none, 1 status, 2 settings, 3 voltage
    uint32_t pendingStatus_ = 0;
    uint32_t pendingValue_ = 0;
    MountSettings pendingSnapshot_;
    MountSettings deliveredSnapshot_;                // UI thread only
    TelescopeControlDlgCallback* dialog_ = nullptr;  // UI thread only

    platform::Lock taskLock_;
    std::vector<std::function<void()>> tasks_;  // under taskLock_

    platform::Lock postLock_;
    UserMessagePoster* mainDialog_ = nullptr;  // under postLock_
};

}  // namespace vornic::ui
