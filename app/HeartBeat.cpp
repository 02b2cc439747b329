#include "app/HeartBeat.h"

#include <system_error>
#include <utility>

namespace vornic {

HeartBeat::HeartBeat(std::chrono::milliseconds interval, std::chrono::milliseconds stopTimeout)
    : interval_(interval), stopTimeout_(stopTimeout), slot_(std::make_shared<ListenerSlot>()) {}

HeartBeat::~HeartBeat() {
    if (thread_.joinable()) {
        // Nobody is left to act on a thread that will not end; it co-owns what it uses.
        static_cast<void>(stop());
    }
}

void HeartBeat::attachListener(iHeartBeatListener* listener) {
    std::lock_guard<std::recursive_mutex> guard(slot_->lock);
    slot_->listener = listener;
}

void HeartBeat::detachListener() {
    std::lock_guard<std::recursive_mutex> guard(slot_->lock);
    slot_->listener = nullptr;
}

void HeartBeat::start() {
    if (thread_.joinable()) {
        return;
    }
    signal_ = std::make_shared<StopSignal>();
    try {
        thread_ = std::thread(&HeartBeat::run, slot_, signal_, interval_);
    } catch (const std::system_error&) {
        // Without a thread no tick comes; the handshake time-outs never run out, which is how a
        // dead heartbeat shows itself. There is nothing better to do at start-up.
        signal_.reset();
    }
}

bool HeartBeat::stop() {
    if (!thread_.joinable()) {
        return true;
    }
    const std::shared_ptr<StopSignal> signal = signal_;
    {
        std::lock_guard<std::mutex> guard(signal->mutex);
        signal->stopRequested = true;
    }
    signal->changed.notify_all();

    // Called from inside a tick: the thread cannot end while we are on it, so do not wait.
    bool ended = false;
    if (thread_.get_id() != std::this_thread::get_id()) {
        std::unique_lock<std::mutex> lock(signal->mutex);
        ended = signal->changed.wait_for(lock, stopTimeout_, [&] { return signal->ended; });
    }
    if (ended) {
        // The thread has done its last step; the join only collects it.
        thread_.join();
    } else {
        thread_.detach();
    }
    signal_.reset();
    return ended;
}

void HeartBeat::run(std::shared_ptr<ListenerSlot> slot, std::shared_ptr<StopSignal> signal,
                    std::chrono::milliseconds interval) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(signal->mutex);
            if (signal->changed.wait_for(lock, interval, [&] { return signal->stopRequested; })) {
                break;
            }
        }
        std::lock_guard<std::recursive_mutex> guard(slot->lock);
        if (slot->listener != nullptr) {
            slot->listener->onHeartBeat();
        }
    }
    {
        std::lock_guard<std::mutex> guard(signal->mutex);
        signal->ended = true;
    }
    signal->changed.notify_all();
}

}  // namespace vornic
