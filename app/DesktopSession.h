#pragma once
// DesktopSession: what both desktop windows make of the link's reports before and after the main
// dialog shows them, so that neither front end decides anything itself.
//
// It stands between AppModel and DlgConfig on the UI thread. Every report goes on to the dialog
// unchanged; then
//  - a status that ends the connection (closed, not opened, timed out, no answer, line lost, a
//    request that did not leave) tells the front end, so its port list lets the port in use go,
//    except a close while the safety net reads back, which opens the same port again at once (the
//    net keeps a sound read-back's close from the window; this holds should one come through);
//  - "Cannot open port" alone leaves the user guessing, so the status line gets the reason and
//    what to do about it, from the port's path and the link's last open error, and the front end
//    may show the reason as the line's tool tip (cleared by every other status).

#include <functional>
#include <string>

#include "controller/Contract.h"
#include "controller/TelescopeControl.h"
#include "platform/PortTable.h"
#include "ui/ControlModel.h"

namespace vornic {

class DesktopSession final : public TelescopeControlDlgCallback {
  public:
    struct Hooks {
        // The connection is over (UI thread).
        std::function<void()> connectionEnded;
        // The status line's tool tip ("" for none).
        std::function<void(const std::string&)> statusToolTip;
    };

    // `window` yields the main dialog's controls while it runs, else null.
    DesktopSession(TelescopeControlDlgCallback& dialog, const TelescopeControl& control,
                   const platform::PortTable& ports, std::function<ui::ControlModel*()> window,
                   Hooks hooks);

    // Whether the port is being closed and opened again to read the controller back, not by the
    // user: the port in use is then not let go.
    void setReadingBack(std::function<bool()> readingBack) {
        readingBack_ = std::move(readingBack);
    }

    void showStatus(StatusCode code) override;
    void showSettings(const MountSettings& settings, ReportKind kind) override {
        dialog_.showSettings(settings, kind);
    }
    void showVoltage(uint32_t hundredthsOfVolt) override { dialog_.showVoltage(hundredthsOfVolt); }

  private:
    // Why the port selected for the last connect could not be opened; "" when unknown.
    [[nodiscard]] std::string openErrorReason(const ui::ControlModel& window) const;

    TelescopeControlDlgCallback& dialog_;
    const TelescopeControl& control_;
    const platform::PortTable& ports_;
    std::function<ui::ControlModel*()> window_;
    Hooks hooks_;
    std::function<bool()> readingBack_;
};

}  // namespace vornic
