#include "desktop/qt/QtFrontEnd.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include <QMessageBox>

#include "ui/Layout.h"
#include "ui/MainDialogIds.h"

namespace vornic::ui::qt {

QtFrontEnd::QtFrontEnd() {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
        wakeRead_ = fds[0];
        wakeWrite_ = fds[1];
    }
}

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGINT};

// The write end of the self-pipe that carries a termination signal to the UI thread's event loop;
// a signal handler may do no more than write a byte.
std::atomic<int> signalWrite{-1};

void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    static_cast<void>(::write(signalWrite.load(), &byte, 1));
    errno = saved;
}

}  // namespace

void QtFrontEnd::closeOnTerminationSignals() {
    if (signalNotifier_ != nullptr) {
        return;
    }
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        return;
    }
    signalRead_ = fds[0];
    signalWrite.store(fds[1]);
    signalNotifier_ = new QSocketNotifier(signalRead_, QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this] { terminationSignalled(); });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kTerminationSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

void QtFrontEnd::terminationSignalled() {
    char drain[16];
    while (::read(signalRead_, drain, sizeof drain) > 0) {
    }
    // One orderly way out is under way; if it does not come, the next signal ends the program.
    for (int signal : kTerminationSignals) {
        ::signal(signal, SIG_DFL);
    }
    if (window_ != nullptr) {
        window_->window().close();
    } else {
        closeRequested_ = true;
    }
}

QtFrontEnd::~QtFrontEnd() {
    if (signalNotifier_ != nullptr) {
        for (int signal : kTerminationSignals) {
            ::signal(signal, SIG_DFL);
        }
        delete signalNotifier_;
        const int write = signalWrite.exchange(-1);
        ::close(write);
        ::close(signalRead_);
    }
    delete notifier_;
    for (int fd : {wakeRead_, wakeWrite_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

namespace {

// The logic numbers its ports from 1 and its list items from 0.
std::vector<QtDialog::ItemRow> itemRows(const PortList& ports) {
    std::vector<QtDialog::ItemRow> rows;
    for (const PortRow& row : ports.rows()) {
        rows.push_back({static_cast<int>(row.number) - 1, row.label, row.toolTip});
    }
    return rows;
}

uint32_t selectedPort(const QtDialog& window) {
    const int item = window.selection(kIdPortList);
    return item < 0 ? 0 : static_cast<uint32_t>(item) + 1;
}

}  // namespace

void QtFrontEnd::refreshPorts(QtDialog& window) {
    if (ports_ != nullptr && ports_->rescan(selectedPort(window))) {
        window.setItemRows(kIdPortList, itemRows(*ports_));
    }
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
    if (ports_ != nullptr) {
        window.setItemRows(kIdPortList, itemRows(*ports_));
        window.setInitHook([this](QtDialog& w) {
            w.setSelection(kIdPortList, static_cast<int>(ports_->initialNumber()) - 1);
        });
        window.setDropDownHook(kIdPortList, [this, &window] { refreshPorts(window); });
        window.setActivatedHook([this, &window] { refreshPorts(window); });
        window.setCommandHook([this, &window](ControlId id, int) {
            if (id == kIdConnect) {
                ports_->connecting(selectedPort(window));
            }
        });
    }
    if (urlOpener_) {
        window.setUrlOpener(urlOpener_);
    }
    if (shown_) {
        window.setShownHook([this, &dialog](QtDialog& w) { shown_(w, dialog); });
    }
    window.setPaintedHook([this](QtDialog&) {
        for (const std::function<void()>& job : std::exchange(afterFirstPaint_, {})) {
            job();
        }
    });
    if (notifier_ == nullptr && wakeRead_ >= 0) {
        // Made here rather than at construction: it needs the running application's event loop.
        notifier_ = new QSocketNotifier(wakeRead_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { woken(); });
    }
    window_ = &window;
    dialog_ = &dialog;
    {
        std::lock_guard<std::mutex> lock(lock_);
        accepting_ = true;
        ring_.clear();
    }
    // A termination signal that came while the program started leaves nothing to show.
    const int result = closeRequested_ ? 0 : window.exec();

    // The window is gone: nothing more is posted to it, and what is still queued is dropped.
    {
        std::lock_guard<std::mutex> lock(lock_);
        accepting_ = false;
        ring_.clear();
    }
    dialog.windowDestroyed();
    window_ = nullptr;
    dialog_ = nullptr;
    return result;
}

void QtFrontEnd::post(uint32_t wParam, uint32_t lParam) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(lock_);
        if (!accepting_ || !ring_.push({wParam, lParam})) {
            return;
        }
        wake = !wakePending_;
        wakePending_ = true;
    }
    if (wake) {
        const char byte = 1;
        // A full pipe already holds a wake-up; nothing else can go wrong that a retry would fix.
        static_cast<void>(::write(wakeWrite_, &byte, 1));
    }
}

void QtFrontEnd::woken() {
    char drain[64];
    while (::read(wakeRead_, drain, sizeof drain) > 0) {
    }
    {
        std::lock_guard<std::mutex> lock(lock_);
        wakePending_ = false;
    }
    for (;;) {
        std::pair<uint32_t, uint32_t> message;
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (!ring_.pop(message)) {
                return;
            }
        }
        deliver(message.first, message.second);
    }
}

void QtFrontEnd::deliver(uint32_t wParam, uint32_t lParam) {
    if (dialog_ != nullptr) {
        static_cast<void>(dialog_->onUserMessage(wParam, lParam));
    }
}

void QtFrontEnd::setStatusToolTip(const std::string& text) {
    if (window_ == nullptr) {
        return;
    }
    if (QWidget* line = window_->widget(kIdStatusLine)) {
        line->setToolTip(QString::fromStdString(text));
    }
}

}  // namespace vornic::ui::qt
