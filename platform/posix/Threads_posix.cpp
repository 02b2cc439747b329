// Threads, locks and events on the standard library.
//
// A std::thread cannot be joined with a time-out, so the thread reports its own end on a
// condition variable and is joined only once it has ended. The state it reports into is shared
// with the thread, so one left running never touches a freed one.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/Threads.h"

namespace vornic::platform {

void sleepFor(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

struct Lock::State {
    std::recursive_mutex mutex;
};

Lock::Lock() : state_(std::make_unique<State>()) {}
Lock::~Lock() = default;

void Lock::lock() {
    state_->mutex.lock();
}

void Lock::unlock() {
    state_->mutex.unlock();
}

// condition_variable_any takes the Lock itself, which unlocks and locks its recursive mutex once.
struct Condition::State {
    std::condition_variable_any variable;
};

Condition::Condition() : state_(std::make_unique<State>()) {}
Condition::~Condition() = default;

void Condition::wait(Lock& lock, uint32_t timeoutMs) {
    state_->variable.wait_for(lock, std::chrono::milliseconds(timeoutMs));
}

void Condition::notifyAll() {
    state_->variable.notify_all();
}

struct Event::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool set = false;
};

Event::Event() : state_(std::make_unique<State>()) {}
Event::~Event() = default;

void Event::set() {
    {
        std::lock_guard guard(state_->mutex);
        state_->set = true;
    }
    state_->changed.notify_all();
}

void Event::reset() {
    std::lock_guard guard(state_->mutex);
    state_->set = false;
}

bool Event::wait(uint32_t timeoutMs) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [this] { return state_->set; });
}

struct Thread::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
    std::thread thread;
};

Thread::Thread() = default;

Thread::~Thread() {
    detach();
}

bool Thread::start(std::function<void()> body) {
    if (held()) {
        return false;
    }
    auto state = std::make_shared<State>();
    try {
        state->thread = std::thread([state, body = std::move(body)]() mutable {
            body();
            {
                std::lock_guard guard(state->mutex);
                state->ended = true;
            }
            state->changed.notify_all();
        });
    } catch (const std::system_error&) {
        return false;
    }
    state_ = std::move(state);
    return true;
}

bool Thread::join(uint32_t timeoutMs) {
    if (!held()) {
        return true;
    }
    {
        std::unique_lock lock(state_->mutex);
        if (!state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                      [this] { return state_->ended; })) {
            return false;
        }
    }
    // The thread has done its last step; the join only collects it.
    state_->thread.join();
    state_.reset();
    return true;
}

void Thread::detach() {
    if (held()) {
        // Detached before the state can be freed, on whichever thread lets go of it last.
        state_->thread.detach();
        state_.reset();
    }
}

bool Thread::held() const {
    return state_ != nullptr;
}

bool Thread::isCurrent() const {
    return held() && state_->thread.get_id() == std::this_thread::get_id();
}

}  // namespace vornic::platform
