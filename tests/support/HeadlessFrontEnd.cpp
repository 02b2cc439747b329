#include "support/HeadlessFrontEnd.h"

#include <algorithm>

#include "ui/MainDialogIds.h"

namespace vornic {

void HeadlessFrontEnd::showMessageBox(const char* text, const char* caption) {
    messageBoxes_.push_back({text != nullptr ? text : "", caption != nullptr ? caption : ""});
}

int HeadlessFrontEnd::runMainDialog(ui::DlgConfig& dialog) {
    ++dialogRuns_;
    ui::InMemoryControlModel model(ui::kMainDialogId);
    model.setHScrollHandler(
        [&dialog](int scrollCode, ui::ControlId slider) { dialog.onHScroll(scrollCode, slider); });
    {
        std::lock_guard<platform::Lock> lock(lock_);
        accepting_ = true;
        ring_.clear();
    }
    running_ = &dialog;
    model.attach(dialog);

    if (script_) {
        script_(*this, model, dialog);
    }
    if (!model.ended()) {
        model.close();
    }

    // The window is gone: nothing more is posted to it or shown in it, and what is still queued
    // for it is dropped.
    dialog.windowDestroyed();
    running_ = nullptr;
    {
        std::lock_guard<platform::Lock> lock(lock_);
        accepting_ = false;
        ring_.clear();
    }
    return model.endResult();
}

void HeadlessFrontEnd::post(uint32_t wParam, uint32_t lParam) {
    {
        std::lock_guard<platform::Lock> lock(lock_);
        if (!accepting_) {
            ++dropped_;
            return;
        }
        if (!ring_.push({wParam, lParam})) {
            ++overflowed_;
            return;
        }
    }
    posted_.notifyAll();
}

bool HeadlessFrontEnd::popMessage(std::pair<uint32_t, uint32_t>& message) {
    std::lock_guard<platform::Lock> lock(lock_);
    return ring_.pop(message);
}

size_t HeadlessFrontEnd::pump() {
    size_t handled = 0;
    std::pair<uint32_t, uint32_t> message;
    while (running_ != nullptr && popMessage(message)) {
        static_cast<void>(running_->onUserMessage(message.first, message.second));
        ++handled;
        ++delivered_;
    }
    return handled;
}

bool HeadlessFrontEnd::pumpUntil(const std::function<bool()>& done,
                                 std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pump();
        if (done()) {
            return true;
        }
        bool posted = false;
        {
            std::lock_guard<platform::Lock> lock(lock_);
            for (;;) {
                posted = !ring_.empty();
                const auto now = std::chrono::steady_clock::now();
                if (posted || now >= deadline) {
                    break;
                }
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
                posted_.wait(lock_, static_cast<uint32_t>(std::min<int64_t>(
                                        left.count(), platform::kWaitForever - 1)));
            }
        }
        if (!posted) {
            pump();
            return done();
        }
    }
}

size_t HeadlessFrontEnd::droppedPosts() const {
    std::lock_guard<platform::Lock> lock(lock_);
    return dropped_;
}

size_t HeadlessFrontEnd::overflowedPosts() const {
    std::lock_guard<platform::Lock> lock(lock_);
    return overflowed_;
}

}  // namespace vornic
