#include "app/Application.h"

#include <utility>

namespace vornic {

Application::Application(FrontEnd& frontEnd, SerialPortFactory makePort,
                         const platform::PortTable& ports, ApplicationOptions options)
    : frontEnd_(frontEnd),
      makePort_(std::move(makePort)),
      ports_(ports),
      options_(std::move(options)) {}

Application::~Application() {
    // run() always shuts down before it returns; this only matters if it was left by an exception
    // from the front end.
    shutdown();
}

int Application::run() {
    if (!frontEnd_.initCommonControls()) {
        frontEnd_.showMessageBox("Init Common Controls failed", "Error");
        return 0;
    }

    heartBeat_ = std::make_unique<HeartBeat>(options_.heartbeatInterval);
    appModel_ = std::make_unique<ui::AppModel>();
    std::unique_ptr<platform::SerialPort> port = makePort_ ? makePort_() : nullptr;
    if (!port) {
        port = platform::makeSerialPort();
    }
    net_ = std::make_unique<SafetyNet>(
        *appModel_, *appModel_, [this] { return dialog_ ? dialog_->window() : nullptr; },
        options_.safetyNet);
    control_ = std::make_unique<TelescopeControl>(*net_, std::move(port), ports_,
                                                  std::move(options_.controlOptions));
    net_->attach(*control_);
    heartBeat_->attachListener(control_.get());
    heartBeat_->start();

    dialog_ =
        std::make_unique<ui::DlgConfig>(net_->dialogControl(), *appModel_, frontEnd_.poster());
    dialog_->setSettingsNet(net_.get());
    ui::DlgConfig* dialog = dialog_.get();
    session_ = std::make_unique<DesktopSession>(
        *dialog, *control_, ports_, [dialog] { return dialog->window(); }, sessionHooks_);
    SafetyNet* net = net_.get();
    session_->setReadingBack([net] { return net->readingBack(); });
    appModel_->attachDialog(session_.get());
    appModel_->setMainDialog(dialog_.get());

    // Called on the UI thread inside the dialog; the rest of the shutdown follows as usual once
    // the dialog has returned, if the process lives that long.
    frontEnd_.setSessionEndHandler([this] {
        if (control_) {
            control_->shutdown();
        }
    });
    static_cast<void>(frontEnd_.runMainDialog(*dialog_));
    frontEnd_.setSessionEndHandler(nullptr);

    shutdown();
    return 0;
}

void Application::shutdown() {
    // From here on reports are dropped: setMainDialog(nullptr) also waits for a post in flight.
    if (appModel_) {
        appModel_->detachDialog();
        appModel_->setMainDialog(nullptr);
    }
    if (net_) {
        net_->shutdown();
    }
    session_.reset();
    dialog_.reset();

    if (heartBeat_) {
        heartBeat_->detachListener();
        heartBeatStopped_ = heartBeat_->stop();
    }

    // The worker stops before the port closes, so two threads never use the port at once.
    if (control_) {
        control_->shutdown();
    }
    control_.reset();
    net_.reset();
    heartBeat_.reset();
    appModel_.reset();
}

}  // namespace vornic
