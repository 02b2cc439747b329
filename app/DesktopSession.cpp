#include "app/DesktopSession.h"

#include <utility>

#include "app/PortList.h"
#include "ui/MainDialogIds.h"

namespace vornic {

DesktopSession::DesktopSession(TelescopeControlDlgCallback& dialog, const TelescopeControl& control,
                               const platform::PortTable& ports,
                               std::function<ui::ControlModel*()> window, Hooks hooks)
    : dialog_(dialog),
      control_(control),
      ports_(ports),
      window_(std::move(window)),
      hooks_(std::move(hooks)) {}

void DesktopSession::showStatus(StatusCode code) {
    dialog_.showStatus(code);
    const bool ownClose = code == status::kConnectionClosed && readingBack_ && readingBack_();
    if (endsConnection(code) && !ownClose && hooks_.connectionEnded) {
        hooks_.connectionEnded();
    }
    ui::ControlModel* window = window_ ? window_() : nullptr;
    std::string toolTip;
    if (code == status::kCannotOpenPort && window != nullptr) {
        toolTip = openErrorReason(*window);
        if (!toolTip.empty()) {
            window->setText(ui::kIdStatusLine, "Error: " + toolTip);
        }
    }
    if (hooks_.statusToolTip) {
        hooks_.statusToolTip(toolTip);
    }
}

std::string DesktopSession::openErrorReason(const ui::ControlModel& window) const {
    const int item = window.selection(ui::kIdPortList);
    if (item < 0) {
        return {};
    }
    // The list's items count from 0, the ports from 1.
    char path[512];
    if (!ports_.pathFor(static_cast<uint32_t>(item) + 1, path, sizeof path) || path[0] == '\0') {
        return {};
    }
    return describeOpenError(path, control_.lastOpenError());
}

}  // namespace vornic
