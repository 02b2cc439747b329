#include "app/HeartBeat.h"

#include <mutex>
#include <utility>

namespace vornic {

HeartBeat::HeartBeat(std::chrono::milliseconds interval, std::chrono::milliseconds stopTimeout)
    : interval_(interval), stopTimeout_(stopTimeout), slot_(std::make_shared<ListenerSlot>()) {}

HeartBeat::~HeartBeat() {
    if (thread_.held()) {
        // Nobody is left to act on a thread that will not end; it co-owns what it uses.
        static_cast<void>(stop());
    }
}

void HeartBeat::attachListener(iHeartBeatListener* listener) {
    std::lock_guard<platform::Lock> guard(slot_->lock);
    slot_->listener = listener;
}

void HeartBeat::detachListener() {
    std::lock_guard<platform::Lock> guard(slot_->lock);
    slot_->listener = nullptr;
}

void HeartBeat::start() {
    if (thread_.held()) {
        return;
    }
    auto stop = std::make_shared<platform::Event>();
    const std::chrono::milliseconds interval = interval_;
    if (thread_.start([slot = slot_, stop, interval] { run(slot, stop, interval); })) {
        stop_ = std::move(stop);
    }
    // Without a thread no tick comes; the handshake time-outs never run out, which is how a dead
    // heartbeat shows itself. There is nothing better to do at start-up.
}

bool HeartBeat::stop() {
    if (!thread_.held()) {
        return true;
    }
    stop_->set();
    // Called from inside a tick: the thread cannot end while we are on it, so do not wait.
    bool ended = false;
    if (!thread_.isCurrent()) {
        ended = thread_.join(static_cast<uint32_t>(stopTimeout_.count()));
    }
    if (!ended) {
        thread_.detach();
    }
    stop_.reset();
    return ended;
}

void HeartBeat::run(const std::shared_ptr<ListenerSlot>& slot,
                    const std::shared_ptr<platform::Event>& stop,
                    std::chrono::milliseconds interval) {
    while (!stop->wait(static_cast<uint32_t>(interval.count()))) {
        std::lock_guard<platform::Lock> guard(slot->lock);
        if (slot->listener != nullptr) {
            slot->listener->onHeartBeat();
        }
    }
}

}  // namespace vornic
