#include "ui/qt/QtFrontEnd.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>

#include "controller/Contract.h"
#include "ui/Layout.h"
#include "ui/MainDialogIds.h"

namespace vornic::ui::qt {

namespace {

const QEvent::Type kUserMessageEvent = static_cast<QEvent::Type>(QEvent::User + 24);

class UserMessageEvent final : public QEvent {
  public:
    UserMessageEvent(uint32_t w, uint32_t l) : QEvent(kUserMessageEvent), wParam(w), lParam(l) {}
    const uint32_t wParam;
    const uint32_t lParam;
};

}  // namespace

void QtFrontEnd::setPortList(std::vector<std::string> labels, std::vector<std::string> toolTips,
                             int selected) {
    portLabels_ = std::move(labels);
    portToolTips_ = std::move(toolTips);
    portSelected_ = selected;
}

void QtFrontEnd::showMessageBox(const char* text, const char* caption) {
    QMessageBox::critical(nullptr, QString::fromUtf8(caption != nullptr ? caption : ""),
                          QString::fromUtf8(text != nullptr ? text : ""));
}

int QtFrontEnd::runMainDialog(DlgConfig& dialog) {
    const DialogLayout* layout = findDialogLayout(kMainDialogId);
    if (layout == nullptr) {
        return 0;
    }
    QtDialog window(*layout, dialog, nullptr);
    window.setHScrollHandler(
        [&dialog](int scrollCode, ControlId slider) { dialog.onHScroll(scrollCode, slider); });
    if (!portLabels_.empty()) {
        window.setItemLabels(kIdPortList, portLabels_, portToolTips_);
        window.setInitHook([this](QtDialog& w) { w.setSelection(kIdPortList, portSelected_); });
    }
    if (shown_) {
        window.setShownHook([this, &dialog](QtDialog& w) { shown_(w, dialog); });
    }
    window_ = &window;
    dialog_ = &dialog;
    {
        std::lock_guard<std::mutex> lock(lock_);
        accepting_ = true;
    }
    const int result = window.exec();

    // The window is gone: nothing more is posted to it, and what is still queued is dropped.
    {
        std::lock_guard<std::mutex> lock(lock_);
        accepting_ = false;
    }
    dialog.windowDestroyed();
    QCoreApplication::removePostedEvents(this, kUserMessageEvent);
    window_ = nullptr;
    dialog_ = nullptr;
    return result;
}

void QtFrontEnd::post(uint32_t wParam, uint32_t lParam) {
    // postEvent is thread-safe and never waits for the UI thread; the lock only orders the post
    // against the end of the modal run.
    std::lock_guard<std::mutex> lock(lock_);
    if (accepting_) {
        QCoreApplication::postEvent(this, new UserMessageEvent(wParam, lParam));
    }
}

void QtFrontEnd::customEvent(QEvent* event) {
    if (event->type() != kUserMessageEvent || dialog_ == nullptr || window_ == nullptr) {
        return;
    }
    const auto* message = static_cast<const UserMessageEvent*>(event);
    if (message->wParam == kLineLostMessage) {
        lineLost_ = true;
        if (onLineLost_) {
            onLineLost_();
        }
        return;
    }
    static_cast<void>(dialog_->onUserMessage(message->wParam, message->lParam));

    if (lineLost_ && window_->text(kIdStatusLine) == statusText(status::kConnectionClosed)) {
        lineLost_ = false;
        window_->setText(kIdStatusLine,
                         "Error: Connection lost: the controller's line went away (cable or "
                         "adapter unplugged?). Connect again when it is back.");
        return;
    }

    // "Cannot open port" alone leaves the user guessing; the reason and what to do follow it.
    if (describeOpenError_ && window_ != nullptr &&
        window_->text(kIdStatusLine) == statusText(status::kCannotOpenPort)) {
        const std::string reason = describeOpenError_();
        if (!reason.empty()) {
            window_->setText(kIdStatusLine, std::string("Error: ") + reason);
            if (QWidget* line = window_->widget(kIdStatusLine)) {
                line->setToolTip(QString::fromStdString(reason));
            }
        }
    } else if (QWidget* line = window_->widget(kIdStatusLine)) {
        line->setToolTip(QString());
    }
}

}  // namespace vornic::ui::qt
