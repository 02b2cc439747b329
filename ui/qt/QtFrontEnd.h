#pragma once
// QtFrontEnd: the FrontEnd of the desktop program on Qt Widgets.
//
// The main dialog runs modally as a QtDialog on the thread that owns the QApplication (the UI
// thread). The wake-up post is a queued event to this object: post() may be called on any thread,
// never waits for the UI thread and queues one event per report; the UI thread hands each to
// DlgConfig::onUserMessage, which lets AppModel deliver whatever its single mailbox holds then.
// Posts made while no main dialog runs are dropped, and events still queued when it ends are
// removed, as messages to a destroyed window would be.

#include <QObject>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/Application.h"
#include "ui/qt/QtDialog.h"

namespace vornic::ui::qt {

class QtFrontEnd final : public QObject, public FrontEnd, public UiPoster {
  public:
    using Hook = std::function<void(QtDialog& window, DlgConfig& dialog)>;

    QtFrontEnd() = default;

    // The port list shown instead of the logic's port numbers, and the item selected at start.
    void setPortList(std::vector<std::string> labels, std::vector<std::string> toolTips,
                     int selected);
    // Why the port of the last connect could not be opened; shown with the status line's error.
    void setOpenErrorDescriber(std::function<std::string()> describe) {
        describeOpenError_ = std::move(describe);
    }
    // Any thread: the controller's line is gone. The UI thread then runs `onLineLost` (which
    // disconnects) and the "Connection closed" that follows says what happened.
    void lineLost() { post(kLineLostMessage, 0); }
    void setLineLostHandler(std::function<void()> handler) { onLineLost_ = std::move(handler); }
    // Runs once the main window is shown (tests drive the window from here).
    void setShownHook(Hook hook) { shown_ = std::move(hook); }

    // FrontEnd
    [[nodiscard]] bool initCommonControls() override { return true; }
    void showMessageBox(const char* text, const char* caption) override;
    UiPoster& poster() override { return *this; }
    int runMainDialog(DlgConfig& dialog) override;

    // UiPoster (any thread)
    void post(uint32_t wParam, uint32_t lParam) override;

    // The main window while it runs (UI thread), or nullptr.
    [[nodiscard]] QtDialog* mainWindow() const { return window_; }

  protected:
    void customEvent(QEvent* event) override;

  private:
    static constexpr uint32_t kLineLostMessage = 2000;

    std::vector<std::string> portLabels_;
    std::vector<std::string> portToolTips_;
    int portSelected_ = 0;
    std::function<std::string()> describeOpenError_;
    Hook shown_;
    std::function<void()> onLineLost_;
    bool lineLost_ = false;  // UI thread

    QtDialog* window_ = nullptr;   // UI thread
    DlgConfig* dialog_ = nullptr;  // UI thread

    std::mutex lock_;
    bool accepting_ = false;  // under lock_
};

}  // namespace vornic::ui::qt
