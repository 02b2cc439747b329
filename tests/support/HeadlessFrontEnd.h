#pragma once
// HeadlessFrontEnd: a FrontEnd without a window system, for tests.
//
// The main dialog runs on an InMemoryControlModel; the thread that calls Application::run() is
// the UI thread. Posted user messages go into a fixed ring under a lock (the worker thread never
// waits for the UI thread and nothing is allocated on its path); the script pumps them, which
// hands each one to DlgConfig::onUserMessage on the UI thread, like a message loop.
//
// A full ring drops the new message. That loses nothing: AppModel keeps the latest report in its
// mailbox and every notification delivers whatever the mailbox holds, so one queued notification
// is as good as many.
//
// The script (setScript) plays the user while the dialog runs: it clicks, types and releases
// sliders on the model and pumps messages. When it returns without having closed the dialog, the
// front end closes it through the close box.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/Application.h"
#include "platform/BoundedRing.h"
#include "platform/Threads.h"
#include "support/InMemoryControlModel.h"
#include "ui/DlgConfig.h"

namespace vornic {

class HeadlessFrontEnd final : public FrontEnd, public ui::UiPoster {
  public:
    using Script = std::function<void(HeadlessFrontEnd& frontEnd, ui::InMemoryControlModel& model,
                                      ui::DlgConfig& dialog)>;

    static constexpr size_t kQueueCapacity = 256;

    // `commonControlsOk` false makes initCommonControls fail (the start-up error path).
    explicit HeadlessFrontEnd(bool commonControlsOk = true) : commonControlsOk_(commonControlsOk) {}

    void setScript(Script script) { script_ = std::move(script); }

    // FrontEnd
    [[nodiscard]] bool initCommonControls() override { return commonControlsOk_; }
    void showMessageBox(const char* text, const char* caption) override;
    ui::UiPoster& poster() override { return *this; }
    int runMainDialog(ui::DlgConfig& dialog) override;

    // UiPoster (any thread)
    void post(uint32_t wParam, uint32_t lParam) override;

    // UI thread, inside the script: hands every queued message to the dialog. Returns how many.
    size_t pump();
    // Pumps until `done` holds, waiting for posts in between; false when `timeout` ran out first.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // --- Inspection ---
    struct ShownMessage {
        std::string text;
        std::string caption;
    };
    [[nodiscard]] const std::vector<ShownMessage>& messageBoxes() const { return messageBoxes_; }
    [[nodiscard]] int dialogRuns() const { return dialogRuns_; }
    // Messages posted while no dialog was running (dropped, as a post to a window that is gone).
    [[nodiscard]] size_t droppedPosts() const;
    // Messages dropped because the ring was full.
    [[nodiscard]] size_t overflowedPosts() const;
    // Messages handed to a dialog so far.
    [[nodiscard]] size_t deliveredPosts() const { return delivered_; }

  private:
    bool popMessage(std::pair<uint32_t, uint32_t>& message);

    const bool commonControlsOk_;
    Script script_;
    std::vector<ShownMessage> messageBoxes_;
    int dialogRuns_ = 0;
    size_t delivered_ = 0;
    ui::DlgConfig* running_ = nullptr;  // UI thread only

    mutable platform::Lock lock_;
    platform::Condition posted_;
    bool accepting_ = false;  // under lock_: a dialog is running
    platform::BoundedRing<std::pair<uint32_t, uint32_t>, kQueueCapacity> ring_;  // under lock_
    size_t dropped_ = 0;                                                         // under lock_
    size_t overflowed_ = 0;                                                      // under lock_
};

}  // namespace vornic
