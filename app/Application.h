#pragma once
// Application: start-up, wiring and shutdown of the four long-lived objects, independent of the
// window toolkit.
//
//   HeartBeat --ticks--> TelescopeControl --reports--> SafetyNet --> AppModel --UI thread-->
//   DlgConfig DlgConfig --commands--> WatchedControl (SafetyNet) --> TelescopeControl
//
// run() creates the objects in that order (HeartBeat, AppModel, TelescopeControl with the
// AppModel as listener, then the dialog), attaches the heartbeat listener and starts its thread,
// registers the dialog with the AppModel (through the DesktopSession, which adds what both windows
// make of the reports), and runs the main dialog modally through the FrontEnd.
// When the dialog has ended it takes everything down so that no thread can call into an object
// that is already gone: first the dialog is detached and unregistered (AppModel then drops any
// report) and destroyed, then the heartbeat is detached and stopped, then TelescopeControl shuts
// down (worker first, then the port), and only then are the heartbeat and the AppModel destroyed.
// The safety net's thread is ended right after the dialog is detached, before anything it drives
// goes; the net itself stays until the TelescopeControl that reports to it is gone.
//
// The FrontEnd supplies the toolkit: the common-control registration, the one start-up message
// box, the modal run and the asynchronous post of user messages to the UI thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/DesktopSession.h"
#include "app/HeartBeat.h"
#include "app/SafetyNet.h"
#include "controller/TelescopeControl.h"
#include "platform/PortTable.h"
#include "platform/SerialPort.h"
#include "ui/AppModel.h"
#include "ui/DlgConfig.h"

namespace vornic {

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;

    // Registers the toolkit's control classes (trackbars); false stops the program.
    [[nodiscard]] virtual bool initCommonControls() = 0;
    // A message box with no owner and a single OK button; returns when it is dismissed.
    virtual void showMessageBox(const char* text, const char* caption) = 0;
    // Where the dialog posts its user messages. Must outlive run().
    virtual ui::UiPoster& poster() = 0;
    // Runs the main dialog modally: onInit, then events, until the dialog has ended. Before it
    // returns the front end calls dialog.windowDestroyed() and drops every message still queued for
    // it. Returns the dialog's end result.
    virtual int runMainDialog(ui::DlgConfig& dialog) = 0;
    // `handler` is for a front end whose system may end the process as soon as it has been told
    // that the session ends (log-off, shutdown): it closes the main dialog as its close box does
    // and then calls `handler`, which takes the link down at once, stopping a running move first.
    // Set before runMainDialog; a front end without such an ending ignores it.
    virtual void setSessionEndHandler(std::function<void()> handler) { static_cast<void>(handler); }
};

struct ApplicationOptions {
    std::chrono::milliseconds heartbeatInterval = HeartBeat::kDefaultInterval;
    // Handed to TelescopeControl (a test may shorten its pauses or give a pipe of its own).
    TelescopeControl::Options controlOptions;
    // Where snapshots go and how long the safety net waits (a test gives a folder of its own).
    SafetyNet::Options safetyNet;
};

class Application {
  public:
    using SerialPortFactory = std::function<std::unique_ptr<platform::SerialPort>()>;

    // `ports` maps the port numbers of a connect to device paths; it must outlive run().
    Application(FrontEnd& frontEnd, SerialPortFactory makePort, const platform::PortTable& ports,
                ApplicationOptions options = {});
    ~Application();

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // What the front end wants to hear of the connection (before run()).
    void setSessionHooks(DesktopSession::Hooks hooks) { sessionHooks_ = std::move(hooks); }

    // Start-up, the modal main dialog and shutdown. Returns 0 in every case. Meant to run once.
    int run();

    // While run() is inside the modal dialog (for the front end and for tests driving it); null
    // otherwise. UI thread only.
    [[nodiscard]] TelescopeControl* telescopeControl() const { return control_.get(); }
    [[nodiscard]] ui::AppModel* appModel() const { return appModel_.get(); }
    [[nodiscard]] HeartBeat* heartBeat() const { return heartBeat_.get(); }
    [[nodiscard]] SafetyNet* safetyNet() const { return net_.get(); }

    // Whether the last shutdown saw the heartbeat thread end within its time-out.
    [[nodiscard]] bool heartBeatStopped() const { return heartBeatStopped_; }

  private:
    void shutdown();

    FrontEnd& frontEnd_;
    SerialPortFactory makePort_;
    const platform::PortTable& ports_;
    ApplicationOptions options_;

    std::unique_ptr<HeartBeat> heartBeat_;
    std::unique_ptr<ui::AppModel> appModel_;
    std::unique_ptr<SafetyNet> net_;
    std::unique_ptr<TelescopeControl> control_;
    std::unique_ptr<ui::DlgConfig> dialog_;
    DesktopSession::Hooks sessionHooks_;
    std::unique_ptr<DesktopSession> session_;
    bool heartBeatStopped_ = true;
};

}  // namespace vornic
