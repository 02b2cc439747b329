#pragma once
// QtFrontEnd: the FrontEnd of the desktop program on Qt Widgets.
//
// The main dialog runs modally as a QtDialog on the thread that owns the QApplication (the UI
// thread). The wake-up post is the PostMessage of this front end: post() may be called on any
// thread and never waits for the UI thread. It puts the message into a fixed ring under a lock
// (one entry per report; nothing is allocated) and, if the UI thread has not been woken yet,
// writes one byte into a pipe that the UI thread's event loop watches. The UI thread then hands
// every queued message to DlgConfig::onUserMessage, which lets AppModel deliver whatever its single
// mailbox holds. Posts made while no main dialog runs are dropped, and messages still queued when
// it ends are discarded, as messages to a destroyed window would be. A full ring drops the new
// message, which loses nothing: the mailbox keeps the latest report for the queued ones.
//
// The pipe and the standard lock, not a queued Qt event, carry the hand-off so that every step of
// it is visible to the thread sanitizer, which cannot see inside the toolkit's own locks.

#include <QObject>
#include <QSocketNotifier>
#include <array>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/Application.h"
#include "app/PortList.h"
#include "desktop/qt/QtDialog.h"
#include "platform/BoundedRing.h"

namespace vornic::ui::qt {

class QtFrontEnd final : public QObject, public FrontEnd, public UiPoster {
  public:
    using Hook = std::function<void(QtDialog& window, DlgConfig& dialog)>;

    static constexpr size_t kQueueCapacity = 256;

    QtFrontEnd();
    ~QtFrontEnd() override;
    QtFrontEnd(const QtFrontEnd&) = delete;
    QtFrontEnd& operator=(const QtFrontEnd&) = delete;

    // The port list shown instead of the logic's port numbers; it must outlive the main dialog.
    // It is scanned again when the user opens it and when the window becomes active again; the
    // port selected, and the one last connected to, stay in it even when their device is gone.
    void setPortList(PortList& ports) { ports_ = &ports; }
    // Opens the About box's web address instead of the desktop's browser.
    void setUrlOpener(std::function<void(const std::string&)> opener) {
        urlOpener_ = std::move(opener);
    }
    // The status line's tool tip (UI thread; "" clears it).
    void setStatusToolTip(const std::string& text);
    // SIGTERM, SIGHUP, SIGQUIT and SIGINT close the main window as its close box does, so the
    // program ends in order (a hand move is stopped on the way out). A second such signal ends
    // the program at once. Call once, from the UI thread, after the QApplication exists.
    void closeOnTerminationSignals();

    // Runs once the main window is shown (tests drive the window from here).
    void setShownHook(Hook hook) { shown_ = std::move(hook); }
    // Start-up work the window can do without until it is on the screen (its icon, looked up in
    // the desktop's icon theme, costs more than building the window): runs once, right after the
    // main window's first paint. UI thread; call before the window runs.
    void afterFirstPaint(std::function<void()> job) { afterFirstPaint_.push_back(std::move(job)); }

    // FrontEnd
    [[nodiscard]] bool initCommonControls() override { return true; }
    void showMessageBox(const char* text, const char* caption) override;
    UiPoster& poster() override { return *this; }
    int runMainDialog(DlgConfig& dialog) override;

    // UiPoster (any thread)
    void post(uint32_t wParam, uint32_t lParam) override;

    // The main window while it runs (UI thread), or nullptr.
    [[nodiscard]] QtDialog* mainWindow() const { return window_; }

  private:
    PortList* ports_ = nullptr;
    std::function<void(const std::string&)> urlOpener_;
    Hook shown_;
    std::vector<std::function<void()>> afterFirstPaint_;

    QtDialog* window_ = nullptr;   // UI thread
    DlgConfig* dialog_ = nullptr;  // UI thread

    void refreshPorts(QtDialog& window);
    void woken();
    void deliver(uint32_t wParam, uint32_t lParam);

    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    QSocketNotifier* notifier_ = nullptr;

    void terminationSignalled();
    int signalRead_ = -1;
    QSocketNotifier* signalNotifier_ = nullptr;
    bool closeRequested_ = false;  // UI thread: a signal came before the window ran

    std::mutex lock_;
    bool accepting_ = false;    // under lock_
    bool wakePending_ = false;  // under lock_: a byte is in the pipe
    platform::BoundedRing<std::pair<uint32_t, uint32_t>, kQueueCapacity> ring_;  // under lock_
};

}  // namespace vornic::ui::qt
